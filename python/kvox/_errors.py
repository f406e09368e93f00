"""The exceptions of kvox, and how libkvox's error codes become them."""

from __future__ import annotations

import errno
import os
from dataclasses import dataclass
from typing import Any, Optional

# libkvox's codes (kvox.h); the file faults become Python's own OSError subclasses, so that code written
# for open() and soundfile catches them unchanged.
_ENOENT, _EISDIR, _EACCES, _EUNDECIDED = -4, -5, -6, -10


class Error(Exception):
    """A file kvox cannot read or write, or data it cannot code; the message names the file.

    ``filename`` is the file (None for data in memory) and ``code`` libkvox's negative error code.
    """

    def __init__(self, message: str, filename: Optional[str] = None, code: Optional[int] = None) -> None:
        super().__init__(message)
        self.filename = filename
        self.code = code

    def __reduce__(self) -> Any:
        # Exceptions cross process boundaries (Dask workers); the default would lose the attributes.
        return (type(self), (self.args[0], self.filename, self.code))


@dataclass(frozen=True)
class Detection:
    """What the content of raw bytes says of their coding and rate.

    ``coding`` is "alaw", "ulaw" or "adpcm" (the 8000 Hz member of the family; ``rate`` tells 6000 Hz
    when tones decide it), claimed at ``confidence`` 0.5 or more, else None with ``reason`` saying why.
    ``rate`` is 8000 or 6000 when telephone tones decide it (``rate_confidence``), else None.
    ``read_as`` is the coding kvox reads such a file as (a confidence of 0.9 or more), else None.
    ``summary`` is the sentence ``kvox info`` prints.
    """

    coding: Optional[str]
    confidence: float
    rate: Optional[int]
    rate_confidence: float
    reason: str
    rate_hint: Optional[int] = None
    t: float = 0.0
    read_as: Optional[str] = None
    best: Optional[str] = None
    summary: str = ""

    def __str__(self) -> str:
        return self.summary


class UnknownCodingError(Error):
    """A raw file (no tag) whose content does not settle its coding: name it with ``coding=``.

    ``detection`` holds what the content says.
    """

    def __init__(
        self,
        message: str,
        filename: Optional[str] = None,
        code: Optional[int] = _EUNDECIDED,
        detection: Optional[Detection] = None,
    ) -> None:
        super().__init__(message, filename, code)
        self.detection = detection

    def __reduce__(self) -> Any:
        return (type(self), (self.args[0], self.filename, self.code, self.detection))


_CODINGS = "alaw, alaw48, ulaw, ulaw48, adpcm or adpcm24"


def make_error(code: int, raw_path: bytes, reason: str, detection: Optional[dict]) -> BaseException:
    """The exception for a failure the compiled module met (called from it)."""
    path = os.fsdecode(raw_path)
    filename = path or None
    if code == _ENOENT:
        return FileNotFoundError(errno.ENOENT, reason, path)
    if code == _EISDIR:
        return IsADirectoryError(errno.EISDIR, reason, path)
    if code == _EACCES:
        return PermissionError(errno.EACCES, reason, path)
    if code == _EUNDECIDED:
        found = Detection(**detection) if detection else None
        said = f" ({found.summary})" if found and found.summary else ""
        return UnknownCodingError(
            f"{path}: a raw file whose coding its content does not settle{said}; "
            f"if it is VOX audio all the same, name its coding: coding= {_CODINGS}",
            filename,
            code,
            found,
        )
    return Error(f"{path}: {reason}" if path else reason, filename, code)
