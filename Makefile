# Front door: `make demo`, `make test`, `make bench`, `make fuzz`, `make package`.
# Each target first makes sure the Debian packages it needs are there.

SHELL := /bin/bash

BUILD       ?= build
BENCH_BUILD ?= build-bench
FUZZ_BUILD  ?= build-fuzz
TSAN_BUILD  ?= build-tsan
ASAN_BUILD  ?= build-asan
PKG_BUILD   ?= build-pkg
JOBS        ?= $(shell nproc 2>/dev/null || echo 2)
FUZZ_SECONDS ?= 60
# make test includes a short fuzzing run of each target.
TEST_FUZZ_SECONDS ?= 30

# Debian packages: what builds and tests the kit, what the benchmarks compare with.
PKGS_BUILD = cmake g++ make pkg-config libgtest-dev libgmock-dev libasound2-dev \
             pulseaudio pulseaudio-utils libasound2-plugins libglib2.0-dev \
             python3 sox clang libclang-rt-14-dev ffmpeg python3-soundfile \
             pybind11-dev python3-dev python3-numpy python3-scipy python3-pytest
PKGS_BENCH = libbenchmark-dev libsndfile1-dev libfftw3-dev libkissfft-dev strace alsa-utils
PKGS_PACKAGE = dpkg-dev lintian file binutils man-db

CMAKE_FLAGS ?=
# The system's interpreter: the one with Debian's numpy, scipy and soundfile.
PYTHON ?= $(shell test -x /usr/bin/python3 && echo /usr/bin/python3 || echo python3)

.PHONY: all deps deps-bench deps-package build test test-sanitize test-tsan test-package demo bench fuzz fuzz-build \
        package clean

all: build

# Installs what is missing when run as root; otherwise prints the apt-get line.
define ensure_pkgs
	@missing=""; for p in $(1); do \
	  dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q 'install ok installed' || missing="$$missing $$p"; \
	done; \
	if [ -n "$$missing" ]; then \
	  if [ "$$(id -u)" = 0 ] && command -v apt-get >/dev/null; then \
	    echo "installing:$$missing"; \
	    apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends$$missing; \
	  else \
	    echo "missing Debian packages; run as root:"; \
	    echo "  apt-get install -y$$missing"; exit 1; \
	  fi; \
	fi
endef

deps:
	$(call ensure_pkgs,$(PKGS_BUILD))

deps-bench: deps
	$(call ensure_pkgs,$(PKGS_BENCH))

deps-package: deps
	$(call ensure_pkgs,$(PKGS_PACKAGE))

# Configured every time: cheap, and it notices library folders that appeared since.
build: deps
	cmake -S . -B $(BUILD) $(CMAKE_FLAGS)
	cmake --build $(BUILD) -j $(JOBS)

test: build
	ctest --test-dir $(BUILD) --output-on-failure --no-tests=error -j $(JOBS)
	$(MAKE) --no-print-directory test-package
	$(MAKE) --no-print-directory test-sanitize
	$(MAKE) --no-print-directory fuzz FUZZ_SECONDS=$(TEST_FUZZ_SECONDS)

# Any sanitizer report fails the test that met it.
SAN_ENV = ASAN_OPTIONS=halt_on_error=1:detect_leaks=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
          TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1:suppressions=$(CURDIR)/tests/capture/tsan.supp

# Every test again under AddressSanitizer with leak detection and UBSan
# (clang, as the fuzz targets), then the capture tests under ThreadSanitizer.
test-sanitize: deps
	CC=clang CXX=clang++ cmake -S . -B $(ASAN_BUILD) -DKIT_SANITIZE=address,undefined -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	$(SAN_ENV) ctest --test-dir $(ASAN_BUILD) --output-on-failure --no-tests=error -j $(JOBS)
	$(MAKE) --no-print-directory test-tsan

# The capture library's tests again under ThreadSanitizer (it runs threads).
test-tsan: deps
	cmake -S . -B $(TSAN_BUILD) -DKIT_SANITIZE=thread -DKIT_EXAMPLES=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(TSAN_BUILD) -j $(JOBS) --target capture_tests
	$(SAN_ENV) ctest --test-dir $(TSAN_BUILD) --output-on-failure --no-tests=error -j $(JOBS) -L capture

# Only the libraries and the demo host: a first run need not wait for the tests.
demo: deps
	cmake -S . -B $(BUILD) $(CMAKE_FLAGS)
	cmake --build $(BUILD) -j $(JOBS) --target demo
	$(BUILD)/examples/demo/demo

