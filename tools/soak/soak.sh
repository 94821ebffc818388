#!/usr/bin/env bash
# The soak run in a Wine prefix of its own, so that neither its settings nor
# its load meet the tests' prefix and wineserver.
set -euo pipefail
BUILD=$(cd "$1" && pwd)
HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
export WINEPREFIX=$BUILD/soakprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
"$HERE/../../cmake/wine-start" "$WINEPREFIX"
trap 'wineserver -k >/dev/null 2>&1 || true' EXIT
python3 "$HERE/soak.py" "$BUILD" "${@:2}"
