"""Negative results become exceptions of the right class with the library's text; 1 and 2 become warnings."""

import re
import time

import pytest

import tqbse
from tqbse._errors import error_for

FAULTS = [
    ({"wrong_name": True}, tqbse.ReplyError, -10),
    ({"missing_outputs": True}, tqbse.ReplyError, -11),
    ({"bad_hex": True}, tqbse.ReplyError, -6),
    ({"close_mid_reply": True}, tqbse.NoResponseError, -14),
]


@pytest.mark.parametrize(
    "emulator, error, code",
    [({"fault_call": "RX_CentreFrequency_Get", **options}, error, code) for options, error, code in FAULTS],
    indirect=["emulator"],
    ids=[next(iter(options)) for options, _, _ in FAULTS],
)
def test_emulator_fault_raises_its_class_with_code_text_and_call(bse, error, code):
    with pytest.raises(error) as caught:
        bse.rx_centre_frequency_get(0)
    e = caught.value
    assert (e.code, e.call, e.sizing) == (code, "RX_CentreFrequency_Get", None)
    assert e.text and e.text == bse.get_error_msg(code)
    assert str(e) == f"RX_CentreFrequency_Get failed: {code} {e.text}"


@pytest.mark.tqbse_emulator(fault_call="RX_CentreFrequency_Get", close_mid_reply=True)
def test_lost_connection_keeps_failing_until_reconnected(bse, emulator):
    with pytest.raises(tqbse.NoResponseError):
        bse.rx_centre_frequency_get(0)
    with pytest.raises(tqbse.NoResponseError):
        bse.tx_centre_frequency_get(0)
    bse.close()
    with tqbse.connect(emulator.address) as again:
        assert again.tx_centre_frequency_get(0) > 0


@pytest.mark.tqbse_emulator(fault_call="Scenario_DownloadSize_Get", missing_outputs=True)
def test_failed_length_query_names_the_query_and_the_sized_call(bse):
    with pytest.raises(tqbse.ReplyError) as caught:
        bse.scenario_download("Idle_Camping")
    assert (caught.value.code, caught.value.call, caught.value.sizing) == (-11, "Scenario_DownloadSize_Get",
                                                                          "Scenario_Download")
    assert "(sizing Scenario_Download)" in str(caught.value)


def test_server_codes_map_to_their_classes(bse):
    with pytest.raises(tqbse.UnknownObjectError, match="Results_DeleteHandle failed: -18 "):
        bse.results_delete_handle(12345)
    with pytest.raises(tqbse.NotValidRemotelyError) as caught:
        bse.tarquel_private_data_set(1)
    assert caught.value.code == -17


def test_unreachable_server_raises_no_response_and_leaves_nothing_open(unused_loopback):
    with pytest.raises(tqbse.NoResponseError) as caught:
        tqbse.connect(unused_loopback)
    assert caught.value.call == "Initialise"
    assert tqbse._connection._current is None


@pytest.mark.parametrize("emulator, code", [({"version": "7.0.0.0"}, 2), ({"version": "5.9.0.0"}, 1)],
                         indirect=["emulator"], ids=["server-newer", "server-older"])
def test_version_difference_warns_and_still_returns(bse, code):
    with pytest.warns(tqbse.VersionWarning) as caught:
        version = bse.get_server_version()
    assert version == ((7, 0, 0, 0) if code == 2 else (5, 9, 0, 0))
    assert [w.message.code for w in caught] == [code]
    assert caught[0].message.text == bse.get_error_msg(code)


def test_every_failure_code_of_the_header_has_its_own_class(header_text):
    codes = [int(c) for c in re.findall(r"#define TQBSE_\w+ \((-\d+)\)", header_text)]
    assert len(codes) > 10
    for code in codes:
        error = error_for(code, "", "X")
        assert isinstance(error, tqbse.Error)
        assert (type(error) is tqbse.Error) == (code == -1), code
    assert type(error_for(-15, "", "X")) is tqbse.Error  # a code no class claims


@pytest.mark.tqbse_emulator(fault_call="RX_CentreFrequency_Get", stall_after=10)
def test_stalled_reply_raises_no_response_once_the_timeout_passes_and_stays_closed(emulator):
    with tqbse.connect(emulator.address, timeout=0.3) as bse:
        started = time.monotonic()
        with pytest.raises(tqbse.NoResponseError):
            bse.rx_centre_frequency_get(0)
        assert 0.3 <= time.monotonic() - started < 3.0
        # The library closed the connection: nothing is read late.
        with pytest.raises(tqbse.NoResponseError):
            bse.tx_centre_frequency_get(0)
    with tqbse.connect(emulator.address, timeout=0.3) as again:
        assert again.tx_centre_frequency_get(0) > 0
