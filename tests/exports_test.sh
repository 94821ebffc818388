#!/usr/bin/env bash
# The built provider exports every TSPI/TUISPI entry point of its module
# definition by its plain name and imports system DLLs only.
set -euo pipefail
tsp=$1 def=$2
dump=$(x86_64-w64-mingw32-objdump -p "$tsp")
# The export table's names, one a line (lines "[ordinal] name").
exported=$(sed -nE 's/^\s*\[\s*[0-9]+\] (\S+)$/\1/p' <<<"$dump" | sort -u)
wanted=$(grep -oE '^\s+T(UI)?SPI_[A-Za-z0-9_]+' "$def" | tr -d ' \t' | sort -u)
status=0
for name in $(comm -23 <(echo "$wanted") <(echo "$exported")); do
  echo "missing export: $name"; status=1
done
system='^(KERNEL32|ADVAPI32|USER32|SHELL32|WINHTTP|CRYPT32|IPHLPAPI|WS2_32|PSAPI|VERSION|SHLWAPI|OLE32|COMCTL32|GDI32|msvcrt|api-ms-win-[a-z0-9-]+)\.dll$'
while read -r dll; do
  grep -qiE "$system" <<<"$dll" || { echo "non-system import: $dll"; status=1; }
done < <(sed -n 's/^\s*DLL Name: //p' <<<"$dump")
echo "checked $(wc -l <<<"$wanted") exports"
exit $status
