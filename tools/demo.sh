#!/usr/bin/env bash
# The demo in a Wine prefix of its own, so that its settings never meet the tests'.
set -euo pipefail
BUILD=$(cd "$1" && pwd)
HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
export WINEPREFIX=$BUILD/demoprefix WINEDEBUG=-all
"$HERE/../cmake/wine-start" "$WINEPREFIX"
trap 'WINEPREFIX=$BUILD/demoprefix wineserver -k >/dev/null 2>&1 || true' EXIT
python3 "$HERE/demo.py" "$BUILD"
