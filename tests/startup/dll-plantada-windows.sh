#!/usr/bin/env bash
# A bcrypt.dll planted beside quelvar.exe, with Wine told to prefer a native
# library as Windows would: the program must not load it (it would leave a
# mark) and must import all the same; a plain load from that folder does
# load it, so the mark would show.
#   dll-plantada-windows.sh BUILD   (the Windows build)
set -euo pipefail
build=$(cd "$1" && pwd)
work=$(mktemp -d)
source "$(dirname "$0")/wine-sin-pantalla.sh"
fail() { echo "dll-plantada-windows: $*" >&2; exit 1; }
export WINEDLLOVERRIDES="bcrypt=n,b"

app="$work/app"
mkdir -p "$app"
cp "$build/quelvar.exe" "$build/tests/bcrypt.dll" "$build/tests/cargar_bcrypt.exe" "$app/"
key=$(cat "$(dirname "$0")/../../tools/clave.sql")
printf '%s\n%s\n' "$key" \
  "CREATE TABLE nomencla (codigo TEXT, actividad TEXT, alicuota REAL);" | sqlcipher "$app/Impuest.mdb" >/dev/null
printf '1\xacUno\xac100\xac\r\n' >"$app/Actividades.txt"

(cd "$app" && "$wine" quelvar.exe >/dev/null 2>&1) || fail "the import failed (status $?)"
[ ! -e "$app/plantada-cargada" ] || fail "quelvar.exe loaded the planted bcrypt.dll"
[ "$(printf '%s\n%s\n' "$key" 'SELECT * FROM nomencla;' | sqlcipher "$app/Impuest.mdb")" = "1|Uno|1.0" ] ||
  fail "the table was not loaded"

(cd "$app" && "$wine" cargar_bcrypt.exe >/dev/null 2>&1) || fail "a plain load found no bcrypt.dll"
[ -e "$app/plantada-cargada" ] || fail "a plain load left no mark: the test cannot tell"
echo "a planted bcrypt.dll: quelvar.exe left it alone and imported; a plain load takes it"
