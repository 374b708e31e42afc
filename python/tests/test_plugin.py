"""The emulator and bse fixtures: loopback address range, options reaching the emulator, clean stop."""

import ipaddress

import pytest

from tqbse.emulator import ADDRESSES, Emulator, address_is_free


@pytest.mark.tqbse_emulator(trace_length=32, version="6.1.0.0")
@pytest.mark.parametrize("emulator", [{"trace_length": 16}], indirect=True)
def test_marker_options_reach_the_emulator_and_a_parameter_overrides_them(emulator, bse):
    assert emulator.address in ADDRESSES and ipaddress.ip_address(emulator.address).is_loopback
    assert bse.address == emulator.address
    with pytest.warns(UserWarning):
        assert bse.get_server_version() == (6, 1, 0, 0)
    bse.protocol_measurement_enabled_set(0, True)
    assert bse.protocol_results_get_trace_length(bse.protocol_results_get_handle(), 0) == 16


def test_stopped_emulator_frees_its_address():
    server = Emulator({"trace_length": 8}).start()
    assert server.running and not address_is_free(server.address)
    assert server.output[0].endswith(f"listening on {server.address}:6002")
    assert server.stop() == 0
    assert not server.running and address_is_free(server.address)


def test_rejected_option_is_reported_with_the_emulator_output():
    with pytest.raises(RuntimeError, match="did not start"):
        Emulator({"no_such_option": 1}).start()
    with pytest.raises(ValueError, match="--bind"):
        Emulator({"bind": "127.0.0.1"})
