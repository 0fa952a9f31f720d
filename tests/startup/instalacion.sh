#!/usr/bin/env bash
# An installed application folder works as the launcher promises: the
# launcher is valid and its command runs the import in that folder.
#   instalacion.sh BUILD_DIR
set -euo pipefail
build=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() {
  echo "FALLA: $*" >&2
  exit 1
}

app="$work/la oficina"
cmake --install "$build" --prefix "$app" >/dev/null
for f in quelvar crear-base Quelvar.desktop; do
  [ -x "$app/$f" ] || fail "$f missing from the application folder"
done
[ -f "$app/quelvar-dialogos.so" ] || fail "the dialogs module is missing"
grep -q 'Copyright (c) 2008-2024, ZETETIC LLC' "$app/LICENCIAS.txt" || fail "the engine's notice is missing"
desktop-file-validate "$app/Quelvar.desktop" || fail "invalid launcher"

"$app/crear-base" "$app" >/dev/null
printf '1\xacUno\xac100\xac\r\n' >"$app/Actividades.txt"
exec_line=$(sed -n 's/^Exec=//p' "$app/Quelvar.desktop")
[ "$exec_line" = "\"$app/quelvar\"" ] || fail "Exec=$exec_line"
status=0
(cd / && env -u DISPLAY -u WAYLAND_DISPLAY bash -c "$exec_line" >"$work/out") || status=$?
[ "$status" -eq 0 ] || fail "the launcher's command ended with $status"
grep -q '^Cantidad total de registros:  1 ' "$app/Act.log" || fail "no import in the folder"
echo "installed folder: launcher valid, import ran"
