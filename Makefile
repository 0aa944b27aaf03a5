# Makefile - thin front over CMake: build, run against the simulated boards, test.
BUILD ?= build
CMAKE_FLAGS ?=
JOBS ?= $(shell nproc 2>/dev/null || echo 2)

.PHONY: all configure run test test-asan clean deps

all: $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS)

deps:
	@scripts/ensure-deps

$(BUILD)/CMakeCache.txt: | deps
	cmake -S . -B $(BUILD) $(CMAKE_FLAGS)

configure:
	cmake -S . -B $(BUILD) $(CMAKE_FLAGS)

# Builds and starts the tool against the simulated boards, e.g. make run ARGS='-TE -Zrq'.
run: all
	$(BUILD)/duzedevazu $(ARGS)

# Builds and runs every test.
test: all
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

# The whole suite under AddressSanitizer and UndefinedBehaviorSanitizer.
test-asan:
	$(MAKE) test BUILD=build-asan CMAKE_FLAGS='-DDUZE_SANITIZE=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo'

clean:
	rm -rf build build-asan
