#!/bin/sh
# Starts (start) or stops (stop) the Wine server that the Windows cases
# share, for the prefix in WINEPREFIX; ZORBEX_WINE and ZORBEX_WINESERVER name
# the programs.
#
# The server is kept running between the cases, so each starts in a fraction
# of a second. Wine starts its own services with the first program it runs
# and keeps them as long as the server runs; they inherit that program's
# standard handles, so the first program is run here, with its handles on a
# log file rather than on a case's pipes. The server ends by itself two
# minutes after its last program if the stop never comes.
set -eu
: "${WINEPREFIX:?}" "${ZORBEX_WINE:?}" "${ZORBEX_WINESERVER:?}"
export WINEPREFIX
export WINEDEBUG=-all
# No downloads of the .NET and HTML engines Wine offers for a new prefix.
export WINEDLLOVERRIDES="mscoree,mshtml="
log="$WINEPREFIX.log"

case "${1:-}" in
start)
    mkdir -p "$WINEPREFIX"
    # A server left by an interrupted run would still hold its old handles.
    "$ZORBEX_WINESERVER" -k >/dev/null 2>&1 || true
    "$ZORBEX_WINESERVER" -w >/dev/null 2>&1 || true
    "$ZORBEX_WINESERVER" -p120 </dev/null >"$log" 2>&1
    if ! "$ZORBEX_WINE" wineboot --init </dev/null >>"$log" 2>&1; then
        cat "$log"
        echo "wineboot failed for $WINEPREFIX"
        exit 1
    fi
    echo "Wine server running for $WINEPREFIX"
    ;;
stop)
    "$ZORBEX_WINESERVER" -k >/dev/null 2>&1 || true
    echo "Wine server stopped for $WINEPREFIX"
    ;;
*)
    echo "usage: wine_fixture.sh start|stop"
    exit 2
    ;;
esac
