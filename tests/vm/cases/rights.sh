# rights.sh - an e1000e (a PCI Express device with 4096 bytes of configuration space and a Device
# Serial Number) run as nobody and as root of a user namespace: neither has CAP_SYS_ADMIN where the
# kernel asks for it, so reads past 0x3F and the serial number are refused, and the texts say so.
qemu_args="-device e1000e"

guest() {
    slot=$(slot_of 8086 10d3)
    run 'KYNPCI_IDS=6=8086:10d3 duzedevazu-pci /Q "/ZP"'
    expect_log "root reads the serial number" "Board Serial Number: "
    expect_not_log "root reads the serial number, not unavailable" "Board Serial Number: not available"
    expect_dump "root's dump equals the kernel's config" "$slot"
    run 'su nobody -c "KYNPCI_IDS=6=8086:10d3 duzedevazu-pci /Q /ZP"'
    expect_status "nobody's dump, status" 1
    expect_log "nobody, past 0x3F" "ERROR(0X37 [2.4]) Dev(21,24,0): Reading the configuration space of $slot past 0x3F needs CAP_SYS_ADMIN (root)"
    expect_log "nobody, serial number" "Board Serial Number: not available: the extended configuration space of $slot could not be read: that needs CAP_SYS_ADMIN (root)"
    expect_not_log "nobody, no udev advice for what a mode does not decide" "udev"
    expect_log "nobody, the first 64 bytes" "Plx Address 0x3C = "
    run 'su nobody -c "KYNPCI_IDS=6=8086:10d3 duzedevazu-pci /Q /ZR0"'
    expect_log "nobody, BAR file's mode" "Mapping BAR0 of $slot needs root, or a udev rule that lets you write /sys/bus/pci/devices/$slot/resource0"
    run 'unshare -U -r sh -c "KYNPCI_IDS=6=8086:10d3 duzedevazu-pci /Q /ZP"'
    expect_log "user namespace root, serial number" "Board Serial Number: not available: the extended configuration space of $slot could not be read: that needs CAP_SYS_ADMIN (root)"
    expect_log "user namespace root, past 0x3F" "Reading the configuration space of $slot past 0x3F needs CAP_SYS_ADMIN (root)"
}
