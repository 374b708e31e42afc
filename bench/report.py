#!/usr/bin/env python3
"""Prints the benchmark table (library next to the raw-socket floor, with the
targets) from Google Benchmark's JSON and the callgrind counts, and writes the
figures as one summary JSON. Targets are figures to read, never a failure:
the exit code says only whether the table could be made.

    report.py BENCH_JSON [CALLGRIND_JSON] [SUMMARY_JSON]
"""
import json
import sys

# The targets. Small calls: wall clock against the raw ping-pong, heap
# allocations and user-space instructions per call. Bulk: library against the
# floor at the largest sizes, and the library's own memory over the reply
# bytes from 1 MiB up. Decode: bulk outputs into the caller's memory.
SMALL_RATIO_MAX = 1.03
ALLOCATIONS_MAX = 0
INSTRUCTIONS_MAX = 1500
# Sessions: a session's small call against the flat export's in the same
# run, two sessions to two servers from two threads against one, and an
# event's way to a host waiting for it (median).
SESSION_RATIO_MAX = 1.02
TWO_SESSIONS_SPEEDUP_MIN = 1.8
EVENT_TO_HOST_MAX_US = 1000
BULK_RATIO_MIN = 0.9
BULK_TARGETED_SIZES = ("64MiB", "1M")
PEAK_MAX = 1.05
PEAK_MIN_BYTES = 1 << 20
DECODE_MIN = 5e9  # bytes of token per second
DECODE_TARGETED = ("codec/decode/double_array/", "codec/decode/text/")


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


def fmt(value, pattern):
    # A missing figure is a "-" as wide as a figure would be.
    return format(value, pattern) if value is not None else "-".rjust(len(format(0.0, pattern)))


