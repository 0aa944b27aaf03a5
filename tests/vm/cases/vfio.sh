# vfio.sh - the VFIO path with QEMU's IOMMU: the edu and ivshmem devices bound to vfio-pci and driven
# through /dev/vfio (every width reaching the host's file, the memory test, the dump); a group whose
# other device a driver holds; a second run on a group in use; a user without rights; a device that is
# not bound to vfio-pci.
qemu_args="-device intel-iommu,intremap=on -device edu
           -object memory-backend-file,id=shm,share=on,mem-path=$VM_DIR/shm.bin,size=2M
           -device ivshmem-plain,memdev=shm -device e1000e
           -device pcie-pci-bridge,id=br -device edu,bus=br,addr=1 -device e1000,bus=br,addr=2"
kernel_args="intel_iommu=on"

guest() {
    load_vfio
    modprobe e1000
    edu=$(slot_of 1234 11e8)
    shm=$(slot_of 1af4 1110)
    nic=$(slot_of 8086 10d3)
    behind=0000:01:01.0
    for slot in $edu $shm $nic $behind; do bind_vfio $slot; done
    run "KYNPCI_DEVICE=$edu KYNPCI_TRACE=/tmp/run/trace.txt duzedevazu-pci /Q \"/ZR0;W4;0x12345678;R4;P;q\""
    expect_status "edu through VFIO, status" 0
    expect_log "driver line" "(vfio /dev/vfio, devices from sysfs /sys/bus/pci)"
    expect_log "ID register" "Brd Address 0x0 = 0x010000ED (16777453 decimal)"
    expect_log "liveness register" "Brd Address 0x4 = 0xEDCBA987"
    expect_dump "dump equals the kernel's config" "$edu"
    grep -qF "GetDeviceHandle(0, 6, 0) = 0 -> 0x20 (vfio $edu)" /tmp/run/trace.txt && ok "trace names the path" ||
        not_ok "trace names the path" "$(grep GetDeviceHandle /tmp/run/trace.txt | head -n 2)"
    run 'KYNPCI_IDS=6=1af4:1110 KYNPCI_BAR=2 duzedevazu-pci /Q "/Zw0x10;0x1AB;o0x20;0xBEEF;W0x30;0x11223344;r0x10;i0x20;R0x30;q"'
    expect_status "ivshmem writes of each width, status" 0
    expect_log "8-bit read back" "Brd Address 0x10 = 0xAB (171 decimal)"
    expect_log "16-bit read back" "Brd Address 0x20 = 0xBEEF (48879 decimal)"
    expect_log "32-bit read back" "Brd Address 0x30 = 0x11223344 (287454020 decimal)"
    run 'KYNPCI_IDS=6=1af4:1110 KYNPCI_BAR=2 duzedevazu-pci /Q "/ZM0x100000;0x100000;q"'
    expect_log "memory test over 1 MiB" "Memory test finished. ErrorCount=0"
    # The e1000e's MSI-X BAR (16 KiB): reads of each width in its pending-bit array, and its end.
    run "KYNPCI_DEVICE=$nic KYNPCI_BAR=3 duzedevazu-pci /Q \"/Zr0x2000;i0x2000;R0x2000;R0x4000;q\""
    expect_status "MSI-X BAR, status" 1
    expect_log "MSI-X BAR, 8-bit read" "Brd Address 0x2000 = 0x00 (0 decimal)"
    expect_log "MSI-X BAR, 32-bit read" "Brd Address 0x2000 = 0x00000000 (0 decimal)"
    expect_log "MSI-X BAR, its end" "Register address 0x4000 is outside BAR3 (size 0x4000) of $nic"
    run "KYNPCI_DEVICE=$behind duzedevazu-pci /Q /ZR0"
    expect_status "group not viable, status" 1
    expect_log "group not viable" "IOMMU group $(group_of $behind) of $behind also holds 0000:01:02.0 (e1000): bind every device of the group to vfio-pci, or unbind it"
    # A first run holds the group while it waits for a key; the second is refused.
    mkdir -p /tmp/first
    (cd /tmp/first && (sleep 8; echo q) | KYNPCI_CONF=/dev/null KYNPCI_DEVICE=$edu duzedevazu-pci /Q /ZR0 >/dev/null 2>&1) &
    sleep 4
    run "KYNPCI_DEVICE=$edu duzedevazu-pci /Q /ZR0"
    expect_status "second run on the group, status" 1
    expect_log "second run on the group" "IOMMU group $(group_of $edu) of $edu is in use by another process (another run on this board?)"
    wait
    grep -qF "Brd Address 0x0 = 0x010000ED" /tmp/first/DuzeDevazu.log && ok "the first run kept its board" || not_ok "the first run kept its board" "$(tail -n 3 /tmp/first/DuzeDevazu.log)"
    run "su nobody -c \"KYNPCI_DEVICE=$edu duzedevazu-pci /Q /ZR0\""
    expect_log "no rights on the group" "Opening /dev/vfio/$(group_of $edu) for $edu needs root, or a udev rule that gives your group that file"
    echo "$behind" > /sys/bus/pci/drivers/vfio-pci/unbind
    run "KYNPCI_DEVICE=$behind KYNPCI_ACCESS=vfio duzedevazu-pci /Q /ZR0"
    expect_log "not bound to vfio-pci" "$behind is not bound to vfio-pci (no driver): bind it with driverctl set-override $behind vfio-pci, or set KYNPCI_ACCESS=sysfs"
}

# The three writes reached the host's file through the mapping VFIO gave.
host_check() {
    line() { od -A n -t x1 -v -j "$1" -N 4 "$VM_DIR/shm.bin" | tr -d ' \n'; }
    [ "$(line 16)" = "ab000000" ] && ok "8-bit write in the host file" || not_ok "8-bit write in the host file" "$(line 16)"
    [ "$(line 32)" = "efbe0000" ] && ok "16-bit write in the host file" || not_ok "16-bit write in the host file" "$(line 32)"
    [ "$(line 48)" = "44332211" ] && ok "32-bit write in the host file" || not_ok "32-bit write in the host file" "$(line 48)"
}
