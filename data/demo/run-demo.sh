#!/usr/bin/env bash
# The server against three simulated panels: a fresh application folder in
# <build>/demo, kv7sim on three pseudo-terminals mapped as COM1..COM3, and the
# server in the foreground. Ctrl+C ends both.
set -euo pipefail

ROOT="$(cd "$(dirname "$0")/../.." && pwd)"
BUILD="${1:-build}"
case "$BUILD" in /*) ;; *) BUILD="$ROOT/$BUILD" ;; esac
BIN="$BUILD/bin"
DEMO="$BUILD/demo"

for program in opc-kv7 kv7sim; do
  [ -x "$BIN/$program" ] || { echo "run-demo: $BIN/$program is missing; run 'make build' first" >&2; exit 1; }
done

rm -rf "$DEMO"
mkdir -p "$DEMO"
cp "$ROOT/data/demo/OPC-KV7.ini" "$ROOT/data/demo/KV7.ini" "$DEMO/"
cp "$ROOT/data/OPC-KV7.LNG" "$DEMO/OPC-KV7.LNG"

SIM_PID=""
SERVER_PID=""
cleanup() {
  trap - INT TERM EXIT
  [ -n "$SERVER_PID" ] && kill -TERM "$SERVER_PID" 2>/dev/null || true
  [ -n "$SIM_PID" ] && kill -TERM "$SIM_PID" 2>/dev/null || true
  [ -n "$SERVER_PID" ] && wait "$SERVER_PID" 2>/dev/null || true
  [ -n "$SIM_PID" ] && wait "$SIM_PID" 2>/dev/null || true
}
trap cleanup EXIT
trap 'cleanup; exit 130' INT TERM

# The simulator prints one slave path per line, then plays the panels.
PATHS="$DEMO/ptys.txt"
"$BIN/kv7sim" --pty 3 > "$PATHS" 2> "$DEMO/kv7sim.log" &
SIM_PID=$!
for _ in $(seq 1 100); do
  [ "$(grep -c . "$PATHS" 2>/dev/null || true)" -ge 3 ] && break
  kill -0 "$SIM_PID" 2>/dev/null || { echo "run-demo: kv7sim stopped: $(cat "$DEMO/kv7sim.log")" >&2; exit 1; }
  sleep 0.1
done
[ "$(grep -c . "$PATHS")" -ge 3 ] || { echo "run-demo: kv7sim printed no pseudo-terminals" >&2; exit 1; }

# COM1..COM3 of the server are the simulator's three lines.
{
  printf '[Ports]\r\n'
  n=1
  while read -r path; do
    printf 'COM%d=%s\r\n' "$n" "$path"
    echo "run-demo: COM$n is $path" >&2
    n=$((n + 1))
  done < <(head -n 3 "$PATHS")
} >> "$DEMO/OPC-KV7.ini"

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  export QT_QPA_PLATFORM=offscreen
  echo "run-demo: no display, the server runs headless" >&2
fi
echo "run-demo: application folder $DEMO; Ctrl+C stops the server and the simulator" >&2

# In the foreground: the terminal's Ctrl+C reaches the server, which closes
# cleanly (ports closed, placement saved) and exits.
OPC_KV7_HOME="$DEMO" "$BIN/opc-kv7" &
SERVER_PID=$!
status=0
wait "$SERVER_PID" || status=$?
SERVER_PID=""
exit "$status"
