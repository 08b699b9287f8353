#!/bin/sh
# Runs a cross-built Windows program under Wine, in the prefix named by
# KESTROVA_WINEPREFIX (prepared once with "wineboot -i").
set -e
: "${KESTROVA_WINEPREFIX:?set KESTROVA_WINEPREFIX to a prepared Wine prefix}"
export WINEPREFIX="$KESTROVA_WINEPREFIX"
export WINEDEBUG="${WINEDEBUG:--all}"
exec /usr/lib/wine/wine64 "$@"
