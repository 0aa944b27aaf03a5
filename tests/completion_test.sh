#!/bin/bash
# completion_test.sh - the bash completion of both programs, as bash calls it: board letters, options,
# file names as single words, this machine's (a fake tree's) PCI slots, a map's register names.
#
#   tests/completion_test.sh COMPLETION DUZEDEVAZU DUZEDEVAZU-PCI SOURCE-DIR
completion=$(realpath "$1") tool=$(realpath "$2") pcitool=$(realpath "$3") source=$(realpath "$4")
failed=0 passed=0
tmp=$(mktemp -d /tmp/duze-completion-XXXXXX)
trap 'rm -rf "$tmp"' EXIT
mkdir -p "$tmp/sys/devices/0000:00:01.0" "$tmp/sys/devices/0000:03:00.0" "$tmp/files"
touch "$tmp/files/file one.log" "$tmp/files/x;id" "$tmp/files/other"
cp "$source/maps/pci-config.svd" "$tmp/bridge.svd"

# Completes the words (the last is the one being typed) and prints COMPREPLY, one a line, sorted.
complete_words()
{
    (
        cd "$tmp/files"
        # With bash-completion's helpers, as an installed system loads the file, or without them.
        [ -n "$WITH_BASH_COMPLETION" ] && . /usr/share/bash-completion/bash_completion
        . "$completion"
        COMP_WORDS=("$@")
        COMP_CWORD=$(($# - 1))
        COMP_LINE="$*"
        COMP_POINT=${#COMP_LINE}
        COMPREPLY=()
        _duzedevazu "$1"
        printf '%s\n' "${COMPREPLY[@]}" | sort
    )
}

check()
{
    local expected=$1
    shift
    local got
    got=$(complete_words "$@")
    # A number alone: how many words were offered.
    [[ $expected =~ ^[0-9]+$ ]] && got=$(printf '%s\n' "$got" | grep -c .)
    if [ "$got" = "$(printf '%b' "$expected")" ]; then
        passed=$((passed + 1))
    else
        failed=$((failed + 1))
        echo "FAILED: $*"
        echo "  expected: $(printf '%b' "$expected" | tr '\n' '|')"
        echo "  got:      $(echo "$got" | tr '\n' '|')"
    fi
}

export KYNPCI_SYSFS=$tmp/sys
for WITH_BASH_COMPLETION in "" 1; do
check '/TB' "$tool" /Q /TB
check '26' "$tool" -T
check '--bridge-dump\n--bridge-hexdump\n--bridge-map\n--bridge-read\n--bridge-write' "$tool" --bri
check '--decode\n--device' "$pcitool" --de
check '--decode' "$tool" --de
# bash-completion's readline takes ':' for a word break: it inserts what follows the last one.
if [ -n "$WITH_BASH_COMPLETION" ]; then
    check '00:01.0\n03:00.0' "$pcitool" --device 0000:0
    check '03:00.0' "$pcitool" --read 0 --device 0000:03
else
    check '0000:00:01.0\n0000:03:00.0' "$pcitool" --device 0000:0
    check '0000:03:00.0' "$pcitool" --read 0 --device 0000:03
fi
check '' "$tool" --device 0000:0
check 'file one.log' "$tool" --log fi
check 'x;id' "$tool" --map 'x'
check 'UART.CTRL\nUART.CTRL2\nUART.STATUS\nUART.TXDATA' "$tool" --map "$source/tests/maps/board.svd" --read UART.
check 'UART.CTRL2=\nUART.CTRL=' "$tool" --map "$source/tests/maps/board.svd" --write UART.C
check '' "$tool" --read UART.
check 'PCI.CAPABILITIES\nPCI.CARDBUS_CIS' "$pcitool" --bridge-map "$tmp/bridge.svd" --bridge-read PCI.CA
DUZE_MAP=$source/tests/maps/board.svd check 'UART.TXDATA' "$tool" --read16 UART.T
check 'board\nbridge' "$tool" --names b
check '--image\n--image-bars\n--image-limit\n--image-writable' "$pcitool" --ima
check '' "$tool" --ima
done
echo "completion: $passed passed, $failed failed"
[ "$failed" = 0 ]
