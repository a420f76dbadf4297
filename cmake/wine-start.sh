#!/bin/sh
# Starts Wine for a run of the Windows tests (the setup of the ctest fixture
# "wine", cmake/WineTests.cmake), in the prefix named by WINEPREFIX, creating
# the prefix on the first run.
#   wine-start.sh <wine> <wineserver> <wineboot> <log file>
# Nothing that stays running keeps this script's output: the server and the
# prefix's services write to /dev/null and the log.
set -eu
wine=$1 wineserver=$2 wineboot=$3 log=$4

mkdir -p "$WINEPREFIX"
# A persistent server, so that it outlives each test program. One left
# running by an interrupted run is used as it is.
"$wineserver" -p </dev/null >/dev/null 2>&1 || true
"$wineboot" -i </dev/null >"$log" 2>&1
# A program that crashes ends at once with its exception, instead of
# starting Wine's debugger, which would keep ctest waiting on its output.
"$wine" reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' \
    /v Debugger /t REG_SZ /d '' /f </dev/null >>"$log" 2>&1
