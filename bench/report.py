# report.py - turns the benchmark run's hyperfine results into bench/RESULTS.md (to standard output).
import json
import os
import platform
import subprocess
import time

work = os.environ["WORK"]


def results(name):
    with open(os.path.join(work, name + ".json")) as f:
        return json.load(f)["results"]


def ms(seconds):
    return "%.1f ms" % (seconds * 1000) if seconds < 10 else "%.2f s" % seconds


def spread(r):
    return "%s (σ %s, %s – %s)" % (ms(r["median"]), ms(r["stddev"]), ms(r["min"]), ms(r["max"]))


def machine():
    cpu = "unknown"
    try:
        with open("/proc/cpuinfo") as f:
            for line in f:
                if line.startswith("model name"):
                    cpu = line.split(":", 1)[1].strip()
                    break
        with open("/proc/meminfo") as f:
            mem = int(f.readline().split()[1]) // 1024
    except OSError:
        mem = 0
    compiler = subprocess.run(["c++", "--version"], capture_output=True, text=True).stdout.splitlines()[0]
    return "%s, %d cores, %d MiB, %s %s, %s" % (cpu, os.cpu_count(), mem, platform.system(), platform.release(),
                                               compiler)


out = []
out.append("# Benchmark results\n")
out.append("Written by `bench/run-bench` (`make bench`) on %s, %s runs of each command after 2 warm-ups, "
           "timed with hyperfine; times are medians with their spread.\n" % (time.strftime("%Y-%m-%d"), os.environ["RUNS"]))
out.append("Machine: %s.\n" % machine())
out.append("| benchmark | baseline | tool | tool ÷ baseline | target |")
out.append("|---|---|---|---|---|")
for name, label, target in (("healthy", "Healthy board: `M` over 64 MiB", 1.5),
                            ("failing", "Failing board: `M` over 16 MiB, 4,194,303 error lines", 1.0),
                            ("startup", "Start-up and quit", 1.5)):
    base, tool = results(name)
    ratio = tool["median"] / base["median"]
    out.append("| %s | %s | %s | %.2f | ≤ %.1f %s |" % (label, spread(base), spread(tool), ratio, target,
                                                      "met" if ratio <= target else "**missed**"))
out.append("")

scale = results("scale")
out.append("Scale (healthy board):\n")
out.append("| range | tool |")
out.append("|---|---|")
for r, label in zip(scale, ("4 MiB", "16 MiB", "64 MiB")):
    out.append("| %s | %s |" % (label, spread(r)))
linear = scale[2]["median"] / (4 * scale[1]["median"])
out.append("\n64 MiB ÷ (4 × 16 MiB) = %.2f (target ≤ 1.2: %s).\n" % (linear, "met" if linear <= 1.2 else "**missed**"))

kib = {k: int(os.environ[k]) for k in ("RSS_BASE_HEALTHY", "RSS_TOOL_HEALTHY", "RSS_BASE_STARTUP", "RSS_TOOL_STARTUP")}
out.append("Peak resident size (largest of five runs):\n")
out.append("| run | baseline | tool | target |")
out.append("|---|---|---|---|")
d = (kib["RSS_TOOL_STARTUP"] - kib["RSS_BASE_STARTUP"]) / 1024
out.append("| start-up | %.1f MiB | %.1f MiB | at most 4 MiB above the baseline (+%.1f MiB: %s) |" % (
    kib["RSS_BASE_STARTUP"] / 1024, kib["RSS_TOOL_STARTUP"] / 1024, d, "met" if d <= 4 else "**missed**"))
t = kib["RSS_TOOL_HEALTHY"] / 1024
out.append("| 64 MiB test | %.1f MiB | %.1f MiB | at most 68 MiB (%s) |" % (
    kib["RSS_BASE_HEALTHY"] / 1024, t, "met" if t <= 68 else "**missed**"))
out.append("")

notes = os.path.join(os.path.dirname(os.path.abspath(__file__)), "NOTES.md")
with open(notes) as f:
    out.append(f.read())
print("\n".join(out))
