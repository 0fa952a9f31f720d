#!/usr/bin/env bash
# The program under a real X server: each dialog must appear alone, carry the
# right title and give way to the next when Enter is pressed, in the order the
# run sequence sets; a screenshot of each is kept for people to look at.
#   dialogos.sh PROGRAM SCREENSHOT_DIR   (the database tool crear-base beside PROGRAM)
set -euo pipefail
program=$1
shots=$2
crear_base="$(dirname "$program")/crear-base"
mkdir -p "$shots"
work=$(mktemp -d)
source "$(dirname "$0")/ventanas.sh"
start_xvfb

folder() {
  rm -rf "$work/app"
  mkdir -p "$work/app"
  cp "$program" "$work/app/quelvar"
  cp "$(dirname "$program")/quelvar-dialogos.so" "$work/app/"
}

# A normal import.
folder
"$crear_base" "$work/app" >/dev/null
printf '1\xacUno\xac100\xac\r\n2\xacDos\xac200\xac\r\n' >"$work/app/Actividades.txt"
"$work/app/quelvar" >"$work/out" 2>"$work/err" &
pid=$!
answer Quelvar importacion-1-informe
answer Quelvar importacion-2-fin
finish "$pid" 0
grep -q '^Quelvar: Ha terminado el proceso de importación.$' "$work/out" || fail "no closing line"

# Started with standard output and error closed, as some launchers do: the
# display connection must not take their place.
folder
"$crear_base" "$work/app" >/dev/null
printf '1\xacUno\xac100\xac\r\n' >"$work/app/Actividades.txt"
"$work/app/quelvar" >&- 2>&- &
pid=$!
answer Quelvar cerrada-1-informe
answer Quelvar cerrada-2-fin
finish "$pid" 0

# A malformed third line.
folder
"$crear_base" "$work/app" >/dev/null
printf '1\xacUno\xac100\xac\r\n2\xacDos\xac200\xac\r\n3\xacTres\xac300\r\n' >"$work/app/Actividades.txt"
"$work/app/quelvar" >"$work/out" 2>"$work/err" &
pid=$!
answer Error estructura-1-error
answer Quelvar estructura-2-fin
finish "$pid" 3

# No database.
folder
"$work/app/quelvar" >"$work/out" 2>"$work/err" &
pid=$!
answer Quelvar sin-base
finish "$pid" 2
grep -q '^Quelvar: No es posible conectarse a la base.$' "$work/out" || fail "no failure line"

# Another user, in the sqlcipher shell, writing to the base for 4 s: the
# program shows that it waits, the notice goes when the wait ends, and the
# run goes on. Held for good, the notice goes when the program gives up.
# hold SECONDS: for that long, or until the file soltar appears.
hold() {
  rm -f "$work/retenida" "$work/soltar"
  { cat "$(dirname "$0")/../../tools/clave.sql"
    echo "BEGIN IMMEDIATE;"
    echo ".system touch '$work/retenida'"
    for _ in $(seq $(($1 * 20))); do
      [ -e "$work/soltar" ] && break
      sleep 0.05
    done
    echo "COMMIT;"; } | sqlcipher "$work/app/Impuest.mdb" >/dev/null &
  holder=$!
  for _ in $(seq 100); do
    [ -e "$work/retenida" ] && return 0
    sleep 0.1
  done
  fail "the sqlcipher shell never took the lock"
}
folder
"$crear_base" "$work/app" >/dev/null
printf '1\xacUno\xac100\xac\r\n' >"$work/app/Actividades.txt"
hold 4
"$work/app/quelvar" >"$work/out" 2>"$work/err" &
pid=$!
notice Quelvar espera-1-aviso 10
answer Quelvar espera-2-informe
answer Quelvar espera-3-fin
finish "$pid" 0
wait "$holder"
grep -q '^Quelvar: Otro usuario está usando la base. Se espera hasta 20 segundos a que la libere.$' \
  "$work/out" || fail "no waiting line"

hold 30
"$work/app/quelvar" >"$work/out" 2>"$work/err" &
pid=$!
notice Quelvar ocupada-1-aviso 25
answer Quelvar ocupada-2-sin-conexion
finish "$pid" 2
touch "$work/soltar"
wait "$holder"

echo "dialogs: all shown in order; screenshots in $shots"
