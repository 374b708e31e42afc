"""Arguments are typed and range-checked in Python: a bad one raises and nothing is called."""

import math
import struct

import pytest

import tqbse

BAD = [
    ("rx_centre_frequency_set", ("0", 1.0), TypeError),
    ("rx_centre_frequency_set", (0.0, 1.0), TypeError),
    ("rx_centre_frequency_set", (True, 1.0), TypeError),
    ("rx_centre_frequency_set", (0, "1.95e9"), TypeError),
    ("rx_centre_frequency_set", (0, None), TypeError),
    ("rx_centre_frequency_set", (2**31, 1.0), ValueError),
    ("rx_centre_frequency_set", (-(2**31) - 1, 1.0), ValueError),
    ("rx_input_level_set", (0, 1e39), ValueError),
    ("rx_input_level_set", (0, False), TypeError),
    ("logging_state_set", ("on",), TypeError),
    ("logging_state_set", (2**32 - 1,), ValueError),
    ("scenario_upload", ("name", 5), TypeError),
    ("scenario_upload", ("name", None), TypeError),
    ("scenario_upload", ("na\0me", "content"), ValueError),
    ("scenario_upload", ("name", b"con\0tent"), ValueError),
    ("scenario_upload", ("name", "\u20ac 5"), ValueError),
    ("rx_centre_frequency_get", (), TypeError),
]


@pytest.mark.parametrize("method, args, error", BAD, ids=[f"{m}{a!r}" for m, a, _ in BAD])
def test_bad_argument_raises_before_anything_is_sent(bse, recorder, method, args, error):
    with pytest.raises(error):
        getattr(bse, method)(*args)
    assert recorder.calls == []


def test_boundary_values_are_sent_for_the_server_to_judge(bse):
    for index in (2**31 - 1, -(2**31)):
        with pytest.raises(tqbse.UnknownObjectError):
            bse.rx_centre_frequency_get(index)


def test_flags_travel_unchanged_and_true_is_minus_one(bse):
    bse.logging_state_set(2)
    assert bse.logging_state_get() == 2
    bse.logging_state_set(True)
    assert bse.logging_state_get() == -1
    bse.logging_state_set(False)
    assert bse.logging_state_get() == 0


def test_index_like_and_real_numbers_are_accepted(bse):
    numpy = pytest.importorskip("numpy")
    bse.rx_input_level_set(numpy.int64(1), numpy.float32(-12.5))
    assert bse.rx_input_level_get(1) == -12.5
    bse.tx_centre_frequency_set(0, 2_140_000_001)  # an int where a double is due
    assert bse.tx_centre_frequency_get(0) == 2_140_000_001.0


def test_float_arguments_round_to_32_bits_and_doubles_do_not(bse):
    bse.rx_input_level_set(0, 0.1)
    assert bse.rx_input_level_get(0) == struct.unpack("f", struct.pack("f", 0.1))[0]
    bse.rx_centre_frequency_set(0, 1.9500000000000002e9)
    assert bse.rx_centre_frequency_get(0) == 1.9500000000000002e9
    bse.rx_input_level_set(0, math.inf)  # not finite, so no overflow to refuse
    assert bse.rx_input_level_get(0) == math.inf
