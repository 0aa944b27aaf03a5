# driver.sh - the edu device bound to pci-stub: its BAR and its configuration writes are refused,
# its configuration reads are not, and KYNPCI_ALLOW_DRIVER=1 lets both through.
qemu_args="-device edu"

guest() {
    slot=$(slot_of 1234 11e8)
    modprobe pci-stub
    echo "1234 11e8" > /sys/bus/pci/drivers/pci-stub/new_id
    [ -e /sys/bus/pci/devices/$slot/driver ] && ok "bound to pci-stub" || not_ok "bound to pci-stub" "no driver link"
    run 'KYNPCI_IDS=6=1234:11e8 duzedevazu-pci "/ZR;np;S0x3C;0x5A;np0x3C;q"'
    expect_status "driver's device, status" 0
    expect_log "BAR refused" "$slot is held by the kernel driver pci-stub: set KYNPCI_ALLOW_DRIVER=1 to map its BAR anyway"
    expect_log "configuration read" "Plx Address 0x0 = 0x11E81234"
    expect_log "configuration write refused" "$slot is held by the kernel driver pci-stub: set KYNPCI_ALLOW_DRIVER=1 to write its configuration space anyway"
    expect_not_log "configuration untouched" "Plx Address 0x3C = 0x0000005A"
    run 'KYNPCI_IDS=6=1234:11e8 KYNPCI_ALLOW_DRIVER=1 duzedevazu-pci /Q "/ZR0;S0x3C;0x5A;p0x3C;q"'
    expect_status "allowed, status" 0
    expect_log "allowed, ID register" "Brd Address 0x0 = 0x010000ED"
    expect_log "allowed, configuration write" "Plx Address 0x3C = 0x0000015A"
}
