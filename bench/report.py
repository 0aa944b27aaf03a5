# report.py - turns the benchmark run's alternating timings (bench/pairs) into bench/RESULTS.md, on standard output.
import os
import platform
import statistics
import subprocess
import time

work = os.environ["WORK"]
runs = int(os.environ["RUNS"])
WORDS_64_MIB = 16 * 1024 * 1024


def load(name):
    """Per command: its wall times in seconds and peak resident sizes in KiB, in run order."""
    times, rss = {}, {}
    with open(os.path.join(work, name + ".txt")) as f:
        for line in f:
            index, seconds, kib = line.split()
            times.setdefault(int(index), []).append(float(seconds))
            rss.setdefault(int(index), []).append(int(kib))
    return times, rss


def quartiles(values):
    q = statistics.quantiles(values, n=4, method="inclusive")
    return q[0], statistics.median(values), q[2]


def ms(seconds):
    return "%.2f ms" % (seconds * 1000) if seconds < 0.01 else "%.1f ms" % (seconds * 1000)


def timing(values):
    low, mid, high = quartiles(values)
    return "%s (%s – %s)" % (ms(mid), ms(low), ms(high))


def ratio(values):
    low, mid, high = quartiles(values)
    return "%.2f (%.2f – %.2f, all %.2f – %.2f)" % (mid, low, high, min(values), max(values))


def pair_ratios(times, a=0, b=1):
    return [x / y for x, y in zip(times[a], times[b])]


def machine():
    cpu, mem = "unknown", 0
    try:
        with open("/proc/cpuinfo") as f:
            cpu = next(line.split(":", 1)[1].strip() for line in f if line.startswith("model name"))
        with open("/proc/meminfo") as f:
            mem = int(f.readline().split()[1]) // 1024
    except (OSError, StopIteration):
        pass
    compiler = subprocess.run(["c++", "--version"], capture_output=True, text=True).stdout.splitlines()[0]
    load1 = os.getloadavg()[0]
    return "%s, %d cores, %d MiB, %s %s, %s; load average %.2f at the end" % (
        cpu, os.cpu_count(), mem, platform.system(), platform.release(), compiler, load1)


out = ["# Benchmark results\n"]
out.append("Written by `bench/run-bench` (`make bench`) on %s. Release builds. Tool and baseline run in turn, "
           "A B A B ..., %d pairs after 2 warm-up pairs (%d for start-up); each ratio is the median of the "
           "per-pair ratios, with their middle half and their whole range; times are medians with their middle "
           "half.\n" % (time.strftime("%Y-%m-%d"), runs, runs * 10))
out.append("Machine: %s.\n" % machine())

out.append("| benchmark | baseline | tool | tool ÷ baseline | target |")
out.append("|---|---|---|---|---|")
for name, label, base_label, target in (
        ("calls", "Healthy board: `M` over 64 MiB", "one library call per word (`baseline_calls.c`)", 1.05),
        ("failing", "Failing board: `M` over 16 MiB, 4,194,303 error lines, console to a file",
         "two `vfprintf` per line (`baseline_failing.cpp`)", 1.0),
        ("startup", "Start-up and quit (`-Zq`)", "a dozen lines to console and file (`baseline_startup.cpp`)", 1.5),
        ("pci", "PCI library (`duzedevazu-pci`): `M` over a 64 MiB BAR, a file mapped from a fake sysfs tree",
         "one library call per word, the same C program linked to the PCI library (`baseline_pci_calls`)", 1.05),
        ("oneshot", "One register read for a script (`duzedevazu-pci --bridge-read 0x0`) on the same fake tree",
         "setpci's read of it (`setpci -A linux-sysfs -O sysfs.path=TREE -s 03:00.0 0.l`)", 1.25),
        ("healthy", "Healthy board: `M` over 64 MiB", "a plain loop over the same memory (`baseline_healthy.cpp`)",
         None)):
    times, _ = load(name)
    r = pair_ratios(times)
    mid = statistics.median(r)
    verdict = ("≤ %.2f %s" % (target, "met" if mid <= target else "**missed**")) if target else \
        "none: the price of a library call per word"
    out.append("| %s, against %s | %s | %s | %s | %s |" % (label, base_label, timing(times[1]), timing(times[0]),
                                                          ratio(r), verdict))
