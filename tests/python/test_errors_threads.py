"""Errors name the file and have the types Python code expects; threads run without the GIL."""

import os
import pickle
import signal
import sys
import time
import threading

import numpy as np
import pytest

import kvox


@pytest.fixture
def files(tmp_path, speech):
    (tmp_path / "empty.vox").write_bytes(b"")
    (tmp_path / "noise.vox").write_bytes(np.random.default_rng(3).integers(0, 256, 9000, np.uint8).tobytes())
    kvox.write(tmp_path / "audio.wav", speech(100), "alaw")  # a VOX file under another name: tagged, so taken
    (tmp_path / "text.txt").write_text("not audio\n" * 100)
    return tmp_path


@pytest.mark.parametrize(
    "name, error",
    [
        ("missing.vox", FileNotFoundError),
        ("missing/a.vox", FileNotFoundError),
        (".", IsADirectoryError),
        ("empty.vox", kvox.Error),
        ("noise.vox", kvox.UnknownCodingError),
        ("text.txt", kvox.Error),
    ],
)
def test_file_faults_raise_with_the_file_named(files, name, error):
    path = files / name
    for call in (kvox.read, kvox.info, lambda p: next(kvox.blocks(p)), lambda p: kvox.convert(p, files / "o.wav")):
        if call is kvox.info and error is kvox.UnknownCodingError:
            assert kvox.info(path).detection.reason  # info reports the undecided file instead
            continue
        with pytest.raises(error) as raised:
            call(path)
        assert str(path) in str(raised.value)
    assert not (files / "o.wav").exists()


def test_errors_carry_their_details_across_processes(files):
    with pytest.raises(kvox.UnknownCodingError) as raised:
        kvox.read(files / "noise.vox")
    copy = pickle.loads(pickle.dumps(raised.value))
    assert copy.detection == raised.value.detection and copy.detection.coding is None
    assert copy.filename == str(files / "noise.vox") and str(copy) == str(raised.value)


@pytest.mark.parametrize(
    "call, error",
    [
        (lambda d: kvox.write(d / "a.vox", [1, 2], "g729"), ValueError),
        (lambda d: kvox.write(d / "a.vox", [1, 2], None), TypeError),
        (lambda d: kvox.write(d / "a.vox", np.zeros((2, 2, 2)), "alaw"), ValueError),
        (lambda d: kvox.write(d / "a.vox", ["a"], "alaw"), TypeError),
        (lambda d: kvox.write(d / "a.vox", [1], "alaw", samplerate=0), ValueError),
        (lambda d: kvox.write(d / "no/a.vox", [1], "alaw"), FileNotFoundError),
        (lambda d: kvox.read(d / "audio.wav", dtype="int32"), ValueError),
        (lambda d: kvox.convert(d / "audio.wav", d / "a.vox"), ValueError),
        (lambda d: kvox.convert(d / "audio.wav", d / "a.xyz"), ValueError),
        (lambda d: kvox.decode("text", "alaw"), TypeError),
        (lambda d: kvox.encode(np.zeros((3, 2)), "alaw"), ValueError),
    ],
)
def test_wrong_arguments_are_refused(files, call, error):
    with pytest.raises(error):
        call(files)


def test_threads_get_the_same_results_at_once(speech, tmp_path):
    samples = speech(200000)
    kvox.write(tmp_path / "a.vox", samples, "adpcm")
    expected = (kvox.read(tmp_path / "a.vox")[0], kvox.encode(samples, "adpcm"))
    results = []

    def work():
        for _ in range(5):
            results.append((kvox.read(tmp_path / "a.vox")[0], kvox.encode(samples, "adpcm")))

    threads = [threading.Thread(target=work) for _ in range(4)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    assert len(results) == 20
    assert all(np.array_equal(read, expected[0]) and coded == expected[1] for read, coded in results)


def test_decoding_releases_the_gil():
    # A thread of pure Python counts while this one sleeps, then while it is inside one long decode. With
    # the GIL held through the decode the counter would barely move (a twentieth of its pace in a trial
    # with a call that holds it); released, it keeps about half its pace even on one free core.
    data = np.random.default_rng(4).integers(0, 256, 40_000_000, np.uint8).tobytes()
    counts = [0]
    stop = threading.Event()

    def count():
        while not stop.is_set():
            counts[0] += 1

    def pace(job):
        before, start = counts[0], time.perf_counter()
        job()
        return (counts[0] - before) / (time.perf_counter() - start)

    interval = sys.getswitchinterval()
    sys.setswitchinterval(1e-5)  # hand-overs around a call that holds the GIL stay short
    ticker = threading.Thread(target=count)
    ticker.start()
    try:
        alone = pace(lambda: time.sleep(0.2))
        decoding = pace(lambda: kvox.decode(data, "adpcm"))
    finally:
        stop.set()
        ticker.join()
        sys.setswitchinterval(interval)
    assert decoding > 0.2 * alone


def test_an_interrupted_write_leaves_no_file(tmp_path):
    class Interrupt(Exception):
        pass

    def interrupt(signum, frame):
        raise Interrupt

    hour = np.zeros(16000 * 3600, np.int16)  # an hour at 16 kHz: seconds of rate conversion
    previous = signal.signal(signal.SIGALRM, interrupt)
    signal.setitimer(signal.ITIMER_REAL, 0.05)
    try:
        with pytest.raises(Interrupt):
            kvox.write(tmp_path / "hour.vox", hour, "adpcm", samplerate=16000)
    finally:
        signal.setitimer(signal.ITIMER_REAL, 0)
        signal.signal(signal.SIGALRM, previous)
    assert list(tmp_path.iterdir()) == []


def test_names_that_are_not_utf8_open_and_show_in_errors(tmp_path):
    path = os.fsencode(tmp_path) + b"/\xff\xfe.vox"
    kvox.write(path, np.arange(100, dtype=np.int16), "ulaw")
    assert len(kvox.read(path)[0]) == 100 and kvox.info(path).path == os.fsdecode(path)
    os.unlink(path)
    with pytest.raises(FileNotFoundError) as raised:
        kvox.read(path)
    assert raised.value.filename == os.fsdecode(path)
