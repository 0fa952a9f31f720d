#!/usr/bin/env bash
# An installed application folder, and the archive unpacked in a new folder,
# work as promised: the files are there, the launcher is valid and its
# command runs the import in that folder.
#   instalacion.sh BUILD_DIR
set -euo pipefail
build=$1
top=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() {
  echo "FALLA: $*" >&2
  exit 1
}

# $1: the folder; the launcher there already.
check_folder() {
  local app=$1 f
  for f in quelvar crear-base crear-lanzador Quelvar.desktop; do
    [ -x "$app/$f" ] || fail "$f missing from $app"
  done
  for f in quelvar-dialogos.so quelvar.svg LEAME.txt; do
    [ -f "$app/$f" ] || fail "$f missing from $app"
  done
  grep -q 'Copyright (c) 2008-2024, ZETETIC LLC' "$app/LICENCIAS.txt" || fail "the engine's notice is missing"
  desktop-file-validate "$app/Quelvar.desktop" || fail "invalid launcher"
  [ "$(sed -n 's/^Icon=//p' "$app/Quelvar.desktop")" = "$app/quelvar.svg" ] || fail "the launcher's icon"

  "$app/crear-base" "$app" >/dev/null
  printf '1\xacUno\xac100\xac\r\n' >"$app/Actividades.txt"
  local exec_line status=0
  exec_line=$(sed -n 's/^Exec=//p' "$app/Quelvar.desktop")
  [ "$exec_line" = "\"$app/quelvar\"" ] || fail "Exec=$exec_line"
  (cd / && env -u DISPLAY -u WAYLAND_DISPLAY bash -c "$exec_line" >"$work/out") || status=$?
  [ "$status" -eq 0 ] || fail "the launcher's command ended with $status"
  grep -q '^Cantidad total de registros:  1 ' "$app/Act.log" || fail "no import in $app"
}

app="$work/la oficina"
cmake --install "$build" --prefix "$app" >/dev/null
check_folder "$app"

# The archive: the same files but the launcher, which its maker writes for
# wherever the folder was unpacked.
SOURCE_DATE_EPOCH=1 "$top/tools/paquete" linux "$build" >"$work/paquete"
archive=$(head -n 1 "$work/paquete")
first=$(cat "$archive.sha256")
sleep 1  # a date taken from the clock would differ
SOURCE_DATE_EPOCH=1 "$top/tools/paquete" linux "$build" >"$work/paquete"
[ "$(cat "$archive.sha256")" = "$first" ] || fail "the same build gave another archive"
(cd "$build" && sha256sum -c --quiet "$archive.sha256") || fail "the archive's sum"
mkdir "$work/nueva"
tar -xzf "$archive" -C "$work/nueva"
app=$(echo "$work/nueva"/quelvar-*)
[ ! -e "$app/Quelvar.desktop" ] || fail "the archive holds a launcher for another place"
diff <(cd "$work/la oficina" && ls | grep -v -e Quelvar.desktop -e Impuest.mdb -e Actividades.txt -e Act.log) \
  <(cd "$app" && ls) || fail "the archive and the installed folder differ"
"$app/crear-lanzador" >/dev/null
check_folder "$app"
echo "installed folder and archive: files there, launcher valid, import ran"
