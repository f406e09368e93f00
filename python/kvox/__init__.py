"""Kestrovan VOX telephony voice files in Python, on libkvox.

G.711 A-law and mu-law at 64 and 48 kbit/s and 4-bit ADPCM with DC tracking at 32 and 24 kbit/s (8000 or
6000 Hz), tagged or raw, read and written with the same code as the editor's file-format plug-in and the
``kvox`` command: the same samples as ``kvox decode``, the same bytes as ``kvox encode``.

Codings are named by alias or tag, in any case: ``alaw`` (064A), ``alaw48`` (048A), ``ulaw`` (064U),
``ulaw48`` (048U), ``adpcm`` (032D), ``adpcm24`` (024D).

A raw file (one without the four-byte tag) does not say how it is coded: name its coding with
``coding=``, or kvox reads it by its content when that settles the coding at a confidence of 0.9 or
more, and raises :class:`UnknownCodingError` otherwise. A tag always decides.

>>> data, samplerate = kvox.read("call.vox", dtype="float32")
>>> kvox.write("prompt.vox", data, "adpcm", samplerate=16000)
>>> kvox.convert("call.vox", "call.flac")

Errors are :class:`FileNotFoundError`, :class:`IsADirectoryError`, :class:`PermissionError` or
:class:`kvox.Error`, each naming the file. Decoding, encoding and detection run without the GIL.
"""

from __future__ import annotations

import os
from dataclasses import dataclass
from typing import Iterator, Optional, Tuple, Union

import numpy as np

from . import _kvox
from ._errors import Detection, Error, UnknownCodingError

__all__ = [
    "read",
    "write",
    "info",
    "detect",
    "decode",
    "encode",
    "blocks",
    "convert",
    "Decoder",
    "Encoder",
    "Info",
    "Detection",
    "Error",
    "UnknownCodingError",
    "CODINGS",
    "library_version",
]

__version__: str = _kvox.__version__

PathLike = Union[str, bytes, "os.PathLike[str]", "os.PathLike[bytes]"]

#: The six codings by alias, in libkvox's order.
CODINGS: Tuple[str, ...] = tuple(_kvox.coding_alias(number) for number in range(1, 7))

_DTYPES = {"int16": 0, "float32": 1, "float64": 2}


def library_version() -> str:
    """The version of libkvox in use, such as "1.1.0"."""
    return _kvox.library_version()


def _coding_number(coding: Optional[str], *, required: bool) -> int:
    if coding is None:
        if required:
            raise TypeError(f"a coding is needed: one of {', '.join(CODINGS)}")
        return 0
    if not isinstance(coding, str):
        raise TypeError(f"a coding is named by a str (such as 'alaw' or '064A'), not {type(coding).__name__}")
    number = _kvox.coding_from_name(coding)
    if number == 0:
        tags = ", ".join(_kvox.coding_tag(n) for n in range(1, 7))
        raise ValueError(f"unknown coding {coding!r}: use one of {', '.join(CODINGS)} or a tag ({tags})")
    return number


def _dtype_kind(dtype: object) -> int:
    try:
        name = np.dtype(dtype).name  # type: ignore[call-overload]
    except TypeError:
        name = str(dtype)
    if name not in _DTYPES:
        raise ValueError(f"dtype must be 'int16', 'float32' or 'float64', not {dtype!r}")
    return _DTYPES[name]


def _path(path: PathLike) -> str:
    if not isinstance(path, (str, bytes, os.PathLike)):
        raise TypeError(f"a file is named by a path (str, bytes or os.PathLike), not {type(path).__name__}")
    return os.fsdecode(path)


def _frames(data: object, *, mono_only: bool) -> np.ndarray:
    """Audio as C-contiguous int16 or float32, (frames,) or (frames, channels), without losing a value."""
    array = np.asarray(data)
    if array.dtype.kind == "f":
        array = array.astype(np.float32, copy=False)
    elif array.dtype.kind in "iu":
        if array.dtype != np.int16:
            if array.size and (array.min() < -32768 or array.max() > 32767):
                raise ValueError(
                    f"{array.dtype} samples outside the range of 16 bits; scale them to int16, "
                    "or pass floats in -1..1"
                )
            array = array.astype(np.int16)
    else:
        raise TypeError(f"samples must be int16 or floating point, not {array.dtype}")
    if array.ndim == 2 and array.shape[1] == 1:
        array = array[:, 0]
    if array.ndim == 0 or array.ndim > 2 or (mono_only and array.ndim != 1):
        shape = "(frames,)" if mono_only else "(frames,) or (frames, channels)"
        raise ValueError(f"samples must have the shape {shape}, not {array.shape}")
    if array.ndim == 2 and array.shape[1] == 0:
        raise ValueError("samples with no channels")
    return np.ascontiguousarray(array)


def _pcm16(samples: object) -> np.ndarray:
    array = _frames(samples, mono_only=True)
    return _kvox.float_to_pcm16(array) if array.dtype == np.float32 else array


