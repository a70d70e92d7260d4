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
.PHONY: demo
demo: deps
	$(MAKE) configure
	cmake --build $(BUILD) -j $(JOBS) --target vigilex-demo vigilex-crashbox translations
	./tools/demo/demo run $(BUILD)