class Targets:
    """Every target, met or missed, in the order the table shows them."""

    def __init__(self):
        self.rows = []

    def check(self, what, value, limit, at_most, unit="", allowed=None):
        """Records one target; returns its verdict for the table. `allowed`:
        the best figure the library's contract leaves possible in this run."""
        ok = None if value is None else value <= limit if at_most else value >= limit
        bound = f"{'<=' if at_most else '>='} {limit:g}{unit}"
        self.rows.append({"target": what, "bound": bound, "value": value, "ok": ok, "allowed": allowed})
        return f"{bound} " + ("not measured" if ok is None else "ok" if ok else "MISSED")

    def missed(self):
        return [r["target"] for r in self.rows if r["ok"] is False]

    def print(self):
        print("Targets (figures from this run; allowed = the best ratio the contract leaves in this run:")
        print("small calls pay one system call the raw client does not, the check for stale bytes; a bulk")
        print("call writes the caller's memory only once the whole reply is in, so its delivery follows")
        print("the last byte)")
        for r in self.rows:
            verdict = "not measured" if r["ok"] is None else "ok" if r["ok"] else "MISSED"
            value = r["value"]
            shown = fmt(value, ">12,.0f" if value is not None and value >= 100 else ">12.3f")
            allowed = f"  allowed {r['allowed']:.3f}" if r["allowed"] is not None else ""
            print(f"  {r['target']:<46}{shown}  {r['bound']:<14}{verdict:<7}{allowed}")


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
    targets = Targets()
    summary = {"date": context.get("date"), "host": context.get("host_name"),
               "cpus": context.get("num_cpus"), "small": [],
               "bulk": [], "codec": [], "callback": None}
    errors = [n for n, r in runs.items() if r.get("error_occurred")]

    def usable(name):
        r = runs.get(name)
        return r if r and not r.get("error_occurred") else None

    print(f"Run {context.get('date', '?')} on {context.get('num_cpus', '?')} CPUs "
          f"({context.get('mhz_per_cpu', '?')} MHz)")
    print()
    print("Small calls over loopback (median us per call, library and raw ping-pong alternating; heap")
    print("allocations per library call, counted on the calling thread; user-space instructions per call,")
    print("callgrind inside the export)")
    print(f"  {'call':<26}{'library':>10}{'raw floor':>11}{'ratio':>8}{'allocs':>8}{'instr':>8}   targets")
    for call in ("RX_CentreFrequency_Set", "RX_CentreFrequency_Get"):
        instructions = callgrind.get(call)
        pair = usable(f"small/{call}/paired")
        lib_us = pair["library_us"] if pair and pair.get("raw_us") else None
        raw_us = pair["raw_us"] if lib_us is not None else None
        ratio = lib_us / raw_us if lib_us is not None else None
        allocations = pair.get("allocations_per_call") if pair else None
        check_us = pair.get("stale_check_us") if lib_us is not None else None
        allowed = (raw_us + check_us) / raw_us if check_us is not None else None
        verdicts = [targets.check(f"small {call} wall clock / raw", ratio, SMALL_RATIO_MAX, True, "x", allowed),
                    targets.check(f"small {call} allocations", allocations, ALLOCATIONS_MAX, True, " allocs"),
                    targets.check(f"small {call} instructions", instructions, INSTRUCTIONS_MAX, True, " instr")]
        print(f"  {call:<26}{fmt(lib_us, '>10.2f')}{fmt(raw_us, '>11.2f')}{fmt(ratio, '>8.3f')}"
              f"{fmt(allocations, '>8.1f')}{fmt(instructions, '>8.0f')}   {', '.join(verdicts)}")
        summary["small"].append({"call": call, "library_us": lib_us, "raw_us": raw_us, "ratio": ratio,
                                 "stale_check_us": check_us, "allowed_ratio": allowed,
                                 "allocations_per_call": allocations, "instructions_per_call": instructions})
    if not callgrind:
        print("  (instructions not measured: valgrind missing)")
    print()
    print("Bulk, end to end (MB/s of reply bytes; the floor receives the same prepared reply into one")
    print("buffer of its final size; peak = growth of the heap's high-water mark during the call / reply")
    print("bytes, resident = growth of the peak resident set / reply bytes, for the library and the floor;")
    print("chunked = the floor in receives of the library's chunk size, for reading the gap, not a target)")
    print(f"  {'call':<22}{'size':>7}{'library':>9}{'floor':>8}{'ratio':>7}{'chunked':>9}{'peak':>7}"
          f"{'resident':>10}{'floor res':>10}   targets")
    bulk = sorted({n.rsplit("/", 1)[0] for n in runs if n.startswith("bulk/")},
                  key=lambda n: (n.split("/")[1], runs.get(n + "/library", {}).get("reply_bytes", 0)))
    for base in bulk:
        _, call, size = base.split("/")
        lib, floor = usable(base + "/library"), usable(base + "/floor")
        if not lib or not floor:
            print(f"  {call:<22}{size:>7}  (not measured)")
            continue
        lib_mb, floor_mb = lib["bytes_per_second"] / 1e6, floor["bytes_per_second"] / 1e6
        ratio = lib_mb / floor_mb
        peak, resident = lib.get("peak_x_payload"), lib.get("resident_x_payload")
        floor_resident = floor.get("resident_x_payload")
        chunked = usable(base + "/floor_chunked")
        chunked_mb = chunked["bytes_per_second"] / 1e6 if chunked else None
        delivery = usable(base + "/delivery")
        allowed = seconds(floor) / (seconds(floor) + seconds(delivery)) if delivery else None
        verdicts = []
        if size in BULK_TARGETED_SIZES:
            verdicts.append(targets.check(f"bulk {call} {size} library / floor", ratio, BULK_RATIO_MIN, False, "x",
                                          allowed))
        # Below 1 MiB a few pages of start-up swamp the reply.
        if lib.get("reply_bytes", 0) >= PEAK_MIN_BYTES:
            verdicts.append(targets.check(f"peak {call} {size} / reply bytes", peak, PEAK_MAX, True, "x"))
        print(f"  {call:<22}{size:>7}{lib_mb:>9.0f}{floor_mb:>8.0f}{ratio:>7.2f}{fmt(chunked_mb, '>9.0f')}"
              f"{fmt(peak, '>7.3f')}"
              f"{fmt(resident, '>10.2f')}{fmt(floor_resident, '>10.2f')}   {', '.join(verdicts)}")
        summary["bulk"].append({"call": call, "size": size, "reply_bytes": lib.get("reply_bytes"),
                                "library_MBps": lib_mb, "floor_MBps": floor_mb, "ratio": ratio,
                                "floor_chunked_MBps": chunked_mb,
                                "delivery_ms": seconds(delivery) * 1e3 if delivery else None,
                                "allowed_ratio": allowed,
                                "peak_x_payload": peak, "peak_bytes": lib.get("peak_bytes"),
                                "resident_x_payload": resident, "floor_resident_x_payload": floor_resident})
    print()
    print("Codec (single thread; the large decodes write into the caller's memory)")
    print(f"  {'operation':<30}{'MB/s':>10}{'M items/s':>11}   target")
    for name in sorted(n for n in runs if n.startswith("codec/")):
        r = usable(name)
        targeted = name.startswith(DECODE_TARGETED)
        if not r:
            if targeted:
                targets.check(f"decode {name[13:]} GB/s", None, DECODE_MIN / 1e9, False)
            print(f"  {name[6:]:<30}  (not measured)")
            continue
        bps, ips = r.get("bytes_per_second", 0), r.get("items_per_second", 0)
        target = targets.check(f"decode {name[13:]} GB/s", bps / 1e9, DECODE_MIN / 1e9, False, " GB/s") \
            if targeted else ""
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
    print()
    print("Sessions")
    versus = usable("sessions/RX_CentreFrequency_Get/session_vs_flat")
    if versus:
        print(f"  small call: session {versus.get('session_us', 0):.2f} us, flat {versus.get('flat_us', 0):.2f} us")
        targets.check("session small call / flat", versus.get("ratio", 0), SESSION_RATIO_MAX, True, "x")
    two = usable("sessions/two_servers_two_threads/iterations:3")
    if two:
        print(f"  one session {two.get('one_session_calls_per_s', 0):,.0f} calls/s, two sessions from two threads "
              f"{two.get('two_sessions_calls_per_s', 0):,.0f} calls/s (on {context.get('num_cpus', '?')} CPUs, "
              f"shared with the servers)")
        targets.check("two sessions / one, calls per second", two.get("speedup", 0), TWO_SESSIONS_SPEEDUP_MIN, False,
                      "x")
    event = usable("sessions/event_to_waiting_host/iterations:200")
    if event:
        print(f"  event to a waiting host: {event.get('event_to_host_us', 0):.1f} us (median)")
        targets.check("event to a waiting host, us", event.get("event_to_host_us", 0), EVENT_TO_HOST_MAX_US, True,
                      " us")
    summary["sessions"] = {k: r for k, r in (("versus_flat", versus), ("two_servers", two), ("event", event)) if r}
    for name in errors:
        print(f"error in {name}: {runs[name].get('error_message')}")
    print()
    targets.print()
    summary["targets"] = targets.rows
    summary["missed"] = targets.missed()
    print()
    print("targets missed: " + (", ".join(summary["missed"]) if summary["missed"] else "none"))
    if len(argv) > 3:
        with open(argv[3], "w") as f:
            json.dump(summary, f, indent=2)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
