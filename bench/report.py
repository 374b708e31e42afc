#!/usr/bin/env python3
"""Prints the benchmark table (library next to the raw-socket floor, with the
targets) from Google Benchmark's JSON and the callgrind counts, and writes the
figures as one summary JSON.

    report.py BENCH_JSON [CALLGRIND_JSON] [SUMMARY_JSON]
"""
import json
import sys

SMALL_RATIO_MAX = 1.10
INSTRUCTIONS_MAX = 5000
BULK_RATIO_MIN = 0.5
PEAK_MAX = 3.0
PEAK_MIN_BYTES = 1 << 20
HEX_DECODE_MIN = 1e9  # bytes per second


def load_runs(path):
    """run name -> the run to report (the median when there are repetitions)."""
    with open(path) as f:
        data = json.load(f)
    runs, medians = {}, {}
    for b in data.get("benchmarks", []):
        name = b.get("run_name", b["name"])
        if name.endswith("/real_time"):
            name = name[: -len("/real_time")]
        if b.get("run_type") == "aggregate":
            if b.get("aggregate_name") == "median":
                medians[name] = b
        elif name not in runs:
            runs[name] = b
    runs.update(medians)
    return data.get("context", {}), runs


def seconds(run):
    scale = {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1.0}[run.get("time_unit", "ns")]
    return run["real_time"] * scale


def verdict(ok):
    return "ok" if ok else "MISSED"


def fmt(value, pattern):
    return "-" if value is None else format(value, pattern)


