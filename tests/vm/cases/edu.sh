# edu.sh - QEMU's teaching device (1234:11e8, BAR0 1 MiB): its ID register, its liveness register
# (which reads back the inverse of what was written), and the dump of its configuration space.
qemu_args="-device edu"

guest() {
    slot=$(slot_of 1234 11e8)
    run 'KYNPCI_IDS=6=1234:11e8 duzedevazu-pci /Q "/ZR0;q"'
    expect_status "ID register, status" 0
    expect_log "ID register" "Brd Address 0x0 = 0x010000ED (16777453 decimal)"
    run 'KYNPCI_IDS=6=1234:11e8 duzedevazu-pci /Q "/ZW4;0x12345678;R4;q"'
    expect_log "liveness register" "Brd Address 0x4 = 0xEDCBA987"
    run "KYNPCI_DEVICE=$slot duzedevazu-pci /Q /ZPq"
    expect_status "dump, status" 0
    expect_dump "dump equals the kernel's config" "$slot"
    expect_log "build number" "Board Build Number: revision 0x10 ($slot, 1234:11e8)"
}
