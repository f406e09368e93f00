#!/usr/bin/python3
"""make bench-python: the kvox package on one hour of 8 kHz audio, beside python-soundfile and beside
libkvox called directly, all in one run.

- kvox.read of a raw ADPCM and a raw A-law file against soundfile.read of the same file (RAW with
  VOX_ADPCM / ALAW: libsndfile's own arithmetic, so its samples differ for ADPCM; the job is the same),
  as int16 and as float32.
- kvox.encode and kvox.write against soundfile.write of the same samples.
- The package's cost over libkvox: kvox.read against kvox_open/kvox_read/kvox_close into a fresh array
  through ctypes, kvox.encode against kvox_encode/kvox_encoder_flush.

CPU time of this process, the best of REPETITIONS (default 9), the jobs interleaved. Every figure is
milliseconds per hour of audio; x is soundfile's time over kvox's, overhead kvox's over libkvox's.
Usage: bench/python_bench.py PATH_TO_libkvox.so.1
"""

import ctypes
import os
import sys
import tempfile
import time

import numpy as np
import soundfile

import kvox

HOUR = 8000 * 3600
REPETITIONS = int(os.environ.get("REPETITIONS", "9"))


def speech_like(samples):
    rng = np.random.default_rng(1)
    noise = rng.standard_normal(samples + 2).astype(np.float32)
    voiced = noise[2:] + 1.6 * noise[1:-1] + 0.8 * noise[:-2]
    envelope = np.clip(np.sin(np.arange(samples, dtype=np.float32) * np.float32(2 * np.pi / 4000)), 0.05, None)
    return np.clip(voiced * envelope * 4000, -32768, 32767).astype(np.int16)


def c_library(path):
    lib = ctypes.CDLL(path)
    lib.kvox_open.restype = ctypes.c_void_p
    lib.kvox_open.argtypes = [ctypes.c_char_p, ctypes.c_int, ctypes.c_void_p, ctypes.c_void_p]
    lib.kvox_read.restype = ctypes.c_int64
    lib.kvox_read.argtypes = [ctypes.c_void_p, ctypes.c_void_p, ctypes.c_size_t]
    lib.kvox_close.argtypes = [ctypes.c_void_p]
    lib.kvox_encoder_new.restype = ctypes.c_void_p
    lib.kvox_encode.restype = ctypes.c_size_t
    lib.kvox_encode.argtypes = [ctypes.c_void_p, ctypes.c_void_p, ctypes.c_size_t, ctypes.c_void_p]
    lib.kvox_encoder_flush.restype = ctypes.c_size_t
    lib.kvox_encoder_flush.argtypes = [ctypes.c_void_p, ctypes.c_void_p]
    lib.kvox_encoder_free.argtypes = [ctypes.c_void_p]
    return lib


