# Front door: `make run` and `make test` do the whole set-up on a fresh Debian machine.
BUILD ?= build
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=
GEN := $(shell command -v ninja >/dev/null 2>&1 && echo "-G Ninja")

.PHONY: deps configure build run test test-asan test-tsan package bench fuzz format clean

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
test-tsan:
	$(MAKE) build BUILD=build-tsan CMAKE_FLAGS="-DQV_SANITIZE=thread"
	cd build-tsan && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS) -L tsan

bench: build
	./bench/run_relay_bench.sh $(BUILD)

fuzz: deps
	CXX=clang++ cmake -S . -B build-fuzz $(GEN) -DQV_FUZZ=ON -DBUILD_TESTING=OFF
	cmake --build build-fuzz -j $(JOBS) --target profile_fuzz
	./build-fuzz/tests/core/profile/profile_fuzz -runs=2000000 -max_len=4096

format:
	find src tests bench -name '*.cpp' -o -name '*.h' | xargs clang-format -i

clean:
	rm -rf build build-asan build-tsan build-fuzz build-package
