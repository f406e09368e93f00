"""Converting a whole archive on a Dask cluster (``python3-distributed``), one machine or many.

>>> from distributed import Client
>>> import kvox.dask
>>> client = Client("tcp://scheduler.example:8786")
>>> summary = kvox.dask.convert_tree(client, "/archive/calls", "/archive/wav", to="wav")
>>> print(summary)

Every worker must see ``src`` and ``dst`` under the same paths (a shared file system) and have kvox
installed; see python/README.md.
"""

from __future__ import annotations

import os
from dataclasses import dataclass, field
from typing import Any, Dict, Iterable, List, Optional, Sequence, Tuple

import kvox

from . import _kvox  # type: ignore[attr-defined]

__all__ = ["convert_tree", "Summary", "list_tree"]


@dataclass
class Summary:
    """What :func:`convert_tree` did: ``converted`` and ``skipped`` (output already there) list the
    inputs, ``failed`` lists ``(input, reason)``."""

    converted: List[str] = field(default_factory=list)
    skipped: List[str] = field(default_factory=list)
    failed: List[Tuple[str, str]] = field(default_factory=list)

    @property
    def ok(self) -> bool:
        """True when no file failed."""
        return not self.failed

    def __str__(self) -> str:
        text = f"{len(self.converted)} converted, {len(self.skipped)} skipped (already there), {len(self.failed)} failed"
        return "\n".join([text, *(f"  {path}: {reason}" for path, reason in self.failed)])


def _output_extension(to: str) -> str:
    if not isinstance(to, str):
        raise TypeError(f"to= is a coding or an audio type (str), not {type(to).__name__}")
    if _kvox.coding_from_name(to):
        return ".vox"
    kind = to.lower().lstrip(".")
    if not _kvox.sound_type_writable(kind):
        raise ValueError(f"to={to!r} is neither a coding ({', '.join(kvox.CODINGS)}) nor an audio type kvox writes")
    return "." + kind


def list_tree(src: str, dst: str, to: str) -> Tuple[List[Tuple[str, str]], List[Tuple[str, str]]]:
    """The jobs of a tree, as ``kvox convert`` walks it: ``([(input, output)], [(entry, reason)])``.

    Names that begin with a full stop are skipped (temporary outputs among them), links to folders are
    not followed (so no loop is walked), entries that cannot be read fail, and each input keeps its place
    below ``src`` in ``dst`` with the extension of ``to``. Two inputs that would make one output, or an
    output that would replace its input, fail rather than overwrite.
    """
    extension = _output_extension(to)
    jobs: List[Tuple[str, str]] = []
    failures: List[Tuple[str, str]] = []
    src, dst = os.path.abspath(src), os.path.abspath(dst)
    if not os.path.isdir(src):
        return [], [(src, "not a folder" if os.path.exists(src) else "no such folder")]

    def walk(folder: str) -> None:
        try:
            entries = sorted(os.scandir(folder), key=lambda entry: entry.name)
        except OSError as error:
            failures.append((folder, f"cannot list the folder: {error.strerror}"))
            return
        for entry in entries:
            if entry.name.startswith("."):
                continue
            try:
                if entry.is_dir(follow_symlinks=False):
                    if os.path.realpath(entry.path) != os.path.realpath(dst):  # outputs inside the tree
                        walk(entry.path)
                    continue
                if entry.is_symlink() and not os.path.exists(entry.path):
                    failures.append((entry.path, "a symbolic link to nothing"))
                elif entry.is_file(follow_symlinks=True):
                    relative = os.path.relpath(entry.path, src)
                    jobs.append((entry.path, os.path.join(dst, os.path.splitext(relative)[0] + extension)))
                elif not entry.is_dir(follow_symlinks=True):
                    failures.append((entry.path, "not a regular file (a pipe, a socket or a device)"))
            except OSError as error:
                failures.append((entry.path, error.strerror or str(error)))

    walk(src)
    owners: Dict[str, str] = {}
    kept: List[Tuple[str, str]] = []
    for source, output in jobs:
        if os.path.realpath(source) == os.path.realpath(output):
            failures.append((source, "the output would replace the input; choose another output folder"))
        elif output in owners:
            failures.append((source, f"its output {output} is already made from {owners[output]}"))
        else:
            owners[output] = source
            kept.append((source, output))
    return kept, failures


