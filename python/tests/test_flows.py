"""One host flow per family against the emulator's built-in content, and the repository's Python example."""

import os
import subprocess
import sys

import pytest
from conftest import REPO


def test_connection_texts_and_server_queries(bse):
    assert bse.connection_status_get() == -1  # connect announced -1
    bse.remote_connection_set(0)
    assert bse.connection_status_get() == 0
    assert bse.get_error_msg_length(0) == len(bse.get_error_msg(0)) + 1
    assert bse.get_error_msg(-18) == "Remote Message Error - Internal Object Error!"
    assert bse.get_server_version() == (6, 0, 0, 0)
    bse.protocol_measurement_enabled_set(0, True)
    bse.full_protocol_reset()
    assert bse.protocol_measurement_enabled_get(0) == 0


LISTS = {"test_case": ["Attach", "Detach", "Handover_Intra", "Handover_Inter", "Paging"],
         "scenario": ["Idle_Camping", "Call_Setup"], "debug_filters": ["RRC", "NAS", "MAC", "PHY"],
         "protocol_message_xml": ["rrc_connection_setup.xml", "attach_accept.xml"],
         "system_param_file": ["default_cell.par", "two_cells.par", "high_load.par"]}


@pytest.mark.parametrize("stem, expected", LISTS.items(), ids=LISTS)
def test_listed_names_and_their_lengths(bse, stem, expected):
    count = getattr(bse, f"{stem}_count_get", None) or getattr(bse, f"{stem}_get_count")
    names = [getattr(bse, f"{stem}_name_get")(i) for i in range(count())]
    assert names == expected
    assert [getattr(bse, f"{stem}_name_length_get")(i) for i in range(len(names))] == [len(n) for n in names]


def test_test_case_runs_filter_changes_apply_when_accepted_and_overload_shows(bse):
    assert bse.test_case_group_name_length_get(0) == len(bse.test_case_group_name_get(0)) > 0
    bse.test_case_run(0)
    bse.debug_filters_state_set("NAS", 1)
    assert bse.debug_filters_state_get("NAS") == 0
    bse.debug_filters_accept_changes()
    bse.debug_filters_reject_changes()
    assert bse.debug_filters_state_get("NAS") == 1
    bse.rx_input_level_set(1, 3.0)  # above the 0 dBm overload level
    assert (bse.adc_overloaded_get(0), bse.adc_overloaded_get(1)) == (0, 1)


def test_protocol_and_lte_results_through_handles(bse):
    assert bse.protocol_results_available_get() == 0
    bse.protocol_measurement_enabled_set(1, True)
    assert (bse.protocol_measurement_enabled_get(1), bse.protocol_results_available_get()) == (-1, 1)
    handle = bse.protocol_results_get_handle()
    assert bse.protocol_results_get_trace_length(handle, 0) == len(bse.protocol_results_get_trace(handle, 0)[0])
    assert [bse.protocol_results_get_result_item(handle, i) for i in (0, 2)] == [(100.0, 0.0), (300.0, 1.0)]
    bse.results_delete_handle(handle)
    bse.lte_measurement_enabled_set(1, 3, True)
    assert bse.lte_measurement_enabled_get(1, 3) == -1
    assert (bse.lte_results_available_get(0), bse.lte_results_available_get(1)) == (0, 1)
    handle = bse.lte_results_get_handle(1)
    assert bse.lte_results_cell_get(handle) == 2  # cell id 1 + path index 1
    assert bse.lte_results_get_trace_length(handle, 2) == len(bse.lte_results_get_trace(handle, 2)[1])
    values = [getattr(bse, f"lte_results_{m}_get")(handle) for m in (
        "evm_rms", "evm_carrier", "evm_non_allocated_carriers", "freq_error", "carrier_leak", "symbol_clk_error",
        "iq_gain_imbalance", "iq_skew")]
    assert values == pytest.approx([1.25, 1.5, 0.75, 12.5, -45, 0.02, 0.05, 0.5], rel=1e-7)  # 32-bit floats


@pytest.mark.tqbse_emulator(scenario_ms=60000)
def test_uploaded_files_download_and_a_scenario_runs(bse):
    for stem, name, content in [("scenario", "Sweep", "<scenario><step level=\"-90\"/></scenario>"),
                                ("protocol_message_xml", "paging.xml", "<message name=\"Paging\"/>")]:
        getattr(bse, stem + "_upload")(name, content)
        assert getattr(bse, stem + "_download_size_get")(name) == len(content)
        assert getattr(bse, stem + "_download")(name) == content
    assert bse.scenario_is_running_get() == 0
    bse.scenario_execute("Sweep")
    assert bse.scenario_is_running_get() == 1


@pytest.mark.tqbse_emulator(scenario_ms=100)
def test_quickstart_example_passes_where_numpy_cannot_be_imported(emulator):
    script = REPO / "examples" / "python" / "quickstart.py"
    if not script.is_file():
        pytest.skip("not in a repository checkout")
    program = f"import runpy, sys; sys.modules['numpy'] = None; runpy.run_path({str(script)!r}, run_name='__main__')"
    done = subprocess.run([sys.executable, "-c", program, emulator.address], capture_output=True, text=True,
                          timeout=60, env=dict(os.environ))
    lines = done.stdout.splitlines()
    assert done.returncode == 0 and lines[-1] == "RESULT: PASSED", done.stdout + done.stderr
    assert "scenario finished" in lines and "test case 0: Attach" in done.stdout
