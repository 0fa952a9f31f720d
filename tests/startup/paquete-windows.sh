#!/usr/bin/env bash
# The Windows archive as a clerk receives it: unpacked into a new folder whose
# files' paths pass 300 characters, an empty database made there with
# crear-base.exe, then quelvar.exe under Wine imports into it. And what
# Windows shows of the programs, read back out of them: only system
# libraries, the icon, the version CMake knows, the manifest.
#   paquete-windows.sh BUILD   (the Windows build)
set -euo pipefail
build=$(cd "$1" && pwd)
top=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d)
source "$(dirname "$0")/wine-sin-pantalla.sh"
fail() { echo "paquete-windows: $*" >&2; exit 1; }

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
"$top/tools/paquete" windows "$build" >"$work/paquete"
archive=$(head -n 1 "$work/paquete")
(cd "$build" && sha256sum -c --quiet "$archive.sha256") || fail "the archive's sum"

# Twelve levels of 23 characters: the folder alone is over 280.
deep="$work"
for i in $(seq -w 1 12); do deep="$deep/carpeta-de-la-oficina-$i"; done
mkdir -p "$deep"
unzip -q "$archive" -d "$deep"
app="$deep/quelvar-$version"
[ "$(cd "$app" && ls | tr '\n' ' ')" = "LEAME.txt LICENCIAS.txt crear-base.exe quelvar.exe " ] ||
  fail "the archive holds: $(cd "$app" && ls | tr '\n' ' ')"
grep -q $'^Copyright (c) 2008-2024, ZETETIC LLC\r$' "$app/LICENCIAS.txt" || fail "the engine's notice"
grep -q 'mingw-w64 project' "$app/LICENCIAS.txt" || fail "the runtime's notices"
grep -q $'^QUELVAR '"$version"$'\r$' "$app/LEAME.txt" || fail "LEAME.txt"

for exe in quelvar crear-base; do
  dlls=$(x86_64-w64-mingw32-objdump -p "$app/$exe.exe" | sed -n 's/^\tDLL Name: //p' | sort | tr '\n' ' ')
  case $exe in
    # Known libraries only, which Windows takes from its own folder (GDI32 for
    # the waiting window's font, ADVAPI32 for the user a change is recorded with).
    quelvar) [ "$dlls" = "ADVAPI32.dll GDI32.dll KERNEL32.dll USER32.dll msvcrt.dll " ] || fail "$exe.exe imports $dlls" ;;
    crear-base) [ "$dlls" = "KERNEL32.dll msvcrt.dll " ] || fail "$exe.exe imports $dlls" ;;
  esac
  x86_64-w64-mingw32-windres -i "$app/$exe.exe" -O rc >"$work/$exe.rc" 2>/dev/null
  for want in "RT_GROUP_ICON" "Has 6 elements" \
    "FILEVERSION ${version//./, }, 0" "PRODUCTVERSION ${version//./, }, 0" \
    "VALUE \"FileVersion\", \"$version\"" "VALUE \"ProductVersion\", \"$version\"" \
    "VALUE \"ProductName\", \"Quelvar\"" "VALUE \"OriginalFilename\", \"$exe.exe\"" \
    "RT_MANIFEST" "Microsoft.Windows.Common-Controls\"\" version=\"\"6.0.0.0" \
    "requestedExecutionLevel level=\"\"asInvoker" "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}" \
    "PerMonitorV2" "longPathAware xmlns=\"\"http://schemas.microsoft.com/SMI/2016/WindowsSettings\"\">true<"; do
    grep -qF "$want" "$work/$exe.rc" || fail "$exe.exe's resources lack: $want"
  done
done

# Windows' own form of the folder, as a clerk would type it.
winpath="Z:$(echo "$app" | tr / '\\')"
(cd "$app" && "$wine" crear-base.exe "$winpath" >"$work/crear.out" 2>/dev/null) || fail "crear-base.exe failed"
[ -f "$app/Impuest.mdb" ] || fail "no database made"
printf '1\xacUno\xac100\xac\r\n2\xacDos\xacdos\xac\r\n' >"$app/Actividades.txt"
status=0
(cd "$app" && exec "$wine" quelvar.exe >/dev/null 2>&1) || status=$?
[ "$status" -eq 0 ] || fail "quelvar.exe ended with $status"
# In the activity file's Windows-1252, with CR LF.
[ "$(iconv -f WINDOWS-1252 -t UTF-8 <"$app/Act.log" | tr -d '\r')" = "Registros erroneos :
2¬Dos¬dos¬

Total de registros que no insertados  1 
Total de registros insertados  1 
Cantidad total de registros:  2 " ] || fail "Act.log: $(cat -A "$app/Act.log")"
echo "Windows archive: unpacked ${#app} characters deep, resources and imports as built, import ran"
