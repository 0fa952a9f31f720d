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
xvfb=
cleanup() {
  [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
pid=
fail() {
  echo "FALLA: $*" >&2
  if [ -n "$pid" ]; then
    if kill -0 "$pid" 2>/dev/null; then echo "the program is still running" >&2; fi
    echo "its output:" >&2
    cat "$work/out" "$work/err" >&2 2>/dev/null || true
  fi
  exit 1
}

for n in $(seq 90 190); do
  if [ ! -e "/tmp/.X11-unix/X$n" ] && [ ! -e "/tmp/.X$n-lock" ]; then
    display=":$n"
    break
  fi
done
# -noreset: by default the server resets whenever its last client leaves, and a
# program connecting during that reset is refused.
Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp -noreset >/dev/null 2>&1 &
xvfb=$!
export DISPLAY=$display
for _ in $(seq 100); do
  xdotool getmouselocation >/dev/null 2>&1 && break
  sleep 0.1
done
xdotool getmouselocation >/dev/null 2>&1 || fail "Xvfb did not start on $display"

# Mapped windows that carry a title: the root and GTK's helpers carry none.
visible() { xdotool search --onlyvisible --name '.+' 2>/dev/null || true; }

# Waits for the next dialog, checks it is alone and titled $1, keeps a
# screenshot as $2.png and presses Enter.
answer() {
  local title=$1 shot=$2 windows=
  # Generous: a sanitized build on a loaded machine starts slowly.
  for _ in $(seq 300); do
    windows=$(visible)
    [ -n "$windows" ] && break
    sleep 0.1
  done
  [ -n "$windows" ] || fail "$shot: no dialog appeared within 30 s"
  sleep 0.3  # let it draw, and let any other window show itself
  windows=$(visible)
  [ "$(echo "$windows" | wc -l)" -eq 1 ] || fail "$shot: $(echo "$windows" | wc -l) windows"
  local actual
  actual=$(xdotool getwindowname "$windows")
  [ "$actual" = "$title" ] || fail "$shot: title '$actual', expected '$title'"
  import -window "$windows" "$shots/$shot.png"
  xdotool windowfocus --sync "$windows" key Return
  for _ in $(seq 50); do
    visible | grep -qx "$windows" || return 0
    sleep 0.1
  done
  fail "$shot: the dialog stayed after Enter"
}

# Waits for the program to end; checks its exit status and output lines.
finish() {
  local pid=$1 expected=$2 status=0
  for _ in $(seq 100); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  kill -0 "$pid" 2>/dev/null && fail "the program did not end after its last dialog"
  wait "$pid" || status=$?
  [ "$status" -eq "$expected" ] || fail "exit status $status, expected $expected"
  [ -z "$(visible)" ] || fail "a window is left"
}

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

echo "dialogs: all shown in order; screenshots in $shots"
