#!/bin/bash
# OPC UA comparison: OPC-KV7 (real binary, 16 pty panel lines) against a node-opcua server
# serving the same 7,648 variables. Usage: bench/ua/run.sh [build-dir] [--write-doc]
# With --write-doc the "OPC UA" section of docs/BENCHMARKS.md is replaced by the results.
# Every figure is the median of KV7_UA_RUNS runs (3 unless set).
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
root="$(cd "$here/../.." && pwd)"
build="${1:-build}"
if [ -d "$build" ]; then build="$(cd "$build" && pwd)"; else build="$root/$build"; fi
shift || true
if [ ! -x "$build/bin/opc-kv7" ]; then
  echo "bench/ua: $build/bin/opc-kv7 not built" >&2
  exit 1
fi
if [ ! -d "$root/tests/interop/node_modules/node-opcua-server" ]; then
  (cd "$root/tests/interop" && npm ci --no-audit --no-fund --loglevel=error)
fi
args=()
if [ "${1:-}" = "--write-doc" ]; then args+=(--write-doc "$root/docs/BENCHMARKS.md"); fi
export KV7_BIN_DIR="$build/bin" KV7_SOURCE_DIR="$root" QT_QPA_PLATFORM=offscreen
node "$here/compare.js" --reads "${KV7_UA_READS:-200}" --browses "${KV7_UA_BROWSES:-20}" --runs "${KV7_UA_RUNS:-3}" \
  "${args[@]}" 2>&1 \
  | grep -v -e 'NODE-OPCUA-W27' -e 'security-revert=CVE'
