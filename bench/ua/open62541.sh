#!/usr/bin/env bash
# Builds the open62541 benchmark peer in BUILD_DIR/open62541/ and prints its path:
# the stack from the release tarball in the shared vendor folder (one amalgamated
# source file, single-threaded like OPC-KV7, warnings-only logging), compiled at -O2
# like OPC-KV7's default build, with bench/ua/open62541-peer.c. Nothing of it enters
# the repository or OPC-KV7. Usage: bench/ua/open62541.sh BUILD_DIR
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
root="$(cd "$here/../.." && pwd)"
build="$(cd "${1:?usage: bench/ua/open62541.sh BUILD_DIR}" && pwd)"
version=1.5.7
tarball="${KV7_OPEN62541_TARBALL:-}"
if [ -z "$tarball" ]; then
  # CI lays shared/ beside the clone; a developer's work tree sits beside it too.
  for candidate in "$root/../shared/vendor" /work/shared/vendor; do
    [ -f "$candidate/open62541-$version.tar.gz" ] && tarball="$candidate/open62541-$version.tar.gz" && break
  done
fi
if [ ! -f "$tarball" ]; then
  echo "open62541.sh: open62541-$version.tar.gz not found (set KV7_OPEN62541_TARBALL)" >&2
  exit 1
fi

dir="$build/open62541"
src="$dir/open62541-$version"
stack="$dir/stack"
mkdir -p "$dir"
if [ ! -f "$stack/open62541.c" ]; then
  rm -rf "$src" "$stack"
  tar -xzf "$tarball" -C "$dir"
  cmake -S "$src" -B "$stack" -G Ninja -DCMAKE_BUILD_TYPE=Release -DUA_ENABLE_AMALGAMATION=ON \
    -DUA_MULTITHREADING=0 -DUA_LOGLEVEL=400 -DUA_BUILD_EXAMPLES=OFF >"$dir/configure.log" 2>&1 ||
    { cat "$dir/configure.log" >&2; exit 1; }
  cmake --build "$stack" --target open62541-amalgamation >"$dir/amalgamation.log" 2>&1 ||
    { cat "$dir/amalgamation.log" >&2; exit 1; }
fi
flags=(-O2 -DNDEBUG -std=c11 -I"$stack")
if [ ! -f "$dir/open62541.o" ] || [ "$stack/open62541.c" -nt "$dir/open62541.o" ]; then
  echo "open62541.sh: compiling open62541 $version (a minute or two)" >&2
  cc "${flags[@]}" -c "$stack/open62541.c" -o "$dir/open62541.o"
fi
peer="$dir/open62541-peer"
if [ ! -x "$peer" ] || [ "$here/open62541-peer.c" -nt "$peer" ] || [ "$dir/open62541.o" -nt "$peer" ]; then
  cc "${flags[@]}" -Wall -Wextra -Werror "$here/open62541-peer.c" "$dir/open62541.o" -o "$peer" -lm
fi
echo "$peer"
