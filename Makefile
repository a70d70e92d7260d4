# Thin wrapper around CMake: `make run` and `make test` do the whole set-up on a fresh Debian 12 machine.
BUILD ?= build
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=
GENERATOR := $(shell command -v ninja >/dev/null 2>&1 && echo "-G Ninja")
LAUNCHER := $(shell command -v ccache >/dev/null 2>&1 && echo "-DCMAKE_CXX_COMPILER_LAUNCHER=ccache")
ifeq ($(CI),true)
CMAKE_FLAGS += -DVIGILEX_WERROR=ON
endif

.PHONY: all deps configure build run test format lupdate clean

all: build

deps:
	./scripts/install-deps

$(BUILD)/CMakeCache.txt:
	cmake -S . -B $(BUILD) $(GENERATOR) $(LAUNCHER) $(CMAKE_FLAGS)

configure: $(BUILD)/CMakeCache.txt

build: configure
	cmake --build $(BUILD) -j $(JOBS)

run: deps
	$(MAKE) build
	cd $(BUILD)/bin && ./vigilex

test: deps
	$(MAKE) build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

format: configure
	cmake --build $(BUILD) --target format

lupdate: configure
	cmake --build $(BUILD) --target lupdate

clean:
	rm -rf $(BUILD)

# The Debian package: a release build of its own, installed under /opt/vigilex, packed by CPack.
PACKAGE_BUILD ?= build-package
.PHONY: package
package: deps
	cmake -S . -B $(PACKAGE_BUILD) $(GENERATOR) $(LAUNCHER) $(CMAKE_FLAGS) -DCMAKE_BUILD_TYPE=Release \
		-DCMAKE_INSTALL_PREFIX=/opt/vigilex -DVIGILEX_TESTS=OFF
	cmake --build $(PACKAGE_BUILD) -j $(JOBS)
	cd $(PACKAGE_BUILD) && cpack -G DEB
	@ls -1 $(PACKAGE_BUILD)/vigilex_*.deb

# The program on a simulated UPS card in a throwaway directory; it records a due shutdown instead of doing it.
# DEMO_ARGS="--port N" moves the simulated card off 127.0.0.1:16161.
DEMO_ARGS ?=
.PHONY: demo
demo: deps
	$(MAKE) configure
	cmake --build $(BUILD) -j $(JOBS) --target vigilex-demo vigilex-crashbox translations
	./tools/demo/demo run $(BUILD) $(DEMO_ARGS)

# The whole suite again with AddressSanitizer and UndefinedBehaviorSanitizer. Leak reports from inside
# third-party libraries are suppressed by tests/faults/lsan.supp (narrow entries, library frames only).
# The packaging tests are left out: they build a .deb and run the installed program as another user with a clean
# environment, which the sanitizer options (and the suppressions) do not reach; so is the x11 log-out test (see
# tests/window/CMakeLists.txt).
ASAN_BUILD ?= build-asan
ASAN_CTEST_ARGS ?= -LE "packaging|x11"
.PHONY: test-asan
test-asan: deps
	cmake -S . -B $(ASAN_BUILD) $(GENERATOR) $(LAUNCHER) $(CMAKE_FLAGS) -DVIGILEX_SANITIZE=ON
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	cd $(ASAN_BUILD) && \
		ASAN_OPTIONS=detect_leaks=1:strict_string_checks=1:detect_stack_use_after_return=1:check_initialization_order=1 \
		LSAN_OPTIONS=suppressions=$(CURDIR)/tests/faults/lsan.supp:print_suppressions=0 \
		UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
		ctest --output-on-failure -j $(JOBS) $(ASAN_CTEST_ARGS)

# libFuzzer targets (clang 14), each run for FUZZ_SECONDS; figures in $(FUZZ_BUILD)/fuzz-report.txt.
FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 60
.PHONY: fuzz
fuzz: deps
	CC=clang-14 CXX=clang++-14 cmake -S . -B $(FUZZ_BUILD) $(GENERATOR) $(LAUNCHER) -DVIGILEX_FUZZ=ON \
		-DVIGILEX_SANITIZE=ON -DVIGILEX_TESTS=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo \
		-DCMAKE_C_FLAGS=-fsanitize=fuzzer-no-link -DCMAKE_CXX_FLAGS=-fsanitize=fuzzer-no-link
	cmake --build $(FUZZ_BUILD) -j $(JOBS) --target fuzzers
	./fuzz/run-all $(FUZZ_BUILD) $(FUZZ_SECONDS)

# bench/README.md regenerated with today's figures: the engine and event log benchmarks, the whole program with its
# window (Xvfb) and the service at 1000 and 3000 cards, this program against Network UPS Tools' snmp-ups on the same
# 100 simulated cards, a notification storm, start-up with 1000 cards and 60001 events. Needs root (private namespaces); the dependency script adds the measurement peer nut-snmp. Not part
# of test.
BENCH_SECONDS ?= 60
.PHONY: bench
bench:
	./scripts/install-deps
	$(MAKE) configure
	python3 bench/run-all $(BUILD) --seconds $(BENCH_SECONDS)