@dataclass(frozen=True)
class Info:
    """What :func:`info` learns of a VOX file.

    ``tagged``: whether it starts with its coding tag. ``coding``: the alias reads decode it with (None
    for a raw file whose coding is not settled). ``tag``: the file's tag ("032D"), None for a raw file.
    ``display_name``: the coding's name in the editor. ``samplerate``, ``frames`` (exact) and
    ``duration`` (seconds). ``detection``: what the content of a raw file says, None for a tagged one.
    ``coding_from``: "tag", "named" or "content"; ``rate_from``: the same, or "assumed" (8000 Hz).
    """

    path: str
    tagged: bool
    coding: Optional[str]
    tag: Optional[str]
    display_name: Optional[str]
    samplerate: Optional[int]
    frames: Optional[int]
    duration: Optional[float]
    detection: Optional[Detection]
    coding_from: Optional[str] = None
    rate_from: Optional[str] = None
    file_bytes: int = 0


def _info_of(path: str, facts: dict) -> Info:
    found = facts.pop("detection")
    detection = Detection(**found) if found else None
    rate, frames = facts["samplerate"], facts["frames"]
    duration = frames / rate if rate and frames is not None else None
    return Info(path=path, duration=duration, detection=detection, **facts)


def info(path: PathLike, coding: Optional[str] = None) -> Info:
    """What a VOX file holds: tagged or raw, its coding, rate, length, and for a raw file what its content
    says (as ``kvox info`` reports it).

    ``coding`` names the coding of a raw file; a tag always decides. A raw file whose coding is not
    settled gives an :class:`Info` with ``coding`` None and the ``detection``, rather than an error.
    """
    name = _path(path)
    try:
        reader = _kvox.Reader(name, _coding_number(coding, required=False))
    except UnknownCodingError as undecided:
        return Info(
            path=name,
            tagged=False,
            coding=None,
            tag=None,
            display_name=None,
            samplerate=None,
            frames=None,
            duration=None,
            detection=undecided.detection,
            file_bytes=os.stat(name).st_size,
        )
    try:
        return _info_of(name, reader.info())
    finally:
        reader.close()


def read(path: PathLike, coding: Optional[str] = None, dtype: str = "int16") -> Tuple[np.ndarray, int]:
    """Reads a whole VOX file: returns ``(data, samplerate)``, the samples as a one-dimensional array.

    ``dtype`` is "int16" (the decoded samples themselves), "float32" or "float64" (scaled by 1/32768, so
    -1 <= x < 1). ``coding`` names the coding of a raw file (a tag always decides); without it a raw file
    is read by its content, and :class:`UnknownCodingError` (with ``.detection``) says when that does not
    settle the coding. The samples are those of ``kvox decode``.
    """
    kind = _dtype_kind(dtype)
    reader = _kvox.Reader(_path(path), _coding_number(coding, required=False))
    try:
        return reader.read(-1, kind), reader.rate()
    finally:
        reader.close()


def blocks(
    path: PathLike, blocksize: int = 8192, coding: Optional[str] = None, dtype: str = "int16"
) -> Iterator[np.ndarray]:
    """Yields a VOX file's samples in arrays of ``blocksize`` frames (the last one may be shorter), so a
    long file is never held whole. ``coding`` and ``dtype`` as for :func:`read`; the file is opened when
    iteration starts and closed when it ends or the generator is closed."""
    if not isinstance(blocksize, int) or isinstance(blocksize, bool) or blocksize < 1:
        raise ValueError(f"blocksize must be a positive int, not {blocksize!r}")
    kind = _dtype_kind(dtype)
    reader = _kvox.Reader(_path(path), _coding_number(coding, required=False))
    try:
        while True:
            block = reader.read(blocksize, kind)
            if len(block) == 0:
                return
            yield block
            if len(block) < blocksize:
                return
    finally:
        reader.close()


def write(
    path: PathLike,
    data: object,
    coding: str,
    samplerate: Optional[int] = None,
    tag: bool = True,
) -> None:
    """Writes samples as a VOX file of ``coding``, the same bytes as ``kvox encode`` of that audio.

    ``data``: int16 or floating point (-1..1, scaled by 32768, rounded and clipped), of the shape
    ``(frames,)`` or ``(frames, channels)``; channels are averaged to mono. ``samplerate`` is the rate of
    ``data`` (the coding's own when None); another rate is converted to the coding's as kvox does.
    ``tag=False`` writes a raw file. The file appears only when complete: it is written under a temporary
    name in its folder, and an existing file of that name stays as it was should writing fail.
    """
    number = _coding_number(coding, required=True)
    frames = _frames(data, mono_only=False)
    rate = _kvox.coding_rate(number) if samplerate is None else samplerate
    if isinstance(rate, float) and rate.is_integer():
        rate = int(rate)
    if not isinstance(rate, (int, np.integer)) or isinstance(rate, bool) or rate < 1:
        raise ValueError(f"samplerate must be a positive int, not {samplerate!r}")
    _kvox.write(_path(path), frames, number, int(rate), 0 if tag else _kvox.NO_TAG)


