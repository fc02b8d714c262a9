#!/usr/bin/env bash
# Runs every benchmark binary of a build: ./bench/run.sh BUILD_DIR [extra benchmark flags]
# A binary is any executable bench_* in BUILD_DIR/bin; each one writes its console
# table and a JSON report to BUILD_DIR/bench-results/<name>.json.
# BENCH_QUICK=1 makes every benchmark a short smoke run; BENCH_WRITE_DOC=1 lets the
# runners that write their results into docs/BENCHMARKS.md do so.
set -euo pipefail
build=${1:?usage: bench/run.sh BUILD_DIR [benchmark flags]}
shift
bin="$build/bin"
out="$build/bench-results"
mkdir -p "$out"
export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}
found=0
status=0
flags=("$@")
if [ "${BENCH_QUICK:-0}" = 1 ]; then flags+=(--benchmark_min_time=0.05); fi
runner_args=()
if [ "${BENCH_WRITE_DOC:-0}" = 1 ]; then runner_args+=(--write-doc); fi
for exe in "$bin"/bench_*; do
  [ -x "$exe" ] && [ -f "$exe" ] || continue
  found=1
  name=$(basename "$exe")
  echo "== $name"
  if ! "$exe" --benchmark_out="$out/$name.json" --benchmark_out_format=json "${flags[@]}"; then
    echo "!! $name failed" >&2
    status=1
  fi
done
# Benchmarks that are not Google Benchmark binaries bring their own runner:
# bench/<name>/run.sh BUILD_DIR [--write-doc].
here=$(cd "$(dirname "$0")" && pwd)
for runner in "$here"/*/run.sh; do
  [ -x "$runner" ] || continue
  found=1
  echo "== $(basename "$(dirname "$runner")")"
  if ! "$runner" "$build" "${runner_args[@]}"; then
    echo "!! $runner failed" >&2
    status=1
  fi
done
if [ "$found" = 0 ]; then
  echo "No benchmark binaries in $bin (is libbenchmark-dev installed? make setup installs it)." >&2
  exit 1
fi
exit $status