def _plan(src: str, dst: str, to: str) -> Tuple[List[Tuple[str, str]], List[str], List[Tuple[str, str]]]:
    """Runs on a worker: the jobs still to do, the inputs whose outputs exist, the entries that fail."""
    jobs, failures = list_tree(src, dst, to)
    existing = [source for source, output in jobs if os.path.lexists(output)]
    return [job for job in jobs if not os.path.lexists(job[1])], existing, failures


def _convert_partition(jobs: Sequence[Tuple[str, str]], to: str, options: Dict[str, Any]) -> List[Tuple[str, str, str]]:
    """Runs on a worker: ``[(input, "converted" | "skipped" | "failed", reason)]``."""
    outcomes = []
    for source, output in jobs:
        # Checked again here, not only when listing: another run may have made it meanwhile.
        if os.path.lexists(output):
            outcomes.append((source, "skipped", ""))
            continue
        try:
            os.makedirs(os.path.dirname(output), exist_ok=True)
            kvox.convert(source, output, to=to, **options)
            outcomes.append((source, "converted", ""))
        except (OSError, kvox.Error, ValueError) as error:
            outcomes.append((source, "failed", str(error)))
    return outcomes


def _partitions(jobs: Sequence[Tuple[str, str]], size: int) -> Iterable[List[Tuple[str, str]]]:
    for start in range(0, len(jobs), size):
        yield list(jobs[start : start + size])


def convert_tree(
    client: Any,
    src: "os.PathLike[str] | str",
    dst: "os.PathLike[str] | str",
    to: str = "wav",
    partition_size: int = 64,
    **options: Any,
) -> Summary:
    """Converts every file below ``src`` into the same place below ``dst`` with :func:`kvox.convert`, on
    the workers of the Dask ``client``; returns a :class:`Summary`.

    ``to`` is a coding (VOX outputs, ``.vox``) or an audio type (``wav``, ``flac``, ...), and
    ``options`` go to :func:`kvox.convert` (``coding=`` for raw inputs, ``tag=False``). The tree is
    listed on a worker, so the client needs no access to it. Outputs that exist already are skipped, so
    running it again after an interruption resumes; each output appears only when complete, so an
    interrupted file is simply done again. Files go to the workers ``partition_size`` at a time; a
    partition whose worker dies is retried elsewhere, and fails with the reason after that.
    """
    if not isinstance(partition_size, int) or partition_size < 1:
        raise ValueError(f"partition_size must be a positive int, not {partition_size!r}")
    unknown = set(options) - {"coding", "tag"}
    if unknown:
        raise TypeError(f"convert_tree() got options kvox.convert does not take: {', '.join(sorted(unknown))}")
    source, target = os.fspath(src), os.fspath(dst)
    _output_extension(to)  # a wrong `to` fails here, not once per file on the workers
    pending, existing, failures = client.submit(_plan, source, target, to, pure=False).result()
    summary = Summary(skipped=existing, failed=failures)
    parts = list(_partitions(pending, partition_size))
    futures = client.map(_convert_partition, parts, to=to, options=options, pure=False, retries=2)
    from distributed import as_completed

    index_of = {future.key: number for number, future in enumerate(futures)}
    for future in as_completed(futures):
        try:
            outcomes = future.result()
        except Exception as error:  # the worker died, or the partition could not run at all
            part = parts[index_of[future.key]]
            summary.failed.extend((job[0], f"not converted: {type(error).__name__}: {error}") for job in part)
            continue
        for path, status, reason in outcomes:
            if status == "converted":
                summary.converted.append(path)
            elif status == "skipped":
                summary.skipped.append(path)
            else:
                summary.failed.append((path, reason))
    summary.converted.sort()
    summary.skipped.sort()
    summary.failed.sort()
    return summary
