#!/bin/bash
# CTest entry of the interop tests. Without node_modules (`npm ci`, which `make test` runs as
# interop-deps) it skips with 77; --test-force-exit: a client a failed test left open does not
# keep the run from ending (the harness bounds every wait, each test has a time-out).
cd "$(dirname "$0")" || exit 1
if [ ! -d node_modules/node-opcua-client ]; then
  echo "node_modules missing: run 'npm ci' in tests/interop (make interop-deps); skipping"
  exit 77
fi
exec node --test --test-timeout=120000 --test-force-exit
