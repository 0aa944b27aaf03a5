# vfio-lockdown.sh - a kernel in lockdown, as every Secure Boot install is: the sysfs path is refused,
# and the same device bound to vfio-pci is driven through VFIO.
qemu_args="-device intel-iommu,intremap=on -device edu"
kernel_args="intel_iommu=on lockdown=integrity"

guest() {
    load_vfio
    slot=$(slot_of 1234 11e8)
    grep -q '\[integrity\]' /sys/kernel/security/lockdown && ok "kernel in lockdown" || not_ok "kernel in lockdown" "$(cat /sys/kernel/security/lockdown)"
    run 'KYNPCI_IDS=6=1234:11e8 duzedevazu-pci /Q "/ZR0;q"'
    expect_log "sysfs refused" "The kernel is in lockdown (integrity): it refuses the mapping of BAR0 of $slot through sysfs to every program"
    bind_vfio "$slot"
    run 'KYNPCI_IDS=6=1234:11e8 duzedevazu-pci /Q "/ZR0;q"'
    expect_status "VFIO in lockdown, status" 0
    expect_log "VFIO in lockdown, ID register" "Brd Address 0x0 = 0x010000ED (16777453 decimal)"
    run 'KYNPCI_IDS=6=1234:11e8 duzedevazu-pci /Q "/ZS0x3C;0x5A;p0x3C;q"'
    expect_log "VFIO in lockdown, configuration write" "Plx Address 0x3C = 0x0000015A"
    run 'KYNPCI_IDS=6=1234:11e8 KYNPCI_ACCESS=sysfs KYNPCI_ALLOW_DRIVER=1 duzedevazu-pci /Q "/ZR0;q"'
    expect_log "sysfs chosen, still refused" "The kernel is in lockdown (integrity)"
}
