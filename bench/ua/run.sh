#!/bin/bash
# The OPC UA benchmarks: OPC-KV7 (real binary, 16 pty panel lines) against a node-opcua
# server serving the same 7,648 variables (compare.js), with security None and then with
# Basic256Sha256 SignAndEncrypt on both, then the plant-scale run against
# an open62541 server and the node-opcua server with live panel traffic (live.js), and
# the start-up of OPC-KV7 (startup.js).
# Usage: bench/ua/run.sh [build-dir] [--write-doc]
# With --write-doc the "OPC UA", "OPC UA secured (...)" and "Plant scale" sections of
# docs/BENCHMARKS.md are replaced by the results. BENCH_QUICK=1: a short smoke run (one repetition, short
# windows), never written to the document.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
root="$(cd "$here/../.." && pwd)"
build="${1:-build}"
if [ -d "$build" ]; then build="$(cd "$build" && pwd)"; else build="$root/$build"; fi
shift || true
for program in opc-kv7 kv7feed; do
  if [ ! -x "$build/bin/$program" ]; then
    echo "bench/ua: $build/bin/$program not built" >&2
    exit 1
  fi
done
if [ ! -d "$root/tests/interop/node_modules/node-opcua-server" ]; then
  (cd "$root/tests/interop" && npm ci --no-audit --no-fund --loglevel=error)
fi
quick=()
doc=()
if [ "${BENCH_QUICK:-0}" = 1 ]; then
  quick=(--quick)
elif [ "${1:-}" = "--write-doc" ]; then
  doc=(--write-doc "$root/docs/BENCHMARKS.md")
fi
export KV7_BIN_DIR="$build/bin" KV7_SOURCE_DIR="$root" QT_QPA_PLATFORM=offscreen
quiet() { grep -v -e 'NODE-OPCUA-W27' -e 'security-revert=CVE'; }

mkdir -p "$build/bench-results"
# The harness's own checks first: a fault in the feed or the accounting would read as the
# servers' doing.
KV7_BIN_DIR="$build/bin" "$root/bench/test.sh" >"$build/bench-results/harness-tests.log" 2>&1 ||
  { cat "$build/bench-results/harness-tests.log" >&2; echo "bench/ua: the harness's tests failed" >&2; exit 1; }

reads="${KV7_UA_READS:-200}"
browses="${KV7_UA_BROWSES:-20}"
runs="${KV7_UA_RUNS:-3}"
if [ ${#quick[@]} -gt 0 ]; then reads=50 browses=5 runs=1; fi
# Every figure of the comparison is the median of $runs runs.
node "$here/compare.js" --reads "$reads" --browses "$browses" --runs "$runs" "${doc[@]}" 2>&1 | quiet
node "$here/compare.js" --security Basic256Sha256:SignAndEncrypt --reads "$reads" --browses "$browses" --runs "$runs" \
  "${doc[@]}" 2>&1 | quiet

# The open62541 peer is built here, not by CMake: it is no part of OPC-KV7.
"$here/open62541.sh" "$build" >/dev/null || echo "bench/ua: the open62541 peer could not be built; it is left out" >&2
node "$here/live.js" --build "$build" --json "$build/bench-results/live.json" "${quick[@]}" "${doc[@]}" 2>&1 | quiet

# Start to GetEndpoints answered: with the certificate made by an earlier start, and the
# very first start that makes it (docs/BENCHMARKS.md, "Start-up").
starts=10
if [ ${#quick[@]} -gt 0 ]; then starts=3; fi
node "$here/startup.js" --build "$build" --starts "$starts" 2>&1 | quiet | tee "$build/bench-results/startup.txt"
