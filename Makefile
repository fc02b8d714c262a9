# OPC-KV7: build, test, demo and benchmarks. `make demo` and `make test` are all a
# fresh machine needs.
SHELL := /bin/bash
BUILD ?= build
JOBS ?= $(shell nproc)
SUDO := $(shell [ "$$(id -u)" = 0 ] || echo sudo)

APT_PACKAGES := build-essential cmake ninja-build pkg-config qt6-base-dev qt6-base-private-dev qt6-base-dev-tools \
	qt6-serialport-dev libssl-dev libgl-dev libgtest-dev libgmock-dev libbenchmark-dev clang libclang-rt-14-dev \
	nodejs npm fonts-dejavu-core xauth clang-tidy
# What `make package` and its check need beyond the build.
PACKAGE_TOOLS := dpkg-dev fakeroot file lintian man-db systemd debootstrap

# `make test` builds into $(TEST_BUILD) with clang, AddressSanitizer, UBSan and the
# fuzz targets; `make build`, `demo` and `bench` use the optimised build in $(BUILD).
TEST_BUILD ?= $(BUILD)-test
# ccache, when the machine has it, makes rebuilds in several work trees cheap.
LAUNCHER := $(shell command -v ccache >/dev/null && echo -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
SANITIZER_ENV := ASAN_OPTIONS=detect_leaks=1:abort_on_error=0:strict_string_checks=1 \
	UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 LSAN_OPTIONS=suppressions=$(CURDIR)/tests/lsan.supp

.PHONY: setup build test test-build demo bench fuzz clean interop-deps package-setup package package-check \
	package-install-test tidy

# Installs those of the given Debian packages that are missing (idempotent).
define apt_install
	@missing=""; for p in $(1); do dpkg -s $$p >/dev/null 2>&1 || { [ $$p = npm ] && command -v npm >/dev/null; } || missing="$$missing $$p"; done; \
	if [ -n "$$missing" ]; then \
	  echo "Installing:$$missing"; \
	  $(SUDO) apt-get update -qq && DEBIAN_FRONTEND=noninteractive $(SUDO) apt-get install -y -qq $$missing; \
	else echo "System packages present."; fi
endef

setup:
	$(call apt_install,$(APT_PACKAGES))

$(BUILD)/build.ninja:
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo $(LAUNCHER)

build: setup $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS)

$(TEST_BUILD)/build.ninja:
	CC=clang CXX=clang++ cmake -S . -B $(TEST_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKV7_SANITIZE=ON -DKV7_FUZZ=ON $(LAUNCHER)

test-build: setup $(TEST_BUILD)/build.ninja
	cmake --build $(TEST_BUILD) -j $(JOBS)

fuzz: test-build

interop-deps:
	@if [ -f tests/interop/package.json ]; then cd tests/interop && npm ci --no-audit --no-fund --loglevel=error; fi

test: test-build interop-deps
	cd $(TEST_BUILD) && $(SANITIZER_ENV) QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j 2

# The checks of .clang-tidy over src/, on the compile commands of the $(BUILD) build.
# A few minutes on two cores; not part of `make test`.
tidy: setup $(BUILD)/build.ninja
	run-clang-tidy -quiet -p $(BUILD) -j $(JOBS) '$(CURDIR)/src/.*\.cpp$$'

demo: build
	./data/demo/run-demo.sh $(BUILD)

# `make bench` measures everything and writes the OPC UA and plant-scale sections of
# docs/BENCHMARKS.md (about 45 minutes, most of it the plant-scale runs); BENCH_QUICK=1 is a
# short smoke run that writes nothing.
BENCH_QUICK ?= 0
bench: build
	BENCH_QUICK=$(BENCH_QUICK) BENCH_WRITE_DOC=$(if $(filter 1,$(BENCH_QUICK)),0,1) ./bench/run.sh $(BUILD)

# The Debian package is built in a release configuration of its own, installed
# under /usr and hardened with Debian's build flags (less -Wdate-time: the server
# shows its build date); only what it ships is built.
PACKAGE_BUILD ?= $(BUILD)-package

package-setup:
	$(call apt_install,$(PACKAGE_TOOLS))

$(PACKAGE_BUILD)/build.ninja:
	export DEB_BUILD_MAINT_OPTIONS=hardening=+all; \
	CXXFLAGS="$$(dpkg-buildflags --get CXXFLAGS) $$(dpkg-buildflags --get CPPFLAGS | sed 's/-Wdate-time//')" \
	LDFLAGS="$$(dpkg-buildflags --get LDFLAGS)" \
	cmake -S . -B $(PACKAGE_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX=/usr \
	  -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON $(LAUNCHER)

package: setup package-setup $(PACKAGE_BUILD)/build.ninja
	cmake --build $(PACKAGE_BUILD) -j $(JOBS) --target opc-kv7 kv7sim package-files
	rm -f $(PACKAGE_BUILD)/opc-kv7_*.deb
	cd $(PACKAGE_BUILD) && cpack -G DEB
	@ls $(PACKAGE_BUILD)/opc-kv7_*.deb

package-check: package
	packaging/check-package.sh $(PACKAGE_BUILD)/opc-kv7_*.deb

# Installs, upgrades, removes and purges the package in a throwaway Debian root
# (chroot, so as root); the root is made once with debootstrap and kept.
DEBOOTSTRAP_CACHE ?= /var/cache/opc-kv7-test/bookworm-minbase.tgz
package-install-test: package
	$(SUDO) packaging/test-install.sh $(PACKAGE_BUILD)/opc-kv7_*.deb $(DEBOOTSTRAP_CACHE)

clean:
	rm -rf $(BUILD) $(TEST_BUILD) $(PACKAGE_BUILD)
