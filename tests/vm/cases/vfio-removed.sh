# vfio-removed.sh - a device removed while a run holds it through VFIO: the kernel asks for it back,
# the run lets it go at its next access, which fails saying so, and the removal completes.
qemu_args="-device intel-iommu,intremap=on -device edu"
kernel_args="intel_iommu=on"

guest() {
    load_vfio
    slot=$(slot_of 1234 11e8)
    bind_vfio "$slot"
    rm -rf /tmp/run && mkdir -p /tmp/run && mkfifo /tmp/run/keys
    (cd /tmp/run && KYNPCI_CONF=/dev/null KYNPCI_DEVICE=$slot duzedevazu-pci < keys > out.txt 2> err.txt; echo $? > status) &
    exec 3> /tmp/run/keys
    printf 'R0\n' >&3
    wait_for_log "Brd Address 0x0 = 0x010000ED"
    (echo 1 > "/sys/bus/pci/devices/$slot/remove"; echo done > /tmp/removed) &
    sleep 2
    [ -e /tmp/removed ] && not_ok "the removal waits for the run" "it did not" || ok "the removal waits for the run"
    printf 'R0\nnq' >&3
    exec 3>&-
    wait
    status=$(cat /tmp/run/status)
    last_command="removal during a run"
    expect_status "removed while open, status" 0
    expect_log "removed while open" "ERROR(0X3B [2.4]) Dev(20,6,0): The kernel took $slot back (it is being removed or unbound): the run let it go, and its accesses fail from here on"
    [ -e /tmp/removed ] && [ ! -e "/sys/bus/pci/devices/$slot" ] && ok "the removal completed" || not_ok "the removal completed" "$(ls /sys/bus/pci/devices | tr '\n' ' ')"
}