# Debian packages (one runtime and one -dev package a library, and wavtool),
# built for /usr with Debian's hardening flags, into $(PKG_BUILD)/debs;
# lintian must find no error in them.
package: deps-package
	CXXFLAGS="$$(dpkg-buildflags --get CXXFLAGS) $$(dpkg-buildflags --get CPPFLAGS)" \
	LDFLAGS="$$(dpkg-buildflags --get LDFLAGS) -Wl,-z,now" \
	  cmake -S . -B $(PKG_BUILD) -DKIT_DEB=ON -DCMAKE_INSTALL_PREFIX=/usr -DCMAKE_BUILD_TYPE=None \
	        -DKIT_TESTS=OFF $(CMAKE_FLAGS)
	rm -rf $(PKG_BUILD)/debs
	cmake --build $(PKG_BUILD) -j $(JOBS)
	cmake --build $(PKG_BUILD) --target deb
	@rc=0; lintian --tag-display-limit 0 --fail-on error $(PKG_BUILD)/debs/*.deb >$(PKG_BUILD)/lintian.log 2>&1 || rc=$$?; \
	  grep -v 'root privileges' $(PKG_BUILD)/lintian.log || true; \
	  if [ $$rc != 0 ]; then echo "lintian found errors"; exit 1; fi
	@ls -l $(PKG_BUILD)/debs/*.deb

# The packages installed with dpkg as a user would, the consumer built against
# /usr, then purged (needs root; skipped otherwise).
test-package: package
	bash tests/package/run.sh $(PKG_BUILD)/debs examples/consumer

bench: deps-bench
	cmake -S . -B $(BENCH_BUILD) -DCMAKE_BUILD_TYPE=Release -DKIT_BENCH=ON -DKIT_TESTS=OFF $(CMAKE_FLAGS)
	cmake --build $(BENCH_BUILD) -j $(JOBS)
	@set -e; for b in $$(find $(BENCH_BUILD)/bench -type f -name 'bench_*' -perm -u+x | sort); do \
	  echo "== $$b"; $$b; done
	@set -e; if [ -d $(BENCH_BUILD)/pythonpath ]; then for b in $$(ls bench/python/*/bench_*.py 2>/dev/null | sort); do \
	  echo "== $$b"; PYTHONPATH=$(CURDIR)/$(BENCH_BUILD)/pythonpath KIT_BENCH_BUILD=$(CURDIR)/$(BENCH_BUILD) $(PYTHON) $$b; done; \
	  else echo "== Python benchmarks skipped: the Python modules were not built"; fi

# libFuzzer targets are executables named fuzz_<what>; seeds live in tests/fuzz/corpus/<what>/.
# New inputs go to a scratch folder, so the kept corpora change only by hand.
fuzz-build: deps
	CC=clang CXX=clang++ cmake -S . -B $(FUZZ_BUILD) -DKIT_FUZZ=ON -DKIT_EXAMPLES=OFF \
	  -DKIT_SANITIZE=address,undefined -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(FUZZ_BUILD) -j $(JOBS)

fuzz: fuzz-build
	@set -e; for f in $$(find $(FUZZ_BUILD)/tests/fuzz -type f -name 'fuzz_*' -perm -u+x 2>/dev/null | sort); do \
	  name=$$(basename $$f); name=$${name#fuzz_}; \
	  scratch=$$(mktemp -d); mkdir -p tests/fuzz/corpus/$$name; \
	  echo "== fuzz $$name for $(FUZZ_SECONDS) s"; \
	  log=$$scratch.log; \
	  if ! $$f -max_total_time=$(FUZZ_SECONDS) -print_final_stats=1 \
	       -artifact_prefix=$(CURDIR)/$(FUZZ_BUILD)/$$name- $$scratch tests/fuzz/corpus/$$name >$$log 2>&1; then \
	    tail -n 80 $$log; rm -rf $$scratch $$log; \
	    echo "the failing input is in $(FUZZ_BUILD)/$$name-*; copy it into tests/fuzz/corpus/$$name/ to keep it"; \
	    exit 1; fi; \
	  grep -E "^(Done|stat::)" $$log; rm -rf $$scratch $$log; done

clean:
	rm -rf $(BUILD) $(BENCH_BUILD) $(FUZZ_BUILD) $(TSAN_BUILD) $(ASAN_BUILD) $(PKG_BUILD)
