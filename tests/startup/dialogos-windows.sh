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
  cp "$build/quelvar.exe" "$build/tests/otro_usuario.exe" "$work/app/"
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
  (cd "$work/app" && exec "$wine" quelvar.exe "$@" >"$work/out" 2>"$work/err") &
  pid=$!
}

# A normal import: a listed line, accents, the report and the table; run in
# a zone 3 hours behind UTC, which its record's local time shows.
folder
database
printf '1\xacCa\xf1a\xac350\xac\r\n2\xacDos\xacx\xac\r\n' >"$work/app/Actividades.txt"
TZ='<-03>3' start
answer Quelvar windows-importacion-1-informe
answer Quelvar windows-importacion-2-fin
finish "$pid" 0
printf 'Registros erroneos :\r\n2\xacDos\xacx\xac\r\n\r\nTotal de registros que no insertados  1 \r\nTotal de registros insertados  1 \r\nCantidad total de registros:  2 \r\n' |
  cmp -s - "$work/app/Act.log" || fail "Act.log: $(od -c "$work/app/Act.log" | head)"
[ "$(rows)" = "$(printf 'ok\n1|Caña|3.5')" ] || fail "table: $(rows)"

# That import undone, told in a box as the import is: the table as it was,
# Act.log left alone; the record, read from a console and by the shell.
cp "$work/app/Act.log" "$work/Act.log.importado"
start --deshacer
answer Quelvar windows-deshacer-1-hecho
finish "$pid" 0
[ "$(rows)" = "$(printf 'ok\nviejo|fila anterior|1.0')" ] || fail "table after the undo: $(rows)"
cmp -s "$work/Act.log.importado" "$work/app/Act.log" || fail "the undo changed Act.log"
(cd "$work/app" && DISPLAY= timeout 60 "$wine" quelvar.exe --historial >"$work/historial.txt") ||
  fail "--historial failed"
tr -d '\r' <"$work/historial.txt" >"$work/historial.lf"
for line in '  2  .*  deshizo el cambio 1  tabla anterior guardada' \
  '  1  .*  Actividades.txt ([0-9a-f]\{12\})  leídas 2, insertadas 1, no insertadas 1  completa  tabla anterior guardada' \
  'La tabla es la que dejó el cambio 2.'; do
  grep -qx -e "$line" "$work/historial.lf" || fail "--historial lacks '$line': $(cat "$work/historial.lf")"
done
printf '%s\n%s\n' "$key" "PRAGMA integrity_check; SELECT desenlace, deshace, CASE numero WHEN 1 THEN
  cuando_local = datetime(cuando_utc, '-3 hours') || ' -03:00' END FROM importaciones ORDER BY numero;" |
  sqlcipher "$work/app/Impuest.mdb" | tr '\n' ' ' | grep -qx 'ok completa||1 deshecha|1| ' ||
  fail "the record, as the shell reads it"

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

# Another user, a Windows program too (Wine's locks meet only Wine's), holding
# the base: a write for 5 s is waited out, the notice shown and gone before
# the run goes on; a read for 5 s holds only the commit; a write or a read
# held past the 20 s wait ends the run, the table as it was.
hold() {
  rm -f "$work/app/retenida"
  (cd "$work/app" && exec "$wine" otro_usuario.exe Impuest.mdb retenida "$1" "$2" \
    >"$work/otro" 2>&1) &
  holder=$!
  for _ in $(seq 300); do
    [ -e "$work/app/retenida" ] && return 0
    sleep 0.1
  done
  fail "the other user never took the lock: $(cat "$work/otro")"
}
# From the program's start to the notice's end, Wine's start included, and
# the 2 s Wine takes to withdraw any window (a message box too) where, as
# under Xvfb, no window manager answers.
timed_finish() {
  finish "$1" "$2"
  local waited=$((notice_gone - started))
  [ "$waited" -le "$3" ] || fail "waited $waited ms, more than $3 ms"
  echo "  $4: waited until $waited ms after the start"
}
# The program started on a one-line file with another user holding the base
# for $1 ms ($2: escritura or lectura); $started is when.
start_held() {
  folder
  database
  printf '1\xacUno\xac100\xac\r\n' >"$work/app/Actividades.txt"
  hold "$1" "$2"
  started=$(($(date +%s%N) / 1000000))
  start
}
for mode in escritura lectura; do
  start_held 5000 "$mode"
  notice Quelvar "windows-espera-$mode-1-aviso" 10
  answer Quelvar "windows-espera-$mode-2-informe"
  answer Quelvar "windows-espera-$mode-3-fin"
  timed_finish "$pid" 0 9500 "$mode held 5 s"
  wait "$holder" || fail "the other user failed: $(cat "$work/otro")"
  [ "$(rows)" = "$(printf "ok\n1|Uno|1.0")" ] || fail "table after a $mode of 5 s: $(rows)"
done

# Held past the wait: a write is a failed connection (no Act.log), a read
# fails the commit; the table as it was either way.
for mode in escritura lectura; do
  start_held 40000 "$mode"
  notice Quelvar "windows-ocupada-$mode-1-aviso" 25
  if [ "$mode" = escritura ]; then
    answer Quelvar windows-ocupada-escritura-2-sin-conexion
    timed_finish "$pid" 2 25000 "write held past the wait"
    [ ! -e "$work/app/Act.log" ] || fail "Act.log written while another user wrote"
  else
    answer Quelvar windows-ocupada-lectura-2-error
    timed_finish "$pid" 1 25000 "read held past the wait"
  fi
  kill "$holder" 2>/dev/null || true
  "$wineserver" -k 2>/dev/null || true
  "$wineserver" -w 2>/dev/null || true
  "$wineserver" -p 60 || true
  [ "$(rows)" = "$(printf 'ok\nviejo|fila anterior|1.0')" ] || fail "table after a held $mode: $(rows)"
