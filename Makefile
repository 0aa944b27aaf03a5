# Makefile - thin front over CMake: build, run against the simulated boards, test.
BUILD ?= build
CMAKE_FLAGS ?=
JOBS ?= $(shell nproc 2>/dev/null || echo 2)

.PHONY: all configure run run-vm vm-kernel deb test test-vm test-vfio-cdev test-asan fuzz fuzz-ci windows test-windows test-windows-dll test-busy install package test-package bench clean deps

all: $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS)

deps:
	@scripts/ensure-deps

$(BUILD)/CMakeCache.txt: | deps
	cmake -S . -B $(BUILD) $(CMAKE_FLAGS)

configure:
	cmake -S . -B $(BUILD) $(CMAKE_FLAGS)

# Builds and starts the tool against the simulated boards, e.g. make run ARGS='-TE -Zrq'.
run: $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS) --target duzedevazu
	$(BUILD)/duzedevazu $(ARGS)

# Debian's kernel for the virtual machines, unpacked into the build folder (never installed).
VM_KERNEL ?= $(abspath $(BUILD))/vm-kernel
vm-kernel:
	@scripts/ensure-vm-deps
	@scripts/ensure-vm-kernel $(VM_KERNEL) >/dev/null

# Builds and runs every test.
test: all
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

# duzedevazu-pci in virtual machines: Debian's kernel under QEMU with PCI device models nobody here
# wrote (edu, ivshmem, e1000e), one boot per case in tests/vm/cases; fails where QEMU or the kernel
# cannot run (VM_ALLOW_SKIP=1 skips instead).
# Then make run-vm at a pseudo-terminal, as a person types at it.
test-vm: all vm-kernel
	VM_KERNEL=$(VM_KERNEL) tests/vm/run $(BUILD)/duzedevazu-pci
	tests/vm/interactive-check BUILD=$(BUILD)

# duzedevazu-pci built with kernel headers that know VFIO's device files (iommufd), Debian's
# backports where the system's predate them: its PCI tests, and the VFIO cases in the guest, where
# the group's way in must still be taken.
CDEV_BUILD ?= build-cdev
test-vfio-cdev: | deps
	headers=$$(scripts/ensure-kernel-headers $(CDEV_BUILD)-headers) && \
	  cmake -S . -B $(CDEV_BUILD) -DDUZE_VFIO_CDEV=ON -DDUZE_KERNEL_HEADERS="$$headers"
	cmake --build $(CDEV_BUILD) -j $(JOBS) --target duzedevazu-pci pci_tests pci_unit_tests
	cd $(CDEV_BUILD)/tests && ./pci_tests --gtest_brief=1 && ./pci_unit_tests --gtest_brief=1
	$(MAKE) vm-kernel
	VM_KERNEL=$(VM_KERNEL) tests/vm/run $(CDEV_BUILD)/duzedevazu-pci tests/vm/cases/vfio*.sh

# The same guest with QEMU's edu device and duzedevazu-pci at its serial console (q, then exit).
run-vm: $(BUILD)/CMakeCache.txt vm-kernel
	cmake --build $(BUILD) -j $(JOBS) --target duzedevazu-pci
	VM_KERNEL=$(VM_KERNEL) tests/vm/run --interactive $(BUILD)/duzedevazu-pci

# The whole suite under AddressSanitizer and UndefinedBehaviorSanitizer.
test-asan:
	$(MAKE) test BUILD=build-asan CMAKE_FLAGS='-DDUZE_SANITIZE=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo'

# libFuzzer targets (clang): the command-line parser, the command interpreter, the register-map reader,
# a board image's manifest reader and a batch's lines.
FUZZ_SECONDS ?= 60
fuzz:
	@scripts/ensure-deps clang libclang-rt-14-dev
	cmake -S . -B build-fuzz -DDUZE_FUZZ=ON -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++
	cmake --build build-fuzz -j $(JOBS)

# Each target for FUZZ_SECONDS from the seed corpus; a crash fails the run and leaves its input in build-fuzz.
fuzz-ci: fuzz
	for target in cmdline commands maps manifest batch; do \
	  mkdir -p build-fuzz/corpus-$$target; \
	  maxlen=4096; [ $$target = maps ] && maxlen=131072; \
	  build-fuzz/fuzz_$$target -max_total_time=$(FUZZ_SECONDS) -timeout=20 -rss_limit_mb=4096 -max_len=$$maxlen \
	    -artifact_prefix=build-fuzz/$$target- -print_final_stats=1 \
	    build-fuzz/corpus-$$target tests/fuzz/corpus/$$target > build-fuzz/$$target.log 2>&1; \
	  status=$$?; tail -n 14 build-fuzz/$$target.log; \
	  [ $$status = 0 ] || { echo "fuzz_$$target failed"; exit 1; }; \
	done

# The 32-bit Windows console program, DuzeDevazu.exe, cross-built with mingw-w64 and statically linked.
WIN_BUILD ?= build-win
windows:
	@scripts/ensure-windows-deps --build
	cmake -S . -B $(WIN_BUILD) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-i686.cmake \
	  -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF
	cmake --build $(WIN_BUILD) -j $(JOBS)

# The same end-to-end transcripts against wine DuzeDevazu.exe, then the tool at a console,
# driven with key events; one wine server for the whole run (scripts/wine-env says why).
test-windows: all windows
	@scripts/ensure-windows-deps
	scripts/test-windows

# The gate on a busy machine: test-windows 10 times and .ci/run 3 times (fresh clones) while
# stress-ng keeps every processor busy; WINDOWS_RUNS and CI_RUNS change the counts.
test-busy:
	scripts/test-busy

# The tool against the simulated library built alone as the maker ships it: KynHwDll.dll
# with a .def-made import library, cdecl and stdcall, under wine; and a Linux shared object.
test-windows-dll: all
	@scripts/ensure-windows-deps
	scripts/test-windows-dll

# The tool in PREFIX/bin, its manual page in PREFIX/share/man/man1, the README in
# PREFIX/share/doc/duzedevazu.
PREFIX ?= /usr/local
install: all
	cmake --install $(BUILD) --prefix $(PREFIX)

# The Debian package of the Linux build alone (build-package/duzedevazu_VERSION_ARCH.deb), Release.
deb:
	@scripts/ensure-deps groff-base bsdextrautils lintian binutils
	cmake -S . -B build-package -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF
	cmake --build build-package -j $(JOBS)
	cd build-package && cpack

# The .deb and a .zip of the Windows build (build-win/DuzeDevazu-VERSION-win32.zip), both Release.
package: deb windows
	cmake --build $(WIN_BUILD) -j $(JOBS)
	cd $(WIN_BUILD) && cpack

test-package: package
	scripts/test-package

# Release builds timed in alternation against plain baseline programs; writes bench/RESULTS.md.
BENCH_RUNS ?= 15
bench:
	bench/run-bench $(BENCH_RUNS)

clean:
	rm -rf build build-asan build-cdev build-cdev-headers build-fuzz build-win build-bench build-bench-so build-bench-sotool build-windll-* build-wintool-* build-so build-sotool build-nocmake build-package build-busy
