# vfio-no-iommu.sh - a kernel without an IOMMU: vfio-pci cannot take the device, and asking for VFIO
# says what the kernel lacks.
qemu_args="-device edu"

guest() {
    modprobe vfio-pci
    slot=$(slot_of 1234 11e8)
    run 'KYNPCI_IDS=6=1234:11e8 KYNPCI_ACCESS=vfio duzedevazu-pci /Q "/ZR0;q"'
    expect_status "no IOMMU, status" 1
    expect_log "no IOMMU" "ERROR(0X3C [2.4]) Dev(20,6,0): $slot has no IOMMU group: the kernel runs without an IOMMU. Boot with intel_iommu=on (Intel) or amd_iommu=on (AMD)"
    run 'KYNPCI_IDS=6=1234:11e8 duzedevazu-pci /Q "/ZR0;q"'
    expect_log "auto takes sysfs" "Brd Address 0x0 = 0x010000ED"
}
