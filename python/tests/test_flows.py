"""One host flow per family against the emulator's built-in content; together they make every remote call."""

import struct

import pytest

import tqbse


def f32(value):
    return struct.unpack("f", struct.pack("f", value))[0]


def test_connection_status_follows_remote_connection_set(bse):
    assert bse.connection_status_get() == -1  # connect announced -1
    bse.remote_connection_set(0)
    assert bse.connection_status_get() == 0
    bse.remote_connection_set(True)
    assert bse.connection_status_get() == -1


def test_result_code_texts_local_and_from_the_server(bse):
    assert bse.get_error_msg_length(0) == len(bse.get_error_msg(0)) + 1
    assert bse.get_error_msg(-18) == "Remote Message Error - Internal Object Error!"
    assert bse.get_error_msg(-15) == "Emulator: no text is known for this result code"


def test_server_queries(bse):
    assert bse.get_server_version() == (6, 0, 0, 0)
    handle = (bse.protocol_measurement_enabled_set(0, True), bse.protocol_results_get_handle())[1]
    bse.full_protocol_reset()
    assert bse.protocol_measurement_enabled_get(0) == 0
    with pytest.raises(tqbse.UnknownObjectError):
        bse.results_delete_handle(handle)


def test_rf_settings_read_back(bse):
    bse.rx_centre_frequency_set(1, 1.8425e9)
    bse.tx_centre_frequency_set(1, 1.7475e9)
    bse.rx_input_level_set(1, -72.3)
    bse.tx_reference_level_set(1, -25.5)
    assert (bse.rx_centre_frequency_get(1), bse.tx_centre_frequency_get(1)) == (1.8425e9, 1.7475e9)
    assert (bse.rx_input_level_get(1), bse.tx_reference_level_get(1)) == (f32(-72.3), -25.5)
    bse.logging_state_set(True)
    bse.rf_measurement_state_set(7)
    assert (bse.logging_state_get(), bse.rf_measurement_state_get()) == (-1, 7)
    assert bse.adc_overloaded_get(1) == 0
    bse.rx_input_level_set(1, 3.0)  # above the 0 dBm overload level
    assert bse.adc_overloaded_get(1) == 1
    with pytest.raises(tqbse.UnknownObjectError):
        bse.rx_centre_frequency_set(2, 1e9)  # two paths built in


def test_test_cases_listed_and_run(bse):
    count = bse.test_case_count_get()
    names = [bse.test_case_name_get(i) for i in range(count)]
    assert names == ["Attach", "Detach", "Handover_Intra", "Handover_Inter", "Paging"]
    assert bse.test_case_name_length_get(2) == len("Handover_Intra")
    group = bse.test_case_group_name_get(0)
    assert group and bse.test_case_group_name_length_get(0) == len(group)
    bse.test_case_run(0)
    with pytest.raises(tqbse.UnknownObjectError):
        bse.test_case_run(count)


def test_protocol_results_through_a_handle(bse):
    assert bse.protocol_results_available_get() == 0
    bse.protocol_measurement_enabled_set(1, True)
    assert (bse.protocol_measurement_enabled_get(1), bse.protocol_results_available_get()) == (-1, 1)
    handle = bse.protocol_results_get_handle()
    length = bse.protocol_results_get_trace_length(handle, 0)
    x, y = bse.protocol_results_get_trace(handle, 0)
    assert len(x) == len(y) == length == 4096
    assert [bse.protocol_results_get_result_item(handle, i) for i in range(4)] == [
        (100.0, 0.0), (200.0, 0.5), (300.0, 1.0), (400.0, 1.5)]
    bse.results_delete_handle(handle)
    with pytest.raises(tqbse.UnknownObjectError):
        bse.protocol_results_get_trace(handle, 0)


def test_lte_results_through_a_handle(bse):
    bse.lte_measurement_enabled_set(1, 3, True)
    assert bse.lte_measurement_enabled_get(1, 3) == -1
    assert (bse.lte_results_available_get(0), bse.lte_results_available_get(1)) == (0, 1)
    handle = bse.lte_results_get_handle(1)
    assert bse.lte_results_cell_get(handle) == 2  # cell id 1 + path index 1
    assert bse.lte_results_get_trace_length(handle, 2) == len(bse.lte_results_get_trace(handle, 2)[1])
    values = [bse.lte_results_evm_rms_get(handle), bse.lte_results_evm_carrier_get(handle),
              bse.lte_results_evm_non_allocated_carriers_get(handle), bse.lte_results_freq_error_get(handle),
              bse.lte_results_carrier_leak_get(handle), bse.lte_results_symbol_clk_error_get(handle),
              bse.lte_results_iq_gain_imbalance_get(handle), bse.lte_results_iq_skew_get(handle)]
    assert values == [f32(v) for v in (1.25, 1.5, 0.75, 12.5, -45, 0.02, 0.05, 0.5)]
    bse.results_delete_handle(handle)
    with pytest.raises(tqbse.UnknownObjectError):
        bse.results_delete_handle(handle)


@pytest.mark.tqbse_emulator(scenario_ms=60000)
def test_scenarios_upload_download_and_execute(bse):
    before = bse.scenario_count_get()
    assert [bse.scenario_name_get(i) for i in range(before)] == ["Idle_Camping", "Call_Setup"]
    assert bse.scenario_name_length_get(1) == len("Call_Setup")
    bse.scenario_upload("Sweep", "<scenario><step level=\"-90\"/></scenario>")
    assert bse.scenario_count_get() == before + 1
    assert bse.scenario_download_size_get("Sweep") == len(bse.scenario_download("Sweep"))
    assert bse.scenario_is_running_get() == 0
    bse.scenario_execute("Sweep")
    assert bse.scenario_is_running_get() == 1
    with pytest.raises(tqbse.UnknownObjectError):
        bse.scenario_execute("Missing")


def test_debug_filter_changes_apply_only_when_accepted(bse):
    names = [bse.debug_filters_name_get(i) for i in range(bse.debug_filters_get_count())]
    assert names == ["RRC", "NAS", "MAC", "PHY"]
    assert bse.debug_filters_name_length_get(0) == 3
    bse.debug_filters_state_set("NAS", 1)
    assert bse.debug_filters_state_get("NAS") == 0
    bse.debug_filters_reject_changes()
    bse.debug_filters_accept_changes()
    assert bse.debug_filters_state_get("NAS") == 0
    bse.debug_filters_state_set("NAS", 1)
    bse.debug_filters_accept_changes()
    assert bse.debug_filters_state_get("NAS") == 1


def test_protocol_message_xml_and_system_parameter_files(bse):
    count = bse.protocol_message_xml_count_get()
    assert bse.protocol_message_xml_name_get(0) == "rrc_connection_setup.xml"
    assert bse.protocol_message_xml_name_length_get(0) == len("rrc_connection_setup.xml")
    bse.protocol_message_xml_upload("paging.xml", "<message name=\"Paging\"/>")
    assert bse.protocol_message_xml_count_get() == count + 1
    assert bse.protocol_message_xml_download_size_get("paging.xml") == len("<message name=\"Paging\"/>")
    assert bse.protocol_message_xml_download("paging.xml") == "<message name=\"Paging\"/>"
    files = [bse.system_param_file_name_get(i) for i in range(bse.system_param_file_count_get())]
    assert files == ["default_cell.par", "two_cells.par", "high_load.par"]
    assert bse.system_param_file_name_length_get(2) == len("high_load.par")
