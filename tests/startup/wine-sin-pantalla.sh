# Sourced by the Windows scripts that need no display: Wine in the build's
# prefix (made if missing), no display (a message box returns at once), one
# server kept for the whole script, stopped at its end with the work folder
# removed. Expects $build and $work; sets $wine and $wineserver.
export WINEPREFIX="$build/wine" WINEDEBUG=-all
unset DISPLAY WAYLAND_DISPLAY
wine=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver
if [ ! -d "$WINEPREFIX/drive_c" ]; then "$wine" wineboot -i >/dev/null 2>&1; fi
"$wineserver" -p 60 || true
trap '"$wineserver" -k 2>/dev/null || true; rm -rf "$work"' EXIT
