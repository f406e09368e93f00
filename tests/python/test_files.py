"""kvox.read / write / info / blocks / convert against the bytes and samples of the kvox command."""

import os

import numpy as np
import pytest
import soundfile

import kvox
from conftest import CODINGS, RATE, file_bytes


def wav(path, data, rate, subtype="PCM_16"):
    soundfile.write(str(path), data, rate, subtype=subtype)
    return path


@pytest.mark.parametrize("coding", CODINGS)
@pytest.mark.parametrize("tag", [True, False])
def test_write_and_read_match_kvox_encode_and_decode(kvox_command, speech, tmp_path, coding, tag):
    samples = speech(12345)
    source = wav(tmp_path / "in.wav", samples, RATE[coding])
    kvox_command("encode", source, tmp_path / "kvox.vox", "--format", coding, *([] if tag else ["--no-header"]))
    kvox.write(tmp_path / "ours.vox", samples, coding, tag=tag)
    assert file_bytes(tmp_path / "ours.vox") == file_bytes(tmp_path / "kvox.vox")

    kvox_command("decode", tmp_path / "kvox.vox", tmp_path / "kvox.wav", *([] if tag else ["--format", coding]))
    expected, rate = soundfile.read(str(tmp_path / "kvox.wav"), dtype="int16")
    data, samplerate = kvox.read(tmp_path / "ours.vox", coding=None if tag else coding)
    assert samplerate == rate == RATE[coding] and data.dtype == np.int16 and np.array_equal(data, expected)
    for dtype in ("float32", "float64"):
        floats, _ = kvox.read(tmp_path / "ours.vox", coding=coding, dtype=dtype)
        assert floats.dtype == dtype and np.array_equal(floats, expected.astype(dtype) / 32768)


