"""Fixtures of the kvox package's tests: kvox (the command) and libkvox itself, reached through ctypes,
to hold the package's results against. make test-python sets the paths; the defaults are the native
build tree's."""

import ctypes
import json
import os
import subprocess
from pathlib import Path

import numpy as np
import pytest

ROOT = Path(__file__).resolve().parents[2]
BUILD = Path(os.environ.get("KVOX_BUILD_DIR", ROOT / "build" / "native"))

CODINGS = ("alaw", "alaw48", "ulaw", "ulaw48", "adpcm", "adpcm24")
CODING_NUMBER = {name: number for number, name in enumerate(CODINGS, start=1)}
RATE = {name: 6000 if name.endswith(("48", "24")) else 8000 for name in CODINGS}


class CLibrary:
    """libkvox's stream codecs called directly, as a C program calls them."""

    def __init__(self, path):
        lib = ctypes.CDLL(str(path))
        lib.kvox_decoder_new.restype = ctypes.c_void_p
        lib.kvox_encoder_new.restype = ctypes.c_void_p
        lib.kvox_decode.restype = ctypes.c_size_t
        lib.kvox_decode.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_size_t, ctypes.c_void_p]
        lib.kvox_encode.restype = ctypes.c_size_t
        lib.kvox_encode.argtypes = [ctypes.c_void_p, ctypes.c_void_p, ctypes.c_size_t, ctypes.c_void_p]
        lib.kvox_encoder_flush.restype = ctypes.c_size_t
        lib.kvox_encoder_flush.argtypes = [ctypes.c_void_p, ctypes.c_void_p]
        lib.kvox_decoder_free.argtypes = lib.kvox_encoder_free.argtypes = [ctypes.c_void_p]
        lib.kvox_float_to_pcm16.argtypes = [ctypes.c_void_p, ctypes.c_size_t, ctypes.c_void_p]
        self.lib = lib

    def decode(self, data: bytes, coding: str) -> np.ndarray:
        decoder = self.lib.kvox_decoder_new(CODING_NUMBER[coding])
        out = np.empty(2 * len(data), np.int16)
        count = self.lib.kvox_decode(decoder, data, len(data), out.ctypes.data)
        self.lib.kvox_decoder_free(decoder)
        return out[:count]

    def encode(self, samples: np.ndarray, coding: str) -> bytes:
        samples = np.ascontiguousarray(samples, np.int16)
        encoder = self.lib.kvox_encoder_new(CODING_NUMBER[coding])
        out = np.empty(len(samples) + 2, np.uint8)
        count = self.lib.kvox_encode(encoder, samples.ctypes.data, len(samples), out.ctypes.data)
        count += self.lib.kvox_encoder_flush(encoder, out[count:].ctypes.data)
        self.lib.kvox_encoder_free(encoder)
        return out[:count].tobytes()

    def float_to_pcm16(self, samples: np.ndarray) -> np.ndarray:
        samples = np.ascontiguousarray(samples, np.float32)
        out = np.empty(len(samples), np.int16)
        self.lib.kvox_float_to_pcm16(samples.ctypes.data, len(samples), out.ctypes.data)
        return out


class Command:
    """The kvox command."""

    def __init__(self, path):
        self.path = str(path)

    def __call__(self, *args, check=True):
        return subprocess.run([self.path, *map(str, args)], check=check, capture_output=True, text=True)

    def info_json(self, path, *args):
        return json.loads(self("info", "--json", *args, path).stdout)[0]


@pytest.fixture(scope="session")
def clib():
    return CLibrary(os.environ.get("KVOX_LIBRARY", BUILD / "libkvox" / "libkvox.so.1"))


@pytest.fixture(scope="session")
def kvox_command():
    return Command(os.environ.get("KVOX_BIN", BUILD / "host" / "kvox"))


def speech_like(samples: int, seed: int = 0, level: float = 6000.0) -> np.ndarray:
    """Noise shaped and swept in loudness like speech, with pauses: structure detection settles."""
    rng = np.random.default_rng(seed)
    noise = rng.standard_normal(samples + 2)
    voiced = noise[2:] + 1.6 * noise[1:-1] + 0.8 * noise[:-2]
    envelope = np.clip(np.sin(np.arange(samples) * (2 * np.pi / 4000)), 0.05, None)
    tone = np.sin(np.arange(samples) * (2 * np.pi * 220 / 8000))
    return np.clip((voiced * 0.3 + tone) * envelope * level, -32768, 32767).astype(np.int16)


@pytest.fixture
def speech():
    return speech_like


def file_bytes(path) -> bytes:
    return Path(path).read_bytes()
