#!/usr/bin/env bash
# Runs a Windows program under Wine in the build's own prefix, quietly, and without leaving a
# wineserver that holds the caller's output open.
#
#   wine-run.sh [--prefix DIR] PROGRAM [ARG...]   run PROGRAM; its exit status is ours
#   wine-run.sh [--prefix DIR] --start            make sure the prefix and its wineserver are up
#   wine-run.sh [--prefix DIR] --stop             end the wineserver and every program under it
#
# The prefix defaults to build/windows/wineprefix. It is made on first use (a few seconds), with
# Wine's audio driver off, so no test talks to ALSA.
#
# Wine's trap: wineserver, and the services Wine starts beside it, inherit the standard output of
# whichever program starts them, and outlive it. Under ctest that output is a pipe, and ctest
# waits for every writer of the pipe to go. So the server and Wine's services are always started
# here first, with their standard streams on /dev/null. The server lingers a minute after its last
# program ends, so a run that stops early (an interrupted ctest) leaves nothing behind for long;
# --stop ends it at once.
set -euo pipefail

prefix="$(cd "$(dirname "$0")/.." && pwd)/build/windows/wineprefix"
if [ "${1-}" = --prefix ]; then
    [ $# -ge 2 ] || { echo "wine-run.sh: --prefix needs a folder" >&2; exit 2; }
    prefix=$2
    shift 2
fi
[ $# -ge 1 ] || { echo "usage: wine-run.sh [--prefix DIR] PROGRAM [ARG...] | --start | --stop" >&2; exit 2; }
case $prefix in /*) ;; *) prefix="$PWD/$prefix" ;; esac

export WINEPREFIX=$prefix WINEARCH=win32 WINEDEBUG=-all
# No Mono or Gecko install prompts, no menu entries written into the home folder.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
linger_s=60

quiet() { "$@" </dev/null >/dev/null 2>&1 9>&-; }

start() {
    mkdir -p "$prefix"
    # One caller at a time sets things up (ctest runs tests side by side). The lock's descriptor
    # is closed for every process started here, or the lingering server would hold the lock.
    exec 9>"$prefix.lock"
    flock 9
    local status=0
    quiet wineserver -p"$linger_s" || status=$?
    case $status in
    0)  # A new server: its first program starts Wine's services, with their output on /dev/null.
        if [ ! -f "$prefix/.vesk-ready" ]; then
            quiet wine wineboot -i
            quiet wine reg add 'HKCU\Software\Wine\Drivers' /v Audio /t REG_SZ /d '' /f
            # Making the prefix started Wine's desktop process on whatever display there was,
            # often none. It would serve every later window while the server lives, showing
            # none of them on a test's own display: end it with the server, and start afresh.
            quiet wineserver -k || true
            quiet wineserver -w || true
            quiet wineserver -p"$linger_s"
            touch "$prefix/.vesk-ready"
        fi
        quiet wine cmd /c exit 0 ;;
    2) ;;  # a server for this prefix is already running
    *) echo "wine-run.sh: wineserver did not start (status $status)" >&2; exit 1 ;;
    esac
    exec 9>&-
}

case $1 in
--start) start ;;
--stop)
    # Ends every program in the prefix, then the server, which saves the registry as it goes.
    if [ -d "$prefix" ]; then quiet wineserver -k || true; fi ;;
*)
    start
    exec wine "$@" ;;
esac
