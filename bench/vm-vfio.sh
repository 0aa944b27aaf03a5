# vm-vfio.sh - the VFIO pair of bench/run-bench, in a guest of tests/vm/run: the tool's memory test
# over ivshmem's 16 MiB BAR2 bound to vfio-pci, against baseline_pci_calls making the same calls,
# in turn through pairs; its lines go to the console as "pairs: ...". bench_runs= on the kernel's
# command line gives the rounds.
qemu_args="-device intel-iommu,intremap=on
           -object memory-backend-file,id=m,share=on,mem-path=$VM_DIR/m.bin,size=16M -device ivshmem-plain,memdev=m"
kernel_args="intel_iommu=on bench_runs=${BENCH_RUNS:-15}"

guest() {
    load_vfio
    slot=$(slot_of 1af4 1110)
    bind_vfio "$slot"
    runs=$(sed -n 's/.*bench_runs=\([0-9]*\).*/\1/p' /proc/cmdline)
    env="KYNPCI_DEVICE=$slot KYNPCI_ACCESS=vfio KYNPCI_BAR=2 KYNPCI_CONF=/dev/null"
    mkdir -p /tmp/bench && cd /tmp/bench
    if pairs "$runs" 2 $env duzedevazu-pci "-ZM0;0x1000000;q" --- $env baseline_pci_calls 16777216 > pairs.txt; then
        ok "pairs"
    else
        not_ok "pairs" "$(tail -n 3 DuzeDevazu.log)"
    fi
    sed 's/^/pairs: /' pairs.txt
}
