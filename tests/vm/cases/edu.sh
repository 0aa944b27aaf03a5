# edu.sh - QEMU's teaching device (1234:11e8, BAR0 1 MiB): its ID register, its liveness register
# (which reads back the inverse of what was written), and the dump of its configuration space; its
# hex dump, read back on the host by lspci -F, names the IDs and class the guest's kernel shows. An
# image saved in the guest replays on the host with the values and lines the device gave, and the
# guest's --compare names what was written after the save.
qemu_args="-device edu"
board_map=/vm/edu.svd

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
    # The shipped map names the configuration header's registers and Command bits beside the dump,
    # and the one-shot read takes a name.
    run "KYNPCI_DEVICE=$slot DUZE_BRIDGE_MAP=/usr/share/duzedevazu/maps/pci-config.svd duzedevazu-pci /Q /ZPq"
    expect_status "dump with the map, status" 0
    expect_log "ID named" "  PCI.ID: VENDOR_ID=0x1234 DEVICE_ID=0x11E8"
    expect_log "Command named" "  PCI.COMMAND_STATUS: IO_SPACE="
    expect_log "Memory Space on, named" " MEMORY_SPACE=1 BUS_MASTER="
    [ "$(duzedevazu-pci --device "$slot" --bridge-map /usr/share/duzedevazu/maps/pci-config.svd --bridge-read ID)" = 0x11E81234 ] &&
        ok "one-shot read by name" || not_ok "one-shot read by name" "no 0x11E81234"
    # The hex dump between two marks on the console, and what the guest's kernel says of the device.
    run "duzedevazu-pci --device $slot --bridge-hexdump"
    expect_status "hex dump, status" 0
    echo "hexdump-begin"
    cat /tmp/run/out.txt
    echo "hexdump-end"
    echo "guest-device $slot $(cat /sys/bus/pci/devices/$slot/class) $(cat /sys/bus/pci/devices/$slot/vendor):$(cat /sys/bus/pci/devices/$slot/device)"
    save_image "$slot" "--image-limit 4K"
    device_lines "$slot" "--read 0 --bridge-read 0 --bridge-read 4" "--bridge-map /usr/share/duzedevazu/maps/pci-config.svd --bridge-dump" \
        "/Q /ZR0;R4;Pq" "--map /vm/edu.svd --dump"
    # Written after the save: the liveness register, and the interrupt line byte alone (its mask).
    compare_after_writes "$slot" "--write 4=0 --bridge-write 0x3C=0x5A:0xFF" \
        '^BAR0 0x00000004: 0xEDCBA987 -> 0xFFFFFFFF  EDU\.LIVENESS$' \
        '^config 0x03C: 0x000001[0-9A-F]{2} -> 0x0000015A  PCI\.INTERRUPT: LINE=0x[0-9A-F]+->0x5A$'
}

host_check() {
    replay_image "--read 0 --bridge-read 0 --bridge-read 4" "--bridge-map $VM_SOURCE/maps/pci-config.svd --bridge-dump" \
        "/Q /ZR0;R4;Pq" "--map $VM_SOURCE/tests/vm/edu.svd --dump"
    tr -d '\r' < "$VM_DIR/console.txt" | sed -n '/^hexdump-begin$/,/^hexdump-end$/p' | sed '1d;$d' > "$VM_DIR/hexdump.txt"
    set -- $(tr -d '\r' < "$VM_DIR/console.txt" | sed -n 's/^guest-device //p')
    # The kernel's class 0x00ff00 and IDs 0x1234:0x11e8 as lspci -n shows them: 00ff: 1234:11e8.
    local class=${2#0x} ids=$(echo "$3" | sed 's/0x//g')
    local expected="${1#0000:} ${class:0:4}: $ids"
    local shown=$(lspci -n -F "$VM_DIR/hexdump.txt" 2>&1 | head -n 1)
    case $shown in
    "$expected"*) ok "lspci -F reads the hex dump: $shown" ;;
    *) not_ok "lspci -F reads the hex dump" "it shows '$shown', the guest '$expected'" ;;
    esac
}