def main():
    lib = c_library(sys.argv[1])
    samples = speech_like(HOUR)
    folder = tempfile.mkdtemp(prefix="kvox-python-bench-")
    files = {"adpcm": os.path.join(folder, "hour-adpcm.vox"), "alaw": os.path.join(folder, "hour-alaw.vox")}
    subtypes = {"adpcm": "VOX_ADPCM", "alaw": "ALAW"}
    numbers = {"adpcm": 5, "alaw": 1}
    for coding, path in files.items():
        kvox.write(path, samples, coding, tag=False)

    def libkvox_read(coding):
        out = np.empty(HOUR, np.int16)
        handle = lib.kvox_open(files[coding].encode(), numbers[coding], None, None)
        got = lib.kvox_read(handle, out.ctypes.data, HOUR)
        lib.kvox_close(handle)
        assert got == HOUR

    def libkvox_encode(coding):
        encoder = lib.kvox_encoder_new(numbers[coding])
        out = np.empty((HOUR + 1) // 2 + 1 if coding == "adpcm" else HOUR, np.uint8)  # the room kvox.encode takes
        made = lib.kvox_encode(encoder, samples.ctypes.data, HOUR, out.ctypes.data)
        lib.kvox_encoder_flush(encoder, out[made:].ctypes.data)
        lib.kvox_encoder_free(encoder)

    def sf_read(coding, dtype):
        soundfile.read(files[coding], samplerate=8000, channels=1, format="RAW", subtype=subtypes[coding], dtype=dtype)

    output = os.path.join(folder, "out.vox")
    jobs = {}
    for coding in ("adpcm", "alaw"):
        for dtype in ("int16", "float32"):
            jobs[f"read {coding} {dtype}: kvox"] = lambda c=coding, d=dtype: kvox.read(files[c], coding=c, dtype=d)
            jobs[f"read {coding} {dtype}: soundfile"] = lambda c=coding, d=dtype: sf_read(c, d)
        jobs[f"read {coding} int16: libkvox"] = lambda c=coding: libkvox_read(c)
        jobs[f"encode {coding}: kvox"] = lambda c=coding: kvox.encode(samples, c)
        jobs[f"encode {coding}: libkvox"] = lambda c=coding: libkvox_encode(c)
        jobs[f"write {coding}: kvox"] = lambda c=coding: kvox.write(output, samples, c, tag=False)
        jobs[f"write {coding}: soundfile"] = lambda c=coding: soundfile.write(
            output, samples, 8000, format="RAW", subtype=subtypes[c])

    best = {name: float("inf") for name in jobs}
    rng = np.random.default_rng(7)
    load_before = open("/proc/loadavg").read().split()[:3]
    for _ in range(REPETITIONS):
        for name in rng.permutation(list(jobs)):
            start = time.process_time()
            jobs[name]()
            best[name] = min(best[name], (time.process_time() - start) * 1000)
    load_after = open("/proc/loadavg").read().split()[:3]
    for path in (*files.values(), output):
        if os.path.exists(path):
            os.unlink(path)
    os.rmdir(folder)

    def ms(name):
        return best[name]

    print(f"kvox {kvox.__version__} on libkvox {kvox.library_version()}, numpy {np.__version__}, "
          f"soundfile {soundfile.__version__} (libsndfile {soundfile.__libsndfile_version__}); "
          f"load {' '.join(load_before)} before, {' '.join(load_after)} after")
    print(f"ms of CPU per hour of 8 kHz audio, best of {REPETITIONS}; x = soundfile's time over kvox's")
    print()
    print(f"{'job':<28}{'kvox':>9}{'soundfile':>11}{'x':>8}  goal")
    verdicts = []
    for coding, goal in (("adpcm", 2.0), ("alaw", 1.0)):
        for dtype in ("int16", "float32"):
            ours, theirs = ms(f"read {coding} {dtype}: kvox"), ms(f"read {coding} {dtype}: soundfile")
            ratio = theirs / ours
            ok = ratio >= goal
            verdicts.append(ok)
            print(f"{'read ' + coding + ' ' + dtype:<28}{ours:>9.0f}{theirs:>11.0f}{ratio:>7.2f}x  "
                  f">= {goal:g}x {'ok' if ok else 'MISSED'}")
    for coding in ("adpcm", "alaw"):
        theirs = ms(f"write {coding}: soundfile")
        for job in ("encode", "write"):
            ours = ms(f"{job} {coding}: kvox")
            print(f"{job + ' ' + coding + ' (vs sf.write)':<28}{ours:>9.0f}{theirs:>11.0f}{theirs / ours:>7.2f}x")
    print()
    print(f"{'package over libkvox':<28}{'kvox':>9}{'libkvox':>11}{'over':>8}  goal")
    for coding in ("adpcm", "alaw"):
        for job, base in ((f"read {coding} int16: kvox", f"read {coding} int16: libkvox"),
                          (f"encode {coding}: kvox", f"encode {coding}: libkvox")):
            over = ms(job) / ms(base) - 1
            ok = over <= 0.10
            verdicts.append(ok)
            print(f"{job.split(':')[0]:<28}{ms(job):>9.1f}{ms(base):>11.1f}{over * 100:>7.1f}%  "
                  f"<= 10% {'ok' if ok else 'MISSED'}")
    print()
    print("every goal met" if all(verdicts) else "goals missed: see MISSED above (a loaded machine misses some)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
