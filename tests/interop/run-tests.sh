#!/bin/bash
# CTest entry of the interop tests: runs `node --test` here. Without node_modules (npm ci not
# run, as `make test` does through its interop-deps target) the test is skipped with 77.
cd "$(dirname "$0")" || exit 1
if [ ! -d node_modules/node-opcua-client ]; then
  echo "node_modules missing: run 'npm ci' in tests/interop (make interop-deps); skipping"
  exit 77
fi
# Each test has a time-out (the harness bounds every wait as well); a client a failed test left
# open does not keep the run from ending.
exec node --test --test-timeout=120000 --test-force-exit