done

# A check from a console, its output redirected to a file: the run's verdicts
# as UTF-8 text with CR LF, accents and "¬" right; no box (one would wait for
# a click), nothing in the folder changed. --help likewise.
folder
database
printf '1\xacCa\xf1a\xac350\xac\r\n2\xacDos\xacx\xac\r\n' >"$work/app/Actividades.txt"
listing() { (cd "$work/app" && ls -l --time-style=full-iso && sha256sum Impuest.mdb); }
before=$(listing)
status=0
(cd "$work/app" && timeout 60 "$wine" quelvar.exe --comprobar >"$work/comprobacion.txt" 2>"$work/err") ||
  status=$?
[ "$status" -eq 0 ] || fail "check: exit status $status"
[ "$(listing)" = "$before" ] || fail "the check changed the folder"
tr -d '\r' <"$work/comprobacion.txt" >"$work/comprobacion.lf"
for line in '  Quelvar: Ha terminado el proceso de importación.' '  2¬Dos¬x¬' 'Actividades nuevas: 1' \
  '  línea 2: la alícuota no es un número (separador decimal: "."): 2¬Dos¬x¬' \
  '+ 1 | Caña | 3.5' '- viejo | fila anterior | 1.0' 'Resultado: la importación terminaría (estado 0).'; do
  grep -qxF -e "$line" "$work/comprobacion.lf" || fail "check output lacks '$line': $(cat "$work/comprobacion.lf")"
done
[ "$(grep -c $'\r$' "$work/comprobacion.txt")" -eq "$(wc -l <"$work/comprobacion.txt")" ] ||
  fail "check output lines without CR LF"
(cd "$work/app" && timeout 60 "$wine" quelvar.exe --help >"$work/ayuda.txt") || fail "--help failed"
grep -q 'quelvar --comprobar \[ARCHIVO\]' "$work/ayuda.txt" || fail "--help: $(cat "$work/ayuda.txt")"
echo "  a check, its output redirected: $(wc -l <"$work/comprobacion.txt") lines, the folder unchanged"

# At the edges, with no display (each box returns at once): a byte of
# Windows-1252 in a UTF-8 file fails only its own line; a name planted where
# the report's new file once went blocks nothing; a run that leaves the table
# as it was leaves the report that describes it; a folder as the report
# fails the check as it fails the run.
quiet() {
  status=0
  (cd "$work/app" && DISPLAY= timeout 60 "$wine" quelvar.exe "$@" >"$work/out" 2>"$work/err") ||
    status=$?
}
folder
database
printf '\xef\xbb\xbf1\xc2\xacUno\xc2\xac100\xc2\xac\r\n2\xc2\xacMa\xedz\xc2\xac200\xc2\xac\r\n' \
  >"$work/app/Actividades.txt"
mkdir "$work/app/.Act.log.nuevo"
quiet
[ "$status" -eq 0 ] || fail "a pasted byte: exit status $status"
printf '\xef\xbb\xbfRegistros erroneos :\r\n2\xc2\xacMa\xedz\xc2\xac200\xc2\xac\r\n\r\nTotal de registros que no insertados  1 \r\nTotal de registros insertados  1 \r\nCantidad total de registros:  2 \r\n' |
  cmp -s - "$work/app/Act.log" || fail "Act.log of a pasted byte: $(od -c "$work/app/Act.log" | head)"
[ "$(rows)" = "$(printf 'ok\n1|Uno|1.0')" ] || fail "table after a pasted byte: $(rows)"
cp "$work/app/Act.log" "$work/Act.log.antes"
printf '%s\n%s\n' "$key" "CREATE TRIGGER anular BEFORE INSERT ON nomencla WHEN NEW.codigo = 'X'
  BEGIN SELECT RAISE(ROLLBACK, 'no'); END;" | sqlcipher "$work/app/Impuest.mdb" >/dev/null
printf '2\xacDos\xac200\xac\r\nX\xacEquis\xac100\xac\r\n' >"$work/app/Actividades.txt"
quiet
[ "$status" -eq 1 ] || fail "a rolled back run: exit status $status"
cmp -s "$work/Act.log.antes" "$work/app/Act.log" || fail "a rolled back run changed Act.log"
[ -z "$(cd "$work/app" && ls -A | grep '^\.Act\.log\.' | grep -vx '\.Act\.log\.nuevo')" ] ||
  fail "a new report was left: $(ls -A "$work/app")"
rm "$work/app/Act.log"
mkdir "$work/app/Act.log"
quiet --comprobar
[ "$status" -eq 1 ] || fail "a check with a folder as Act.log: exit status $status"
grep -q 'Error 75: Error de acceso a la ruta o el archivo: .*Act.log' "$work/out" ||
  fail "the check did not meet the run's failure: $(cat "$work/out")"
echo "  at the edges: a pasted byte, a planted name, a rolled back run, a folder as Act.log"

echo "Windows dialogs under Wine: all shown in order; screenshots in $shots"
