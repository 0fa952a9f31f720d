# Helpers for the tests of real dialogs on a virtual X server, sourced by
# dialogos.sh (GTK, Linux) and dialogos-windows.sh (MessageBoxW, Wine).
# The caller sets: work (a scratch folder), shots (where screenshots go) and
# pid (the program under test, once started), and may define al_cerrar, run
# at the end whatever happens.

xvfb=
pid=
cerrar_ventanas() {
  if declare -F al_cerrar >/dev/null; then al_cerrar || true; fi
  [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null || true
  rm -rf "$work"
}
trap cerrar_ventanas EXIT

fail() {
  echo "FALLA: $*" >&2
  if [ -n "$pid" ]; then
    if kill -0 "$pid" 2>/dev/null; then echo "the program is still running" >&2; fi
    echo "its output:" >&2
    cat "$work/out" "$work/err" >&2 2>/dev/null || true
  fi
  exit 1
}

# Starts Xvfb on a free display and exports DISPLAY.
start_xvfb() {
  local n display=
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
}

# Mapped windows that carry a title: the root and the toolkits' helpers carry none.
visible() { xdotool search --onlyvisible --name '.+' 2>/dev/null || true; }

# Waits for the next window, lets it draw for $3 seconds, checks it is alone
# and titled $1, keeps a screenshot as $2.png, and leaves its id in `window`.
shown() {
  local title=$1 shot=$2 pause=$3 windows=
  # Generous: a sanitized build, or Wine, on a loaded machine starts slowly.
  for _ in $(seq 300); do
    windows=$(visible)
    [ -n "$windows" ] && break
    sleep 0.1
  done
  [ -n "$windows" ] || fail "$shot: no window appeared within 30 s"
  sleep "$pause" # let it draw, and let any other window show itself
  windows=$(visible)
  [ "$(echo "$windows" | wc -l)" -eq 1 ] || fail "$shot: $(echo "$windows" | wc -l) windows"
  local actual
  actual=$(xdotool getwindowname "$windows")
  [ "$actual" = "$title" ] || fail "$shot: title '$actual', expected '$title'"
  import -window "$windows" "$shots/$shot.png"
  window=$windows
}

# Waits for the next dialog, checks it as shown() does and presses Enter.
answer() {
  shown "$1" "$2" 0.3
  xdotool windowfocus --sync "$window" key Return
  for _ in $(seq 50); do
    visible | grep -qx "$window" || return 0
    sleep 0.1
  done
  fail "$2: the dialog stayed after Enter"
}

# Waits for a notice that asks nothing, checks it as shown() does; it must go
# by itself, no key pressed, within $3 seconds; when it went is left in
# notice_gone (milliseconds since the epoch).
notice() {
  shown "$1" "$2" 0.5
  for _ in $(seq $(($3 * 20))); do
    if ! visible | grep -qx "$window"; then
      notice_gone=$(($(date +%s%N) / 1000000))
      return 0
    fi
    sleep 0.05
  done
  fail "$2: the notice stayed past $3 s"
}

# Waits for the program to end; checks its exit status.
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
