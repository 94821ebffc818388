#!/usr/bin/env bash
# The demo: the provider loaded in tapihost, as the telephony service would.
set -euo pipefail
BUILD=$1
cd "$BUILD"
wine tapihost.exe ORVOTSP.TSP
