#!/usr/bin/env python3
"""The C example host program in Python: one walk through every family of calls.

    python3 quickstart.py [A.B.C.D]      (default 127.0.0.1)

Every failure raises tqbse.Error (the first one ends the program with its
code and text); version differences arrive as warnings.
"""

import sys
import time

import tqbse


def wait_for(poll, wanted, seconds):
    """Polls a flag getter every 0.1 s until it reads wanted (as truth), at most `seconds`."""
    for _ in range(int(seconds * 10) + 1):
        if bool(poll()) == wanted:
            return True
        time.sleep(0.1)
    return False


def main(address):
    with tqbse.connect(address) as bse:
        print("server", ".".join(map(str, bse.get_server_version())), "library", bse.library.path)

        bse.rx_centre_frequency_set(0, 1.95e9)
        bse.rx_input_level_set(0, -50.0)
        bse.tx_centre_frequency_set(0, 2.14e9)
        bse.tx_reference_level_set(0, -20.0)
        print(f"RX {bse.rx_centre_frequency_get(0):.0f} Hz at {bse.rx_input_level_get(0):.1f} dBm, "
              f"TX {bse.tx_centre_frequency_get(0):.0f} Hz at {bse.tx_reference_level_get(0):.1f} dBm")

        for i in range(min(bse.test_case_count_get(), 20)):
            print(f"test case {i}: {bse.test_case_name_get(i)} ({bse.test_case_group_name_get(i)})")
        bse.test_case_run(0)

        scenario = "<scenario><step>attach</step><step>detach</step></scenario>"
        bse.scenario_upload("example_attach", scenario)
        assert bse.scenario_download("example_attach") == scenario  # sized by Scenario_DownloadSize_Get
        bse.scenario_execute("example_attach")
        print("scenario finished" if wait_for(bse.scenario_is_running_get, False, 30) else "scenario still running")

        bse.protocol_measurement_enabled_set(0, True)
        bse.lte_measurement_enabled_set(0, 0, True)
        handle = bse.protocol_results_get_handle()
        x, y = bse.protocol_results_get_trace(handle, 0)
        print(f"protocol item 0 {bse.protocol_results_get_result_item(handle, 0)}, trace 0: {len(x)} points")
        bse.results_delete_handle(handle)
        handle = bse.lte_results_get_handle(0)
        print(f"LTE cell {bse.lte_results_cell_get(handle)}, EVM rms {bse.lte_results_evm_rms_get(handle):.3f} %")
        bse.results_delete_handle(handle)

        name = bse.debug_filters_name_get(0)
        bse.debug_filters_state_set(name, True)
        bse.debug_filters_accept_changes()
        print(f"filter {name} state {bse.debug_filters_state_get(name)}")

        bse.protocol_message_xml_upload("example.xml", "<message name=\"Example\"/>")
        print("XML files:", [bse.protocol_message_xml_name_get(i) for i in range(bse.protocol_message_xml_count_get())])
        print("parameter files:",
              [bse.system_param_file_name_get(i) for i in range(bse.system_param_file_count_get())])
    print("RESULT: PASSED")


if __name__ == "__main__":
    try:
        main(sys.argv[1] if len(sys.argv) > 1 else "127.0.0.1")
    except tqbse.Error as e:
        print(f"RESULT: FAILED ({e})")
        sys.exit(1)
