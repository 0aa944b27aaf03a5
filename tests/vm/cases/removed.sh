# removed.sh - BARs that go away under a run. A driver that claims a device's region makes the
# kernel revoke every mapping of it (IO_STRICT_DEVMEM): the next access faults with SIGBUS, and the
# tool fails that access, not the run. A device removed through sysfs keeps the mappings made
# before: the run goes on to its end against what still answers there.
qemu_args="-device e1000e
           -object memory-backend-file,id=shm,share=on,mem-path=$VM_DIR/shm.bin,size=64M
           -device ivshmem-plain,memdev=shm"

# COMMAND in the background, once the tool has mapped its BAR: it then reads and sleeps, or
# tests memory, for seconds.
meanwhile() {
    (
        for i in $(seq 1200); do
            pid=$(pidof duzedevazu-pci) && grep -q '/resource[0-9]' "/proc/$pid/maps" 2>/dev/null && break
            usleep 50000
        done
        usleep 300000
        sh -c "$1"
    ) &
}

expect_gone() {
    expect_status "$1, status" 1
    last=$(tail -n 1 /tmp/run/DuzeDevazu.log)
    case $last in
        *"ERROR(0X3B [2.4]) Dev(20,6,0): BAR0 of $nic went away during the access: the device was removed, or its resource file shrank "*) ok "$1, the log ends with the failure" ;;
        *) not_ok "$1, the log ends with the failure" "its last line: $last" ;;
    esac
}

guest() {
    nic=$(slot_of 8086 10d3)
    # The fast path of 32-bit reads, then the checked path of 8-bit reads.
    meanwhile "modprobe e1000e"
    run 'KYNPCI_IDS=6=8086:10d3 duzedevazu-pci /Q "/ZR0x8;~8000;R0x8;q"'
    wait
    expect_gone "revoked under a 32-bit read"
    echo "$nic" > /sys/bus/pci/drivers/e1000e/unbind
    meanwhile "echo $nic > /sys/bus/pci/drivers/e1000e/bind"
    run 'KYNPCI_IDS=6=8086:10d3 duzedevazu-pci /Q "/Zr0x8;~8000;r0x8;q"'
    wait
    expect_gone "revoked under an 8-bit read"

    shm=$(slot_of 1af4 1110)
    tests="M0;0x4000000"
    for i in $(seq 20); do tests="$tests;M;"; done
    meanwhile "echo 1 > /sys/bus/pci/devices/$shm/remove"
    run "KYNPCI_IDS=6=1af4:1110 KYNPCI_BAR=2 duzedevazu-pci /Q \"/Z$tests;q\""
    wait
    [ ! -e /sys/bus/pci/devices/$shm ] && ok "device removed" || not_ok "device removed" "$shm is still there"
    expect_status "removed during memory tests, status" 0
    [ "$(tail -n 1 /tmp/run/DuzeDevazu.log)" = "Which Start Address (0x0): Which Range (in bytes) (0x4000000): Memory test finished. ErrorCount=0" ] &&
        ok "removed, the log is whole" || not_ok "removed, the log is whole" "its last line: $(tail -n 1 /tmp/run/DuzeDevazu.log)"
}
