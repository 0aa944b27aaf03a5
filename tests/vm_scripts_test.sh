#!/bin/bash
# vm_scripts_test.sh - the virtual machines' kernel folder and suite without booting anything: an
# unpacking that fails or is cut short leaves no kernel that counts as ready, a folder left half-way
# is unpacked again, and a suite that cannot run fails unless VM_ALLOW_SKIP=1 asks for a skip.
#
#   tests/vm_scripts_test.sh SOURCE-DIR
source=$(realpath "$1")
failed=0 passed=0
tmp=$(mktemp -d /tmp/duze-vm-scripts-XXXXXX)
trap 'rm -rf "$tmp"' EXIT
check() { # NAME, then the condition's command
    local name=$1
    shift
    if "$@"; then passed=$((passed + 1)); else failed=$((failed + 1)); echo "FAILED: $name"; fi
}

# A kernel package as Debian lays one out: a kernel and a module, with a modules.order for depmod.
mkdir -p "$tmp/pkg/DEBIAN" "$tmp/pkg/boot" "$tmp/pkg/lib/modules/9.9.9-test/kernel"
printf 'Package: linux-image-test\nVersion: 1\nArchitecture: all\nMaintainer: t <t@t>\nDescription: t\n' > "$tmp/pkg/DEBIAN/control"
echo kernel > "$tmp/pkg/boot/vmlinuz-9.9.9-test"
: > "$tmp/pkg/lib/modules/9.9.9-test/modules.order"
dpkg-deb -b "$tmp/pkg" "$tmp/kernel.deb" >/dev/null
head -c 100 "$tmp/kernel.deb" > "$tmp/broken.deb"
# QEMU need not be there: the suite's checks of the kernel folder come before it would start.
mkdir -p "$tmp/bin"
printf '#!/bin/sh\nexit 1\n' > "$tmp/bin/qemu-system-x86_64"
chmod +x "$tmp/bin/qemu-system-x86_64"
export PATH=$tmp/bin:$PATH:/sbin:/usr/sbin

# The headers' folder is the script's only where it made it: a folder of somebody's files is refused
# and left as it was, before anything is fetched.
mkdir -p "$tmp/headers"
echo keep > "$tmp/headers/mine"
"$source/scripts/ensure-kernel-headers" "$tmp/headers" > "$tmp/out" 2>&1
check "a folder of somebody's files is refused" [ $? = 1 ]
check "and kept" grep -q keep "$tmp/headers/mine"

# What an interrupted unpacking of the old script left: a kernel without modules and no marker.
mkdir -p "$tmp/k/boot" "$tmp/k/lib/modules/9.9.9-test/kernel"
echo half > "$tmp/k/boot/vmlinuz-9.9.9-test"
VM_KERNEL=$tmp/k "$source/tests/vm/run" /bin/true > "$tmp/out" 2>&1
check "a half-unpacked kernel fails the suite" [ $? = 1 ]
check "and says why" grep -q "is not whole" "$tmp/out"
VM_ALLOW_SKIP=1 VM_KERNEL=$tmp/k "$source/tests/vm/run" /bin/true > "$tmp/out" 2>&1
check "VM_ALLOW_SKIP=1 skips, saying so" [ $? = 0 ]
check "the skip names the setting" grep -q "skipped (VM_ALLOW_SKIP=1)" "$tmp/out"
# A package that does not unpack: the folder stays as it was, not ready.
DUZE_VM_KERNEL_DEB=$tmp/broken.deb "$source/scripts/ensure-vm-kernel" "$tmp/k" > "$tmp/out" 2>&1
check "a broken package fails" [ $? != 0 ]
check "and leaves the folder as it was" [ "$(cat "$tmp/k/boot/vmlinuz-9.9.9-test")" = half ]
check "not ready" [ ! -e "$tmp/k/.duze-vm-kernel-complete" ]
check "nothing left beside it" [ -z "$(ls -d "$tmp"/k.part-* 2>/dev/null)" ]
# A whole package: unpacked again over the half one, with its modules' index and the marker.
DUZE_VM_KERNEL_DEB=$tmp/kernel.deb "$source/scripts/ensure-vm-kernel" "$tmp/k" > "$tmp/out" 2>&1
check "the folder unpacked again" [ "$(cat "$tmp/k/boot/vmlinuz-9.9.9-test")" = kernel ]
check "with the modules' index" [ -f "$tmp/k/lib/modules/9.9.9-test/modules.dep" ]
check "ready" [ -f "$tmp/k/.duze-vm-kernel-complete" ]
check "its name printed" [ "$(tail -n 1 "$tmp/out")" = "$tmp/k" ]
# Ready now: asked again, nothing is unpacked (the package is not even looked at).
DUZE_VM_KERNEL_DEB=$tmp/missing.deb "$source/scripts/ensure-vm-kernel" "$tmp/k" > "$tmp/out" 2>&1
check "a ready folder is left as it is" [ "$(cat "$tmp/out")" = "$tmp/k" ]
echo "vm scripts: $passed passed, $failed failed"
[ "$failed" = 0 ]
