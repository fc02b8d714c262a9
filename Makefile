# OPC-KV7: build, test, demo and benchmarks. `make demo` and `make test` are all a
# fresh machine needs.
SHELL := /bin/bash
BUILD ?= build
JOBS ?= $(shell nproc)
SUDO := $(shell [ "$$(id -u)" = 0 ] || echo sudo)

APT_PACKAGES := build-essential cmake ninja-build pkg-config qt6-base-dev qt6-base-dev-tools \
	qt6-serialport-dev libgl-dev libgtest-dev libgmock-dev libbenchmark-dev clang libclang-rt-14-dev \
	nodejs npm fonts-dejavu-core xauth

.PHONY: setup build test demo bench fuzz clean interop-deps

setup:
	@missing=""; for p in $(APT_PACKAGES); do dpkg -s $$p >/dev/null 2>&1 || { [ $$p = npm ] && command -v npm >/dev/null; } || missing="$$missing $$p"; done; \
	if [ -n "$$missing" ]; then \
	  echo "Installing:$$missing"; \
	  $(SUDO) apt-get update -qq && DEBIAN_FRONTEND=noninteractive $(SUDO) apt-get install -y -qq $$missing; \
	else echo "System packages present."; fi

$(BUILD)/build.ninja:
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo

build: setup $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS)

fuzz: setup
	CC=clang CXX=clang++ cmake -S . -B $(BUILD)-fuzz -G Ninja -DKV7_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(BUILD)-fuzz -j $(JOBS) --target fuzzers

interop-deps:
	@if [ -f tests/interop/package.json ]; then cd tests/interop && npm ci --no-audit --no-fund --loglevel=error; fi

test: build fuzz interop-deps
	cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j 2

demo: build
	./data/demo/run-demo.sh $(BUILD)

bench: build
	./bench/run.sh $(BUILD)

clean:
	rm -rf $(BUILD) $(BUILD)-fuzz
