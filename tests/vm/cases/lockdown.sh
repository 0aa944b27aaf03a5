# lockdown.sh - a kernel in lockdown, as every Secure Boot install is: root cannot map a BAR or
# write configuration space through sysfs, and the text says that it is the lockdown.
qemu_args="-device edu"
kernel_args="lockdown=integrity"

guest() {
    slot=$(slot_of 1234 11e8)
    grep -q '\[integrity\]' /sys/kernel/security/lockdown && ok "kernel in lockdown" || not_ok "kernel in lockdown" "$(cat /sys/kernel/security/lockdown)"
    run 'KYNPCI_IDS=6=1234:11e8 duzedevazu-pci "/ZR0;nS0x3C;0x5A;np0;q"'
    expect_status "lockdown, status" 0
    expect_log "BAR mapping refused" "ERROR(0X39 [2.4]) Dev(20,6,0): The kernel is in lockdown (integrity): it refuses the mapping of BAR0 of $slot through sysfs to every program, root too"
    expect_log "configuration write refused" "ERROR(0X39 [2.4]) Dev(21,24,0): The kernel is in lockdown (integrity): it refuses writes to the configuration space of $slot through sysfs"
    expect_not_log "no advice about rights" "needs root"
    expect_log "configuration read" "Plx Address 0x0 = 0x11E81234"
}
