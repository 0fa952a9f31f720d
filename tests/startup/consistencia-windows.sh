#!/usr/bin/env bash
# quelvar.exe under Wine, killed at moments spread across a large import;
# after each kill Debian's sqlcipher shell is the first to open the file, and
# must find it sound, holding the old table or the whole new one. A Windows
# program's journal is then rolled back by another SQLCipher tool.
#   consistencia-windows.sh BUILD [LINES] [KILLS]   (the Windows build)
set -euo pipefail
build=$(cd "$1" && pwd)
lines=${2:-200000}
kills=${3:-10}
work=$(mktemp -d)
source "$(dirname "$0")/wine-sin-pantalla.sh"
fail() { echo "consistencia-windows: $*" >&2; exit 1; }

app="$work/app"
mkdir -p "$app"
cp "$build/quelvar.exe" "$app/"
key=$(cat "$(dirname "$0")/../../tools/clave.sql")
printf '%s\n%s\n' "$key" \
  "CREATE TABLE nomencla (codigo TEXT, actividad TEXT, alicuota REAL);
   CREATE INDEX nomencla_codigo_actividad ON nomencla (codigo, actividad);
   INSERT INTO nomencla VALUES ('viejo', 'fila anterior', 1);" | sqlcipher "$work/antes.mdb" >/dev/null
awk -v n="$lines" 'BEGIN { for (i = 1; i <= n; i++) printf "%06d\254Actividad %d\254%d\254\r\n", (i * 7919) % 1000000, i, i % 5000 }' \
  >"$app/Actividades.txt"
seen() {
  printf '%s\n%s\n' "$key" "PRAGMA integrity_check; SELECT * FROM nomencla ORDER BY rowid;" |
    sqlcipher "$app/Impuest.mdb" | sha256sum
}
restore() {
  rm -f "$app/Impuest.mdb-journal"
  cp "$work/antes.mdb" "$app/Impuest.mdb"
}
run() { (cd "$app" && exec "$wine" quelvar.exe >/dev/null 2>&1); }

restore
old=$(seen)
start=$(date +%s%N)
run || fail "a complete run failed"
duration_ms=$((($(date +%s%N) - start) / 1000000))
new=$(seen)
[ "$new" != "$old" ] || fail "the import changed nothing"

old_count=0
new_count=0
hot=0
for ((k = 1; k <= kills; k++)); do
  restore
  (cd "$app" && exec "$wine" quelvar.exe >/dev/null 2>&1) &
  pid=$!
  # Wine's start takes the first part of a run: the kills spread over the rest.
  sleep "$(echo "$duration_ms * (0.3 + 0.7 * $k / ($kills + 1)) / 1000" | bc -l)"
  kill -9 "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
  # Whatever Wine still runs for the killed program goes too.
  "$wineserver" -k 2>/dev/null || true
  "$wineserver" -w 2>/dev/null || true
  "$wineserver" -p 60 || true
  [ -s "$app/Impuest.mdb-journal" ] && hot=$((hot + 1))
  now=$(seen)
  if [ "$now" = "$old" ]; then
    old_count=$((old_count + 1))
  elif [ "$now" = "$new" ]; then
    new_count=$((new_count + 1))
  else
    fail "kill $k left neither table (integrity: $(printf '%s\n%s\n' "$key" 'PRAGMA integrity_check;' | sqlcipher "$app/Impuest.mdb" 2>&1 | head -3))"
  fi
done
[ "$hot" -gt 0 ] || fail "no kill left a journal to roll back (run: $duration_ms ms)"
echo "Windows program killed under Wine, $lines lines, $kills kills in $duration_ms ms: $hot left a journal; old table $old_count, new table $new_count; the shell found each sound"
