#!/bin/bash
# CTest entry of the interop tests. Without node_modules (`npm ci`, which `make test` runs as
# interop-deps) it skips with 77. The time-out bounds the whole file, just under CTest's 300 s: a
# loaded machine needs more than two minutes for it. --test-force-exit: a client a failed test
# left open does not keep the run from ending (the harness bounds every wait).
cd "$(dirname "$0")" || exit 1
if [ ! -d node_modules/node-opcua-client ]; then
  echo "node_modules missing: run 'npm ci' in tests/interop (make interop-deps); skipping"
  exit 77
fi
exec node --test --test-timeout=280000 --test-force-exit
