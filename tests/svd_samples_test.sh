#!/bin/bash
# svd_samples_test.sh - real vendors' SVD files (../shared/svd-samples beside the project, 40 of them)
# served whole: each loads and --dump ends with status 0, listing every register of the map.
#
#   tests/svd_samples_test.sh TOOL SAMPLES.tar.xz
# Where the samples are not there: status 77 (ctest's skip), but a failure under CI, which has them.
tool=$(realpath "$1") samples=$2
if [ ! -f "$samples" ]; then
    echo "svd samples: $samples is not there"
    [ "${CI:-}" = true ] && exit 1
    exit 77
fi
tmp=$(mktemp -d /tmp/duze-svd-XXXXXX)
trap 'rm -rf "$tmp"' EXIT
tar -xJf "$samples" -C "$tmp"
passed=0 failed=0
for file in "$tmp"/*.svd; do
    registers=$("$tool" --map "$file" --names board 2>/dev/null | wc -l)
    "$tool" --map "$file" --dump > "$tmp/dump.txt" 2> "$tmp/err.txt"
    status=$?
    lines=$(wc -l < "$tmp/dump.txt")
    if [ "$status" = 0 ] && [ "$registers" -gt 0 ] && [ "$lines" = "$registers" ] && ! grep -qv '^Warning: ' "$tmp/err.txt"; then
        passed=$((passed + 1))
    else
        failed=$((failed + 1))
        echo "FAILED: $(basename "$file"): status $status, $lines lines for $registers registers: $(grep -v '^Warning: ' "$tmp/err.txt" | head -n 1)"
    fi
done
echo "svd samples: $passed passed, $failed failed"
[ "$failed" = 0 ]
