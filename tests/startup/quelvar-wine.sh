#!/bin/sh
# quelvar.exe, beside this script, under Wine, as the tests run the Linux
# program: its arguments, its exit status. A library to preload (the tests'
# recorder) goes to Wine's processes only. Wine's server (WINEPREFIX's) is
# started anew for the run, so that it runs in the run's environment, and
# stopped after it.
if [ -n "${LD_PRELOAD:-}" ]; then
  QUELVAR_PRECARGA=$LD_PRELOAD exec env -u LD_PRELOAD "$0" "$@"
fi
/usr/lib/wine/wineserver -k 2>/dev/null
LD_PRELOAD=${QUELVAR_PRECARGA:-} /usr/lib/wine/wine64 "$(dirname "$0")/quelvar.exe" "$@"
status=$?
/usr/lib/wine/wineserver -k 2>/dev/null
exit $status
