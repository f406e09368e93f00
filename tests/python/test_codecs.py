"""kvox.decode / encode / detect and the stream classes against libkvox called directly."""

import numpy as np
import pytest

import kvox
from conftest import CODINGS


@pytest.mark.parametrize("coding", CODINGS)
def test_decode_and_encode_match_the_c_library(clib, speech, coding):
    samples = speech(4001, seed=len(coding))  # odd: the last ADPCM sample is ended by the flush
    coded = kvox.encode(samples, coding)
    assert coded == clib.encode(samples, coding)
    for data in (coded, bytearray(coded), memoryview(coded), np.frombuffer(coded, np.uint8)):
        assert np.array_equal(kvox.decode(data, coding), clib.decode(coded, coding))


@pytest.mark.parametrize("coding", ["adpcm", "alaw"])
def test_streams_split_anywhere_give_the_whole(speech, coding):
    samples = speech(9999)
    rng = np.random.default_rng(5)
    cuts = np.sort(rng.integers(0, len(samples), 12))
    encoder = kvox.Encoder(coding)
    coded = b"".join(encoder.encode(part) for part in np.split(samples, cuts)) + encoder.flush()
    assert coded == kvox.encode(samples, coding)
    decoder = kvox.Decoder(coding)
    decoded = np.concatenate([decoder.decode(part) for part in np.split(np.frombuffer(coded, np.uint8), cuts // 2)])
    assert np.array_equal(decoded, kvox.decode(coded, coding))
    decoder.reset()
    assert np.array_equal(decoder.decode(coded), decoded)


def test_floats_are_scaled_rounded_and_clipped_as_the_c_library_does(clib):
    floats = np.array([0.0, 0.5, -0.5, 1.0, -1.0, 1.5, -7.0, np.nan, 1 / 65536, 3 / 65536], np.float32)
    expected = clib.float_to_pcm16(floats)
    assert list(expected[:7]) == [0, 16384, -16384, 32767, -32768, 32767, -32768]
    for dtype in (np.float32, np.float64):
        assert kvox.encode(floats.astype(dtype), "ulaw") == clib.encode(expected, "ulaw")


def test_detect_reads_bytes_as_kvox_info_does(kvox_command, speech, tmp_path):
    coded = kvox.encode(speech(40000), "ulaw")
    (tmp_path / "raw.vox").write_bytes(coded)
    detection = kvox.detect(coded)
    reported = kvox_command.info_json(tmp_path / "raw.vox")["detected"]
    assert detection.coding == "ulaw" and reported["coding"] == "mulaw"
    assert (detection.confidence, detection.rate, detection.reason) == (
        reported["confidence"], reported["rate"], reported["reason"])
    assert detection == kvox.detect(bytearray(coded)) == kvox.detect(memoryview(coded))
    assert kvox.detect(bytes(300)).coding is None
