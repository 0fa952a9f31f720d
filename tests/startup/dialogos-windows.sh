#!/usr/bin/env bash
# quelvar.exe under Wine, on a real (virtual) X server: each message box must
# appear alone, carry the right title and give way to the next when Enter is
# pressed, in the order of the run; Act.log must hold exactly the expected
# bytes, and the table, read back by Debian's sqlcipher shell, the expected
# rows. The databases are made by that shell, as an office's are.
# A screenshot of each box is kept in BUILD/screenshots.
#   dialogos-windows.sh BUILD   (the Windows build, with quelvar.exe)
set -euo pipefail
build=$(cd "$1" && pwd)
shots="$build/screenshots"
mkdir -p "$shots"
work=$(mktemp -d)
source "$(dirname "$0")/ventanas.sh"

export WINEPREFIX="$build/wine" WINEDEBUG=-all
wine=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver
if [ ! -d "$WINEPREFIX/drive_c" ]; then
  DISPLAY= "$wine" wineboot -i >/dev/null 2>&1
fi
start_xvfb
"$wineserver" -p 60 || true
al_cerrar() { "$wineserver" -k 2>/dev/null; }

key=$(cat "$(dirname "$0")/../../tools/clave.sql")
folder() {
  rm -rf "$work/app"
  mkdir -p "$work/app"
  cp "$build/quelvar.exe" "$work/app/"
}
database() {
  printf '%s\n%s\n' "$key" \
    "CREATE TABLE nomencla (codigo TEXT, actividad TEXT, alicuota REAL);
     CREATE INDEX nomencla_codigo_actividad ON nomencla (codigo, actividad);
     INSERT INTO nomencla VALUES ('viejo', 'fila anterior', 1);" |
    sqlcipher "$work/app/Impuest.mdb" >/dev/null
}
rows() {
  printf '%s\n%s\n' "$key" "PRAGMA integrity_check; SELECT * FROM nomencla;" |
    sqlcipher "$work/app/Impuest.mdb"
}
start() {
  (cd "$work/app" && exec "$wine" quelvar.exe >"$work/out" 2>"$work/err") &
  pid=$!
}

# A normal import: a listed line, accents, the report and the table.
folder
database
printf '1\xacCa\xf1a\xac350\xac\r\n2\xacDos\xacx\xac\r\n' >"$work/app/Actividades.txt"
start
answer Quelvar windows-importacion-1-informe
answer Quelvar windows-importacion-2-fin
finish "$pid" 0
printf 'Registros erroneos :\r\n2\xacDos\xacx\xac\r\n\r\nTotal de registros que no insertados  1 \r\nTotal de registros insertados  1 \r\nCantidad total de registros:  2 \r\n' |
  cmp -s - "$work/app/Act.log" || fail "Act.log: $(od -c "$work/app/Act.log" | head)"
[ "$(rows)" = "$(printf 'ok\n1|Caña|3.5')" ] || fail "table: $(rows)"

# A malformed third line.
folder
database
printf '1\xacUno\xac100\xac\r\n2\xacDos\xac200\xac\r\n3\xacTres\xac300\r\n' >"$work/app/Actividades.txt"
start
answer Error windows-estructura-1-error
answer Quelvar windows-estructura-2-fin
finish "$pid" 3
[ "$(cat "$work/app/Act.log")" = "$(printf 'Registros erroneos :\r')" ] || fail "Act.log after a malformed line"
[ "$(rows)" = "$(printf 'ok\n1|Uno|1.0\n2|Dos|2.0')" ] || fail "table: $(rows)"

# No database.
folder
start
answer Quelvar windows-sin-base
finish "$pid" 2
[ ! -e "$work/app/Impuest.mdb" ] || fail "a database was created"

echo "Windows dialogs under Wine: all shown in order; screenshots in $shots"
