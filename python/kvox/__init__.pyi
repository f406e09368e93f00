import os
from typing import Iterator, Literal, Optional, Tuple, Union

import numpy as np
import numpy.typing as npt

from ._errors import Detection as Detection
from ._errors import Error as Error
from ._errors import UnknownCodingError as UnknownCodingError

__version__: str
CODINGS: Tuple[str, ...]

_Path = Union[str, bytes, os.PathLike[str], os.PathLike[bytes]]
_Bytes = Union[bytes, bytearray, memoryview]
_DType = Literal["int16", "float32", "float64"]
_Samples = npt.ArrayLike

class Info:
    path: str
    tagged: bool
    coding: Optional[str]
    tag: Optional[str]
    display_name: Optional[str]
    samplerate: Optional[int]
    frames: Optional[int]
    duration: Optional[float]
    detection: Optional[Detection]
    coding_from: Optional[str]
    rate_from: Optional[str]
    file_bytes: int
    def __init__(
        self,
        path: str,
        tagged: bool,
        coding: Optional[str],
        tag: Optional[str],
        display_name: Optional[str],
        samplerate: Optional[int],
        frames: Optional[int],
        duration: Optional[float],
        detection: Optional[Detection],
        coding_from: Optional[str] = ...,
        rate_from: Optional[str] = ...,
        file_bytes: int = ...,
    ) -> None: ...

def library_version() -> str: ...
def info(path: _Path, coding: Optional[str] = ...) -> Info: ...
def read(path: _Path, coding: Optional[str] = ..., dtype: _DType = ...) -> Tuple[np.ndarray, int]: ...
def blocks(
    path: _Path, blocksize: int = ..., coding: Optional[str] = ..., dtype: _DType = ...
) -> Iterator[np.ndarray]: ...
def write(
    path: _Path, data: _Samples, coding: str, samplerate: Optional[int] = ..., tag: bool = ...
) -> None: ...
def detect(data: _Bytes) -> Detection: ...
def decode(data: _Bytes, coding: str) -> npt.NDArray[np.int16]: ...
def encode(samples: _Samples, coding: str) -> bytes: ...
def convert(
    src: _Path, dst: _Path, to: Optional[str] = ..., coding: Optional[str] = ..., tag: bool = ...
) -> None: ...

class Decoder:
    coding: str
    def __init__(self, coding: str) -> None: ...
    def decode(self, chunk: _Bytes) -> npt.NDArray[np.int16]: ...
    def reset(self) -> None: ...

class Encoder:
    coding: str
    def __init__(self, coding: str) -> None: ...
    def encode(self, chunk: _Samples) -> bytes: ...
    def flush(self) -> bytes: ...
