#!/bin/bash
# The benchmark harness's own tests (node --test): the feed's traffic and pacing, the
# subscriber's decoding and the delivery accounting. KV7_BIN_DIR names the build's bin
# folder (default build/bin). They use tests/interop's node_modules: skipped with 77
# (as CTest expects) when those are not installed.
cd "$(dirname "$0")" || exit 1
if [ ! -d ../tests/interop/node_modules/node-opcua-client ]; then
  echo "tests/interop/node_modules missing: run 'make interop-deps'; skipping"
  exit 77
fi
exec node --test ua feed
