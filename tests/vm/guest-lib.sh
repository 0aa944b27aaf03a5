# guest-lib.sh - what a case's guest part calls: find a device, run the tool as a user types it,
# and say ok or not ok for what it did.

# The slot of the first device with these IDs (hexadecimal, without 0x).
slot_of() {
    for dir in /sys/bus/pci/devices/*; do
        if [ "$(cat "$dir/vendor")" = "0x$1" ] && [ "$(cat "$dir/device")" = "0x$2" ]; then
            basename "$dir"
            return 0
        fi
    done
    echo "# no device $1:$2" >&2
    return 1
}

# run 'COMMAND LINE': in a fresh directory, with no settings file; the console is then in
# /tmp/run/out.txt, standard error in err.txt, the log in DuzeDevazu.log, the status in $status.
run() {
    rm -rf /tmp/run
    mkdir -p /tmp/run
    chmod 777 /tmp/run
    (cd /tmp/run && KYNPCI_CONF=/dev/null sh -c "$1" </dev/null >out.txt 2>err.txt)
    status=$?
    last_command=$1
}

ok() {
    echo "ok - $1"
}

# NAME WHY: the failure, with what the run left to read it by.
not_ok() {
    echo "not ok - $1: $2"
    echo "# command: $last_command (status $status)"
    for file in out.txt err.txt DuzeDevazu.log; do
        [ -s "/tmp/run/$file" ] && tail -n 12 "/tmp/run/$file" | sed "s/^/# $file: /"
    done
}

# NAME TEXT: the log holds TEXT, a fixed string.
expect_log() {
    if grep -qF -- "$2" /tmp/run/DuzeDevazu.log 2>/dev/null; then ok "$1"; else not_ok "$1" "the log lacks '$2'"; fi
}

# NAME TEXT: the log does not hold TEXT.
expect_not_log() {
    if grep -qF -- "$2" /tmp/run/DuzeDevazu.log 2>/dev/null; then not_ok "$1" "the log holds '$2'"; else ok "$1"; fi
}

# NAME TEXT: standard error holds TEXT.
expect_err() {
    if grep -qF -- "$2" /tmp/run/err.txt 2>/dev/null; then ok "$1"; else not_ok "$1" "standard error lacks '$2'"; fi
}

# NAME STATUS
expect_status() {
    if [ "$status" = "$2" ]; then ok "$1"; else not_ok "$1" "status $status, not $2"; fi
}

# NAME SLOT: the log's P dump shows the device's configuration space as the kernel shows it to
# root, and 0xFFFFFFFF past its end.
expect_dump() {
    { od -A n -t x4 -v "/sys/bus/pci/devices/$2/config" | tr -s ' ' '\n' | grep .; yes ffffffff | head -n 128; } |
        head -n 128 > /tmp/config-words
    sed -n 's/^Plx Address 0x[0-9A-F]* = 0x\([0-9A-F]*\) .*/\1/p' /tmp/run/DuzeDevazu.log | tr 'A-F' 'a-f' > /tmp/dump-words
    if [ "$(wc -l < /tmp/dump-words)" = 128 ] && cmp -s /tmp/config-words /tmp/dump-words; then
        ok "$1"
    else
        not_ok "$1" "the dump differs from $2/config: $(diff /tmp/config-words /tmp/dump-words | head -n 6 | tr '\n' ' ')"
    fi
}

# VFIO's modules, with the IOMMU's.
load_vfio() {
    modprobe vfio-pci
    modprobe vfio_iommu_type1
}

# SLOT: bound to vfio-pci, as driverctl set-override does it.
bind_vfio() {
    [ -e "/sys/bus/pci/devices/$1/driver" ] && echo "$1" > "/sys/bus/pci/devices/$1/driver/unbind"
    echo vfio-pci > "/sys/bus/pci/devices/$1/driver_override"
    echo "$1" > /sys/bus/pci/drivers_probe
    [ "$(basename "$(readlink "/sys/bus/pci/devices/$1/driver")")" = vfio-pci ] || echo "# $1 is not bound to vfio-pci"
}

# SLOT: its IOMMU group's number.
group_of() {
    basename "$(readlink "/sys/bus/pci/devices/$1/iommu_group")"
}

# TEXT: until the run's log holds it, at most 30 s.
wait_for_log() {
    for i in $(seq 300); do
        grep -qF -- "$1" /tmp/run/DuzeDevazu.log 2>/dev/null && return 0
        sleep 0.1
    done
    echo "# the log never held '$1'"
    return 1
}

# SLOT OPTIONS: the device saved as an image, sent over the console between marks (tar, gzip, base64)
# for the host to replay.
save_image() {
    run "duzedevazu-pci --device $1 --save-image /tmp/img $2"
    expect_status "image saved, status" 0
    echo "image-begin"
    (cd /tmp && tar c img | gzip | base64)
    echo "image-end"
    local sys=/sys/bus/pci/devices/$1
    echo "image-device $1 $(cat $sys/class) $(cat $sys/vendor):$(cat $sys/device)"
}

# SLOT WRITES PATTERN...: after the image was saved, the writes (one-shot options, settings from
# image_env), then --compare with the shipped configuration map and the case's board_map, if any:
# status 1, and a line matching each PATTERN (an extended regular expression of a whole line).
compare_after_writes() {
    local slot=$1 writes=$2 pattern
    shift 2
    run "env ${image_env:-} duzedevazu-pci --device $slot $writes &&
         env ${image_env:-} duzedevazu-pci --device $slot --bridge-map /usr/share/duzedevazu/maps/pci-config.svd \
             ${board_map:+--map $board_map} --compare /tmp/img"
    expect_status "compare after the writes ($writes), status" 1
    for pattern in "$@"; do
        grep -qxE -- "$pattern" /tmp/run/out.txt && ok "compare shows the write: $pattern" ||
            not_ok "compare shows the write: $pattern" "it shows: $(head -n 5 /tmp/run/out.txt | tr '\n' '|') $(cat /tmp/run/err.txt)"
    done
}

# SLOT ARGS...: what the device answers to each set of options or keys (settings from the case's
# image_env), between marks, for the host to compare with the image's answers.
device_lines() {
    slot=$1
    shift
    for options in "$@"; do
        echo "device-lines-begin"
        env ${image_env:-} duzedevazu-pci --device "$slot" $options > /tmp/device-lines 2>&1
        status=$?
        # The driver line names the kernel, which is the host's on a replay.
        grep -v '^Driver version ' /tmp/device-lines
        echo "device-lines-end status $status"
    done
}