def main(argv):
    if len(argv) < 2:
        print(__doc__, file=sys.stderr)
        return 2
    context, runs = load_runs(argv[1])
    callgrind = {}
    if len(argv) > 2 and argv[2]:
        try:
            with open(argv[2]) as f:
                callgrind = json.load(f)
        except FileNotFoundError:
            pass
    summary = {"date": context.get("date"), "host": context.get("host_name"),
               "cpus": context.get("num_cpus"), "small": [],
               "bulk": [], "codec": [], "callback": None, "missed": []}
    errors = [n for n, r in runs.items() if r.get("error_occurred")]

    def usable(name):
        r = runs.get(name)
        return r if r and not r.get("error_occurred") else None

    print(f"Run {context.get('date', '?')} on {context.get('num_cpus', '?')} CPUs "
          f"({context.get('mhz_per_cpu', '?')} MHz)")
    print()
    print("Small calls over loopback (median us per call, library and floor alternating; heap allocations")
    print("per library call, counted on the calling thread; user-space instructions per call, callgrind")
    print("inside the export)")
    print(f"  {'call':<26}{'library':>10}{'raw floor':>11}{'ratio':>8}{'allocs':>8}{'instr':>8}   target")
    for call in ("RX_CentreFrequency_Set", "RX_CentreFrequency_Get"):
        instructions = callgrind.get(call)
        pair = usable(f"small/{call}/paired")
        if not pair or not pair.get("raw_us"):
            print(f"  {call:<26}  (not measured){fmt(instructions, '>45.0f')}")
            continue
        lib_us, raw_us = pair["library_us"], pair["raw_us"]
        ratio = lib_us / raw_us
        allocations = pair.get("allocations_per_call")
        ok = ratio <= SMALL_RATIO_MAX
        ok_instructions = instructions is None or instructions < INSTRUCTIONS_MAX
        print(f"  {call:<26}{lib_us:>10.2f}{raw_us:>11.2f}{ratio:>8.3f}{fmt(allocations, '>8.1f')}"
              f"{fmt(instructions, '>8.0f')}   <= {SMALL_RATIO_MAX:.2f}x {verdict(ok)}, "
              f"< {INSTRUCTIONS_MAX} instr {verdict(ok_instructions)}")
        summary["small"].append({"call": call, "library_us": lib_us, "raw_us": raw_us, "ratio": ratio,
                                 "allocations_per_call": allocations, "instructions_per_call": instructions})
        if not ok:
            summary["missed"].append(f"small {call}")
        if not ok_instructions:
            summary["missed"].append(f"instructions {call}")
    if not callgrind:
        print("  (instructions not measured: valgrind missing)")
    print()
    print("Bulk, end to end (MB/s of reply bytes; peak = library's extra resident memory / reply bytes)")
    print(f"  {'call':<22}{'size':>7}{'library':>10}{'raw floor':>11}{'ratio':>8}{'peak':>7}"
          f"{'raw peak':>10}   target")
    bulk = sorted({n.rsplit("/", 1)[0] for n in runs if n.startswith("bulk/")},
                  key=lambda n: (n.split("/")[1], runs.get(n + "/library", {}).get("reply_bytes", 0)))
    for base in bulk:
        _, call, size = base.split("/")
        lib, raw = usable(base + "/library"), usable(base + "/raw")
        if not lib or not raw:
            print(f"  {call:<22}{size:>7}  (not measured)")
            continue
        lib_mb, raw_mb = lib["bytes_per_second"] / 1e6, raw["bytes_per_second"] / 1e6
        ratio = lib_mb / raw_mb
        peak, raw_peak = lib.get("peak_x_payload"), raw.get("peak_x_payload")
        targeted = size in ("64MiB", "1M")
        # Below 1 MiB the process's own start-up pages swamp the reply.
        peak_counts = lib.get("reply_bytes", 0) >= PEAK_MIN_BYTES
        ok = (not targeted or ratio >= BULK_RATIO_MIN) and (not peak_counts or peak is None or peak <= PEAK_MAX)
        target = (f">= {BULK_RATIO_MIN}x" if targeted else "") + (f" peak <= {PEAK_MAX:.0f}x" if peak_counts else "")
        print(f"  {call:<22}{size:>7}{lib_mb:>10.0f}{raw_mb:>11.0f}{ratio:>8.2f}{fmt(peak, '>7.2f')}"
              f"{fmt(raw_peak, '>10.2f')}   {target}  {verdict(ok)}")
        summary["bulk"].append({"call": call, "size": size, "reply_bytes": lib.get("reply_bytes"),
                                "library_MBps": lib_mb, "raw_MBps": raw_mb, "ratio": ratio,
                                "peak_x_payload": peak, "raw_peak_x_payload": raw_peak})
        if not ok:
            summary["missed"].append(f"bulk {call} {size}")
    print()
    print("Codec (single thread)")
    print(f"  {'operation':<30}{'MB/s':>10}{'M items/s':>11}   target")
    for name in sorted(n for n in runs if n.startswith("codec/")):
        r = usable(name)
        if not r:
            print(f"  {name[6:]:<30}  (not measured)")
            continue
        bps, ips = r.get("bytes_per_second", 0), r.get("items_per_second", 0)
        target = ""
        if name.startswith("codec/decode/double_array"):
            ok = bps >= HEX_DECODE_MIN
            target = f">= {HEX_DECODE_MIN / 1e9:.0f} GB/s  {verdict(ok)}"
            if not ok:
                summary["missed"].append("hex decode")
        print(f"  {name[6:]:<30}{bps / 1e6:>10.0f}{ips / 1e6:>11.2f}   {target}")
        summary["codec"].append({"operation": name[6:], "MBps": bps / 1e6, "Mitems_per_s": ips / 1e6})
    print()
    cb = usable("callback/listener_6009")
    if cb:
        rate = cb.get("items_per_second", 0)
        print(f"Callback listener on 6009: {rate:,.0f} messages answered per second "
              f"({seconds(cb) * 1e6:.2f} us per message)")
        summary["callback"] = {"messages_per_s": rate}
    else:
        message = runs.get("callback/listener_6009", {}).get("error_message", "not measured")
        print(f"Callback listener on 6009: {message}")
    for name in errors:
        print(f"error in {name}: {runs[name].get('error_message')}")
    print()
    print("targets missed: " + (", ".join(summary["missed"]) if summary["missed"] else "none"))
    if len(argv) > 3:
        with open(argv[3], "w") as f:
            json.dump(summary, f, indent=2)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
