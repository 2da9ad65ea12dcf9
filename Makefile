# Front door: `make run` and `make test` do the whole set-up on a fresh Debian machine.
BUILD ?= build
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=
GEN := $(shell command -v ninja >/dev/null 2>&1 && echo "-G Ninja")

.PHONY: deps configure build run test test-asan test-tsan package bench fuzz format format-check clean

deps:
	./tools/install-deps.sh

configure: deps
	cmake -S . -B $(BUILD) $(GEN) $(CMAKE_FLAGS)

build: configure
	cmake --build $(BUILD) -j $(JOBS)

run: build
	./$(BUILD)/quorvane

test: build
	cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS)

# The Debian package quorvane_<version>_<arch>.deb, in $(PACKAGE_BUILD)/: a build tree of its own
# that builds only what the package holds (no tests, benchmarks or script helpers).
PACKAGE_BUILD ?= build-package
package: deps
	cmake -S . -B $(PACKAGE_BUILD) $(GEN) -DBUILD_TESTING=OFF -DQV_EXTRAS=OFF
	cmake --build $(PACKAGE_BUILD) -j $(JOBS)
	cd $(PACKAGE_BUILD) && cpack -G DEB

test-asan:
	$(MAKE) test BUILD=build-asan CMAKE_FLAGS="-DQV_SANITIZE=address"

# The relay engine, the log file and the mapping slots run many threads: check them for races.
# Only the runners labelled tsan are built.
test-tsan:
	$(MAKE) configure BUILD=build-tsan CMAKE_FLAGS="-DQV_SANITIZE=thread"
	cmake --build build-tsan -j $(JOBS) --target $$(cd build-tsan && ctest -N -L tsan 2>/dev/null | sed -n 's/^ *Test *#[0-9]*: //p')
	cd build-tsan && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS) -L tsan

bench: build
	./bench/run_relay_bench.sh $(BUILD)

FUZZ_ARGS ?= -runs=2000000
fuzz: deps
	CXX=clang++ cmake -S . -B build-fuzz $(GEN) -DQV_FUZZ=ON -DBUILD_TESTING=OFF -DQV_EXTRAS=OFF
	cmake --build build-fuzz -j $(JOBS) --target profile_fuzz
	./build-fuzz/tests/core/profile/profile_fuzz $(FUZZ_ARGS) -max_len=4096

SOURCES = find src tests bench plugins -name '*.cpp' -o -name '*.h'
format:
	$(SOURCES) | xargs clang-format -i

# Fails, naming the lines, when a source differs from what `make format` would make of it.
format-check: deps
	$(SOURCES) | xargs clang-format --dry-run --Werror

clean:
	rm -rf build build-asan build-tsan build-fuzz build-package
