# vfio-small-bar.sh - a BAR smaller than a page that does not start one, as the kernel places BARs
# itself: VFIO will not map it, so each access is one pread or pwrite of its width. The device's
# 1 MiB BAR, beside it, is mapped.
qemu_args="-device intel-iommu,intremap=on
           -object memory-backend-file,id=m1,share=on,mem-path=$VM_DIR/m1.bin,size=1M -device ivshmem-plain,memdev=m1
           -object memory-backend-file,id=m2,share=on,mem-path=$VM_DIR/m2.bin,size=1M -device ivshmem-plain,memdev=m2"
kernel_args="intel_iommu=on"

# SLOT BAR: whether a run holding the board has the device's file mapped, as /proc shows its mappings.
mapped() {
    rm -rf /tmp/run && mkdir -p /tmp/run && mkfifo /tmp/run/keys
    (cd /tmp/run && KYNPCI_CONF=/dev/null KYNPCI_DEVICE=$1 KYNPCI_BAR=$2 duzedevazu-pci < keys > out.txt 2> err.txt) &
    exec 3> /tmp/run/keys
    printf 'R0\n' >&3
    wait_for_log "Brd Address 0x0 ="
    grep -q 'anon_inode:\[vfio-device\]' "/proc/$(pidof duzedevazu-pci)/maps"
    found=$?
    printf 'q' >&3
    exec 3>&-
    wait
    return $found
}

guest() {
    load_vfio
    # The firmware gives each BAR a page of its own; the kernel, placing them anew, packs the two
    # 256-byte register BARs into one page.
    for slot in $(ls /sys/bus/pci/devices); do
        [ "$(cat /sys/bus/pci/devices/$slot/vendor)" = 0x1af4 ] || continue
        printf '\0\0\0\0' | dd of=/sys/bus/pci/devices/$slot/config bs=4 seek=4 conv=notrunc 2>/dev/null
        echo 1 > /sys/bus/pci/devices/$slot/remove
    done
    echo 1 > /sys/bus/pci/rescan
    small=""
    for slot in $(ls /sys/bus/pci/devices); do
        [ "$(cat /sys/bus/pci/devices/$slot/vendor)" = 0x1af4 ] || continue
        bind_vfio $slot
        [ "$(head -n 1 /sys/bus/pci/devices/$slot/resource | cut -c 16-18)" = 000 ] || small=$slot
    done
    [ -n "$small" ] || { not_ok "a BAR inside a page" "$(head -qn 1 /sys/bus/pci/devices/*/resource)"; return; }
    # ivshmem's interrupt mask register keeps what is written; a write narrower than 32 bits
    # reaches it as a whole word.
    run "KYNPCI_DEVICE=$small duzedevazu-pci /Q \"/ZW0;0x12345678;R0;r0;i0;w0;0xAB;R0;o0;0xBEEF;R0;R4;R0x100;q\""
    expect_log "32-bit write and read" "Brd Address 0x0 = 0x12345678 (305419896 decimal)"
    expect_log "8-bit read" "Brd Address 0x0 = 0x78 (120 decimal)"
    expect_log "16-bit read" "Brd Address 0x0 = 0x5678 (22136 decimal)"
    expect_log "8-bit write" "Brd Address 0x0 = 0x000000AB (171 decimal)"
    expect_log "16-bit write" "Brd Address 0x0 = 0x0000BEEF (48879 decimal)"
    # The interrupt status register, beside it: each access lands at its own offset in the region.
    expect_log "a register past the first" "Brd Address 0x4 = 0x00000000 (0 decimal)"
    expect_log "its end" "Register address 0x100 is outside BAR0 (size 0x100) of $small"
    mapped "$small" 0 && not_ok "the small BAR is not mapped" "/proc shows a mapping of the device" ||
        ok "the small BAR is not mapped"
    mapped "$small" 2 && ok "its 1 MiB BAR2 is mapped" || not_ok "its 1 MiB BAR2 is mapped" "/proc shows none"
}