@pytest.mark.parametrize(
    "rate, channels, subtype",
    [(16000, 1, "PCM_16"), (11025, 1, "FLOAT"), (8000, 2, "PCM_16"), (44100, 2, "FLOAT")],
)
def test_other_rates_and_channels_are_converted_as_kvox_encode_does(kvox_command, speech, tmp_path, rate, channels,
                                                                     subtype):
    # Longer than one step of rate conversion, so that its pieces are checked too.
    mono = speech(rate * 70 if channels == 1 else rate * 3)
    data = np.stack([mono, mono[::-1] // 2], axis=1) if channels == 2 else mono
    if subtype == "FLOAT":
        data = data.astype(np.float32) / 32768 * 1.3  # past full scale: clipped
    source = wav(tmp_path / "in.wav", data, rate, subtype)
    kvox_command("encode", source, tmp_path / "kvox.vox", "--format", "adpcm24")
    kvox.write(tmp_path / "ours.vox", data, "adpcm24", samplerate=rate)
    assert file_bytes(tmp_path / "ours.vox") == file_bytes(tmp_path / "kvox.vox")
    kvox.convert(source, tmp_path / "converted.vox", to="adpcm24")
    assert file_bytes(tmp_path / "converted.vox") == file_bytes(tmp_path / "kvox.vox")


def test_float_audio_at_the_codings_rate_is_scaled_not_silenced(kvox_command, speech, tmp_path):
    # Float samples are coded as floats (scaled, rounded, clipped) by convert, write and kvox encode alike.
    floats = speech(8000).astype(np.float32) / 32768
    source = wav(tmp_path / "in.wav", floats, 8000, "FLOAT")
    kvox.convert(source, tmp_path / "converted.vox", to="alaw")
    kvox.write(tmp_path / "written.vox", floats, "alaw")
    kvox_command("encode", source, tmp_path / "kvox.vox", "--format", "alaw")
    assert file_bytes(tmp_path / "converted.vox") == file_bytes(tmp_path / "written.vox")
    assert file_bytes(tmp_path / "converted.vox") == file_bytes(tmp_path / "kvox.vox")
    assert np.abs(kvox.read(tmp_path / "converted.vox")[0]).max() > 10000


def test_info_reports_what_kvox_info_does(kvox_command, speech, tmp_path):
    kvox.write(tmp_path / "tagged.vox", speech(8001), "adpcm")
    kvox.write(tmp_path / "raw.vox", speech(40000), "alaw", tag=False)
    (tmp_path / "noise.vox").write_bytes(np.random.default_rng(1).integers(0, 256, 20000, np.uint8).tobytes())
    for name, coding in [("tagged", None), ("raw", None), ("raw", "alaw48"), ("noise", None)]:
        path = tmp_path / f"{name}.vox"
        facts = kvox.info(path, coding=coding)
        reported = kvox_command.info_json(path, *(["--format", coding] if coding else []))
        assert facts.tagged == reported["tagged"] and facts.tag == reported["tag"]
        assert facts.samplerate == reported["rate_hz"] and facts.display_name == (
            reported["display_name"] if facts.coding else None)
        if facts.coding:
            assert facts.frames * 2 == reported["decoded_bytes"]
            assert facts.duration == pytest.approx(reported["duration_s"], abs=1e-6)
        detected = reported.get("detected")
        assert (facts.detection is None) == (detected is None)
        if detected:
            assert (facts.detection.confidence, facts.detection.reason) == (detected["confidence"], detected["reason"])
    assert kvox.info(tmp_path / "raw.vox", coding="alaw48").coding_from == "named"
    assert kvox.info(tmp_path / "noise.vox").coding is None


def test_blocks_give_the_file_in_pieces(speech, tmp_path):
    kvox.write(tmp_path / "a.vox", speech(10001), "adpcm")
    whole, _ = kvox.read(tmp_path / "a.vox", dtype="float32")
    pieces = list(kvox.blocks(tmp_path / "a.vox", blocksize=1000, dtype="float32"))
    assert [len(piece) for piece in pieces] == [1000] * 10 + [2]
    assert np.array_equal(np.concatenate(pieces), whole)
    assert [len(piece) for piece in kvox.blocks(tmp_path / "a.vox", blocksize=10**12)] == [10002]


@pytest.mark.parametrize("to", ["wav", "flac", "w64"])
def test_convert_decodes_as_kvox_decode(kvox_command, speech, tmp_path, to):
    kvox.write(tmp_path / "a.vox", speech(30001), "ulaw48", tag=False)
    kvox_command("decode", tmp_path / "a.vox", tmp_path / f"kvox.{to}", "--format", "ulaw48")
    kvox.convert(tmp_path / "a.vox", tmp_path / f"ours.{to}", coding="ulaw48")
    assert file_bytes(tmp_path / f"ours.{to}") == file_bytes(tmp_path / f"kvox.{to}")
    kvox.convert(tmp_path / "a.vox", tmp_path / "named.out", to=to, coding="ulaw48")
    assert file_bytes(tmp_path / "named.out") == file_bytes(tmp_path / f"kvox.{to}")


def test_a_failed_output_leaves_the_old_file_and_no_temporary(speech, tmp_path):
    (tmp_path / "noise.vox").write_bytes(np.random.default_rng(2).integers(0, 256, 5000, np.uint8).tobytes())
    (tmp_path / "out.wav").write_bytes(b"kept")
    (tmp_path / "out.vox").write_bytes(b"kept")
    with pytest.raises(kvox.UnknownCodingError):
        kvox.convert(tmp_path / "noise.vox", tmp_path / "out.wav")
    with pytest.raises(ValueError):
        kvox.write(tmp_path / "out.vox", np.array([1, 70000]), "alaw")
    with pytest.raises(kvox.Error, match="replace the input"):
        kvox.convert(tmp_path / "out.vox", tmp_path / "out.vox", to="alaw")
    assert file_bytes(tmp_path / "out.wav") == file_bytes(tmp_path / "out.vox") == b"kept"
    assert sorted(os.listdir(tmp_path)) == ["noise.vox", "out.vox", "out.wav"]


def test_a_vox_file_recoded_at_another_rate_is_kvox_encodes(kvox_command, speech, tmp_path):
    kvox.write(tmp_path / "in.vox", speech(60001), "ulaw48", tag=False)
    kvox_command("encode", tmp_path / "in.vox", tmp_path / "kvox.vox", "--from", "ulaw48", "--format", "adpcm")
    kvox.convert(tmp_path / "in.vox", tmp_path / "ours.vox", to="032D", coding="ulaw48")
    assert file_bytes(tmp_path / "ours.vox") == file_bytes(tmp_path / "kvox.vox")