times, _ = load("oneshot-1000")
r = [b / a for a, b in zip(times[0], times[1])]
out.append("| 1,000 reads for a script in one run (`duzedevazu-pci` with `--bridge-read 0x0` 1,000 times), against 1,000 "
           "setpci processes reading it in a shell loop | %s | %s | setpci ÷ tool: %s | ≥ 50 %s |" % (
               timing(times[1]), timing(times[0]), ratio(r), "met" if statistics.median(r) >= 50 else "**missed**"))
times, _ = load("batch-10000")
r = [b / a for a, b in zip(times[0], times[1])]
out.append("| 10,000 reads through one batch run (`duzedevazu-pci --batch FILE`), against 10,000 setpci processes | %s | %s "
           "| setpci ÷ tool: %s | ≥ 100 %s |" % (timing(times[1]), timing(times[0]), ratio(r),
                                                 "met" if statistics.median(r) >= 100 else "**missed**"))
times, _ = load("batch-json")
r = pair_ratios(times)
out.append("| 100,000 batch reads as JSON Lines (`--batch FILE --json`), against the same as text | %s | %s | %s | ≤ 1.10 %s |" % (
    timing(times[1]), timing(times[0]), ratio(r), "met" if statistics.median(r) <= 1.10 else "**missed**"))
if os.path.exists(os.path.join(work, "pci-vfio.txt")):
    times, _ = load("pci-vfio")
    r = pair_ratios(times)
    where = "the BAR of the device `BENCH_VFIO_DEVICE` names"
    if os.path.exists(os.path.join(work, "pci-vfio.where")):
        where = ("ivshmem's 16 MiB BAR2 bound to vfio-pci, in a QEMU guest (Debian's kernel, QEMU's own emulation: "
                 "times are the emulated machine's; `bench/vm-vfio.sh`)")
    out.append("| PCI library over VFIO: `M` over %s, against the same calls from `baseline_pci_calls` | %s | %s | %s "
               "| ≤ 1.05 %s |" % (where, timing(times[1]), timing(times[0]), ratio(r),
                                  "met" if statistics.median(r) <= 1.05 else "**missed**"))
else:
    out.append("| PCI library over VFIO | not measured: no device named by `BENCH_VFIO_DEVICE`, and no virtual machine "
               "| | | ≤ 1.05 |")
out.append("")

counts = {}
with open(os.path.join(work, "instructions.txt")) as f:
    for line in f:
        name, size, count = line.split()
        counts[(name, int(size, 16))] = int(count)
words = (0x400000 - 0x100000) // 4


def per_word(name):
    return (counts[(name, 0x400000)] - counts[(name, 0x100000)]) / words


out.append("Instructions per word written and read back (callgrind; the difference between runs over 4 MiB and "
           "1 MiB, which the machine's load cannot change):\n")
out.append("| library | baseline | tool | tool ÷ baseline | target |")
out.append("|---|---|---|---|---|")
for label, tool, base in (("simulated, against `baseline_calls.c`", "tool", "calls"),
                          ("PCI, against `baseline_pci_calls`", "pci", "pci_calls")):
    r = per_word(tool) / per_word(base)
    out.append("| %s | %.2f | %.2f | %.3f | ≤ 1.05 %s |" % (label, per_word(base), per_word(tool), r,
                                                          "met" if r <= 1.05 else "**missed**"))
out.append("")

times, _ = load("map")
stimes, _ = load("map-startup")
load_ms = [(a - b) * 1000 for a, b in zip(stimes[0], stimes[1])]
# The test itself: each run less the start-up and quit of the same kind (the median of those), so
# that the map's reading, measured on its own below, is not counted twice.
with_map = [t - statistics.median(stimes[0]) for t in times[0]]
without = [t - statistics.median(stimes[1]) for t in times[1]]
r = [a / b for a, b in zip(with_map, without)]
out.append("A register map of 10,000 registers (`DUZE_MAP`, 100 peripherals of 100 registers, two fields each), "
           "read at start; the memory test's own time is each run less the median start-up and quit of its kind:\n")
