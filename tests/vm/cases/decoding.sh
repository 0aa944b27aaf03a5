# decoding.sh - the edu device with Memory Space cleared in its Command register, as a hot-plugged
# board with no driver may be: no access goes there silently, and KYNPCI_ENABLE=1 turns it on.
qemu_args="-device edu"

guest() {
    slot=$(slot_of 1234 11e8)
    config=/sys/bus/pci/devices/$slot/config
    command=$(od -A n -t u2 -j 4 -N 2 "$config" | tr -d ' ')
    cleared=$((command & ~2))
    printf "\\$(printf %o $((cleared & 255)))\\$(printf %o $((cleared >> 8)))" | dd of="$config" bs=1 seek=4 conv=notrunc 2>/dev/null
    run 'KYNPCI_IDS=6=1234:11e8 duzedevazu-pci /Q "/ZR0;q"'
    expect_status "decoding off, status" 1
    expect_log "decoding off" "Memory decoding of $slot is off (Memory Space clear in its Command register, enable 0): set KYNPCI_ENABLE=1"
    expect_not_log "decoding off, nothing read" "Brd Address"
    run 'KYNPCI_IDS=6=1234:11e8 KYNPCI_ENABLE=1 duzedevazu-pci /Q "/ZR0;q"'
    expect_status "enabled, status" 0
    expect_log "enabled, ID register" "Brd Address 0x0 = 0x010000ED"
    [ "$(cat /sys/bus/pci/devices/$slot/enable)" = 1 ] && ok "enable reads 1" || not_ok "enable reads 1" "enable reads $(cat /sys/bus/pci/devices/$slot/enable)"
}
