#!/usr/bin/env python3
"""Fetches a protocol trace and an LTE trace and draws them into a PNG.

    python3 plot_trace.py [--server A.B.C.D] [--output trace.png] [--points N]

Without --server it starts tqbse-emulator itself on a free loopback address
(the program from $TQBSE_EMULATOR or PATH) with N points per trace.
"""

import argparse
import contextlib

import matplotlib

matplotlib.use("Agg")  # files only, no display needed
import matplotlib.pyplot as plt  # noqa: E402

import tqbse  # noqa: E402
from tqbse.emulator import Emulator  # noqa: E402


def fetch(bse):
    """(protocol x, y), (LTE x, y): trace 0 of fresh protocol and LTE results of path 0."""
    bse.protocol_measurement_enabled_set(0, True)
    bse.lte_measurement_enabled_set(0, 0, True)
    handle = bse.protocol_results_get_handle()
    try:
        protocol = bse.protocol_results_get_trace(handle, 0)
    finally:
        bse.results_delete_handle(handle)
    handle = bse.lte_results_get_handle(0)
    try:
        lte = bse.lte_results_get_trace(handle, 0)
    finally:
        bse.results_delete_handle(handle)
    return protocol, lte


def draw(protocol, lte, title, output):
    figure, (top, bottom) = plt.subplots(2, 1, figsize=(8, 6), constrained_layout=True)
    top.plot(protocol[0], protocol[1], color="tab:blue", linewidth=1)
    top.set(title="Protocol results, trace 0", xlabel="time (ms)", ylabel="value")
    bottom.plot([x / 1e6 for x in lte[0]], lte[1], color="tab:orange", linewidth=1)
    bottom.set(title="LTE results, trace 0", xlabel="frequency (MHz)", ylabel="level (dB)")
    for axes in (top, bottom):
        axes.grid(True, alpha=0.3)
    figure.suptitle(title)
    figure.savefig(output, dpi=100)
    plt.close(figure)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--server", help="server address A.B.C.D (default: start tqbse-emulator on loopback)")
    parser.add_argument("--output", default="trace.png", help="PNG file to write (default trace.png)")
    parser.add_argument("--points", type=int, default=512, help="points per trace for the started emulator")
    args = parser.parse_args()

    with contextlib.ExitStack() as stack:
        address = args.server
        if address is None:
            address = stack.enter_context(Emulator({"trace_length": args.points})).address
        with tqbse.connect(address) as bse:
            protocol, lte = fetch(bse)
            version = ".".join(map(str, bse.get_server_version()))
    draw(protocol, lte, f"tqbse {version} at {address}: {len(protocol[0])} and {len(lte[0])} points", args.output)
    print(f"wrote {args.output}")


if __name__ == "__main__":
    main()