out.append("| run | without the map | with it | with ÷ without | target |")
out.append("|---|---|---|---|---|")
out.append("| healthy 64 MiB memory test, start-up left out | %s | %s | %s | ≤ 1.05 %s |" % (
    timing(without), timing(with_map), ratio(r), "met" if statistics.median(r) <= 1.05 else "**missed**"))
out.append("| start-up and quit (`-Zq`) | %s | %s | the map's reading: %.1f ms | under 50 ms %s |" % (
    timing(stimes[1]), timing(stimes[0]), statistics.median(load_ms),
    "met" if statistics.median(load_ms) < 50 else "**missed**"))
out.append("")

times, _ = load("shared")
per_call = [(a - b) / (2 * WORDS_64_MIB) * 1e9 for a, b in zip(times[0], times[1])]
stimes, _ = load("shared-startup")
out.append("The simulated library as a shared object (`libkynhwsim.so`, linked through `KYN_HW_LIBRARY` as the "
           "maker's DLL would be), against the static build:\n")
out.append("| run | static | shared | shared ÷ static |")
out.append("|---|---|---|---|")
out.append("| healthy 64 MiB (33,554,432 calls) | %s | %s | %s |" % (timing(times[1]), timing(times[0]),
                                                                  ratio(pair_ratios(times))))
out.append("| start-up and quit | %s | %s | %s |" % (timing(stimes[1]), timing(stimes[0]),
                                                   ratio(pair_ratios(stimes))))
low, mid, high = quartiles(per_call)
out.append("\nCost of a call through the shared library: %.2f ns more than through the static one (middle half "
           "%.2f – %.2f ns).\n" % (mid, low, high))

times, _ = load("scale")
slope = [(t64 - t16) / 48 for t16, t64 in zip(times[1], times[2])]
fixed = [t16 - 16 * s for t16, s in zip(times[1], slope)]
linear = [t64 / (4 * t16) for t16, t64 in zip(times[1], times[2])]
out.append("Scale (healthy board):\n")
out.append("| range | tool |")
out.append("|---|---|")
for index, label in enumerate(("4 MiB", "16 MiB", "64 MiB")):
    out.append("| %s | %s |" % (label, timing(times[index])))
low, mid, high = quartiles(slope)
out.append("\nEach further MiB costs %.3f ms (middle half %.3f – %.3f ms), %.1f ns per word written and read back, "
           "%.1f ns per library call; what a test costs whatever its size is %s. 64 MiB ÷ (4 × 16 MiB) = %s.\n" % (
               mid * 1000, low * 1000, high * 1000, mid / (256 * 1024) * 1e9, mid / (256 * 1024) * 1e9 / 2,
               ms(statistics.median(fixed)), ratio(linear)))

_, healthy_rss = load("healthy")
_, startup_rss = load("startup")
tool_start, base_start = max(startup_rss[0]) / 1024, max(startup_rss[1]) / 1024
tool_healthy, base_healthy = max(healthy_rss[0]) / 1024, max(healthy_rss[1]) / 1024
out.append("Peak resident size (largest of all runs):\n")
out.append("| run | baseline | tool | target |")
out.append("|---|---|---|---|")
out.append("| start-up | %.1f MiB | %.1f MiB | at most 4 MiB above the baseline (+%.1f MiB: %s) |" % (
    base_start, tool_start, tool_start - base_start, "met" if tool_start - base_start <= 4 else "**missed**"))
out.append("| 64 MiB test | %.1f MiB | %.1f MiB | at most 68 MiB (%s) |" % (
    base_healthy, tool_healthy, "met" if tool_healthy <= 68 else "**missed**"))
out.append("")

with open(os.path.join(os.path.dirname(os.path.abspath(__file__)), "NOTES.md")) as f:
    out.append(f.read())
print("\n".join(out))