def detect(data: Union[bytes, bytearray, memoryview]) -> Detection:
    """What raw VOX bytes say of their coding and rate: the answer ``kvox info`` gives for a file of those
    bytes. Any object with the buffer protocol will do (bytes, bytearray, memoryview, a uint8 array)."""
    return Detection(**_kvox.detect(memoryview(data).cast("B") if not isinstance(data, bytes) else data))


def decode(data: Union[bytes, bytearray, memoryview], coding: str) -> np.ndarray:
    """Decodes code bytes (no tag) of ``coding`` into int16 samples: two a byte for ADPCM, one for G.711."""
    return _kvox.Decoder(_coding_number(coding, required=True)).decode(_bytes_view(data))


def encode(samples: object, coding: str) -> bytes:
    """Encodes mono samples (int16, or floats scaled by 32768, rounded and clipped) into code bytes of
    ``coding``, without a tag: the bytes after the tag of the VOX file ``kvox encode`` writes from them.
    An odd last ADPCM sample is ended as the plug-in ends a file."""
    return _kvox.Encoder(_coding_number(coding, required=True)).encode(_pcm16(samples), True)


def _bytes_view(data: object) -> object:
    if isinstance(data, (bytes, bytearray)):
        return data
    if isinstance(data, str):
        raise TypeError("code bytes are bytes, bytearray or memoryview, not str")
    return memoryview(data).cast("B")  # type: ignore[arg-type]


class Decoder:
    """Decodes one stream of ``coding`` in chunks: the ADPCM state carries over from chunk to chunk, so
    a stream may be split anywhere and gives the samples of :func:`decode` of the whole."""

    def __init__(self, coding: str) -> None:
        self.coding: str = _kvox.coding_alias(_coding_number(coding, required=True))
        self._decoder = _kvox.Decoder(_kvox.coding_from_name(self.coding))

    def decode(self, chunk: Union[bytes, bytearray, memoryview]) -> np.ndarray:
        """The int16 samples of the next code bytes."""
        return self._decoder.decode(_bytes_view(chunk))

    def reset(self) -> None:
        """Starts a new stream."""
        self._decoder.reset()

    def __repr__(self) -> str:
        return f"kvox.Decoder({self.coding!r})"


class Encoder:
    """Encodes one stream of ``coding`` in chunks: the ADPCM state carries over, and an odd sample waits
    for the next chunk, so any split gives the bytes of :func:`encode` of the whole once :meth:`flush`
    ends the stream."""

    def __init__(self, coding: str) -> None:
        self.coding: str = _kvox.coding_alias(_coding_number(coding, required=True))
        self._encoder = _kvox.Encoder(_kvox.coding_from_name(self.coding))

    def encode(self, chunk: object) -> bytes:
        """The code bytes of the next samples (int16, or floats as :func:`encode` takes them)."""
        return self._encoder.encode(_pcm16(chunk), False)

    def flush(self) -> bytes:
        """Ends the stream: the byte of an ADPCM sample still waiting (or nothing); the encoder then
        starts a new stream."""
        return self._encoder.encode(np.empty(0, np.int16), True)

    def __repr__(self) -> str:
        return f"kvox.Encoder({self.coding!r})"


def _output_type(dst: str, to: Optional[str]) -> Tuple[int, str]:
    """(coding, "") for a VOX output, (0, type) for another audio type."""
    if to is None:
        extension = os.path.splitext(dst)[1].lower().lstrip(".")
        if extension == "vox":
            raise ValueError(f"{dst}: name the coding of a VOX output with to= ({', '.join(CODINGS)})")
        to = extension or "wav"
    if not isinstance(to, str):
        raise TypeError(f"to= is a coding or an audio type (str), not {type(to).__name__}")
    number = _kvox.coding_from_name(to)
    if number:
        return number, ""
    kind = to.lower().lstrip(".")
    if not _kvox.sound_type_writable(kind):
        raise ValueError(
            f"to={to!r} is neither a coding ({', '.join(CODINGS)}) nor an audio type kvox writes "
            f"({', '.join(_kvox.sound_types())})"
        )
    return 0, kind


def convert(
    src: PathLike,
    dst: PathLike,
    to: Optional[str] = None,
    coding: Optional[str] = None,
    tag: bool = True,
) -> None:
    """Converts one file, with the bytes ``kvox decode`` or ``kvox encode`` would write.

    ``to`` is a coding (the output is a VOX file of it, from a VOX file or any audio file libsndfile
    reads, as ``kvox encode`` makes it) or an audio type such as "wav" or "flac" (the output holds a VOX
    file's samples, as ``kvox decode`` writes them); None takes the type from ``dst``'s extension.
    ``coding`` names the coding of a raw input, ``tag=False`` writes a raw VOX file. The output appears
    only when complete, under a temporary name until then, and never replaces the input.
    """
    source, target = _path(src), _path(dst)
    number, kind = _output_type(target, to)
    _kvox.convert(source, target, number, kind, _coding_number(coding, required=False), 0 if tag else _kvox.NO_TAG)
