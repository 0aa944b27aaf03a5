# ivshmem.sh - QEMU's shared-memory device (1af4:1110): BAR2 is a file on the host, so every write
# the tool makes through the kernel's mapping is checked there, byte by byte. An image saved in the
# guest replays on the host: the registers, the configuration space and a memory test as the device;
# a write after the save shows in the guest's --compare.
image_env=KYNPCI_BAR=2
qemu_args="-object memory-backend-file,id=shm,share=on,mem-path=$VM_DIR/shm.bin,size=2M
           -device ivshmem-plain,memdev=shm"

guest() {
    slot=$(slot_of 1af4 1110)
    run 'KYNPCI_IDS=6=1af4:1110 KYNPCI_BAR=2 duzedevazu-pci /Q "/Zw0x10;0x1AB;o0x20;0xBEEF;W0x30;0x11223344;r0x10;i0x20;R0x30;q"'
    expect_status "writes of each width, status" 0
    expect_log "8-bit read back" "Brd Address 0x10 = 0xAB (171 decimal)"
    expect_log "16-bit read back" "Brd Address 0x20 = 0xBEEF (48879 decimal)"
    expect_log "32-bit read back" "Brd Address 0x30 = 0x11223344 (287454020 decimal)"
    run 'KYNPCI_IDS=6=1af4:1110 KYNPCI_BAR=2 duzedevazu-pci /Q "/ZM0x100000;0x100000;q"'
    expect_log "memory test over 1 MiB" "Memory test finished. ErrorCount=0"
    run 'KYNPCI_IDS=6=1af4:1110 KYNPCI_BAR=3 duzedevazu-pci /Q "/ZR0;q"'
    expect_status "upper half of BAR2, status" 1
    expect_log "upper half of BAR2" "BAR3 of $slot is the upper half of the 64-bit BAR2: set KYNPCI_BAR=2"
    run "KYNPCI_DEVICE=$slot duzedevazu-pci /Q /ZPq"
    expect_dump "dump equals the kernel's config" "$slot"
    save_image "$slot" "--image-limit 64K"
    device_lines "$slot" "--read8 0x10 --read16 0x20 --read 0x30 --bridge-read 0x10 --bridge-read 0x18" \
        "--memtest 0x180000:0x1000 --patterns random,walking-ones,address --seed 7" "/Q /Zr0x10;i0x20;R0x30;Pq"
    compare_after_writes "$slot" "--write 0x40=0x5A" '^BAR2 0x00000040: 0x00000000 -> 0x0000005A$'
}

# The first MiB holds the four writes and nothing else; in the second each word is its address.
host_check() {
    replay_image "--read8 0x10 --read16 0x20 --read 0x30 --bridge-read 0x10 --bridge-read 0x18" \
        "--memtest 0x180000:0x1000 --patterns random,walking-ones,address --seed 7" "/Q /Zr0x10;i0x20;R0x30;Pq"
    expected=$(printf '%032d' 0)
    line() { od -A n -t x1 -v -j "$1" -N 16 "$VM_DIR/shm.bin" | tr -d ' \n'; }
    [ "$(line 16)" = "ab${expected:2}" ] && ok "8-bit write in the host file" || not_ok "8-bit write in the host file" "$(line 16)"
    [ "$(line 32)" = "efbe${expected:4}" ] && ok "16-bit write in the host file" || not_ok "16-bit write in the host file" "$(line 32)"
    [ "$(line 48)" = "44332211${expected:8}" ] && ok "32-bit write in the host file" || not_ok "32-bit write in the host file" "$(line 48)"
    others=$(head -c 1048576 "$VM_DIR/shm.bin" | od -A d -t x1 -v | awk '{ for (i = 2; i <= NF; ++i) if ($i != "00") n++ } END { print n + 0 }')
    [ "$others" = 8 ] && ok "no other byte written" || not_ok "no other byte written" "$others bytes are not zero"
    wrong=$(tail -c 1048576 "$VM_DIR/shm.bin" | od -A d -t u4 -v | awk '{ for (i = 2; i <= NF; ++i) if ($i != 1048576 + $1 + 4 * (i - 2)) n++ } END { print n + 0 }')
    [ "$wrong" = 0 ] && ok "memory test's words in the host file" || not_ok "memory test's words in the host file" "$wrong words are not their address"
}
