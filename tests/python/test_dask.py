"""kvox.dask.convert_tree on a LocalCluster of two worker processes: every output is kvox convert's, a
rerun resumes, and bad files are reported, not fatal."""

import os

import numpy as np
import pytest

import kvox
import kvox.dask
from conftest import CODINGS, file_bytes

distributed = pytest.importorskip("distributed")


@pytest.fixture(scope="module")
def client():
    # The workers import kvox from the same paths as this process (PYTHONPATH, LD_LIBRARY_PATH).
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True, dashboard_address=None,
                                  silence_logs=40) as cluster, distributed.Client(cluster) as connected:
        yield connected


def test_a_tree_converts_as_kvox_convert_does_and_resumes(client, kvox_command, speech, tmp_path):
    tree = tmp_path / "calls"
    for number in range(300):
        folder = tree / f"day{number % 7}" / f"line{number % 3}"
        folder.mkdir(parents=True, exist_ok=True)
        kvox.write(folder / f"{number:04}.vox", speech(400 + number, seed=number), CODINGS[number % 6])
    (tree / "day0" / "empty.vox").write_bytes(b"")
    (tree / ".hidden.vox").write_bytes(b"not walked")
    os.symlink(tree / "nowhere", tree / "day1" / "dangling.vox")

    summary = kvox.dask.convert_tree(client, tree, tmp_path / "out", to="wav", partition_size=16)
    assert len(summary.converted) == 300 and summary.skipped == []
    assert sorted(os.path.basename(path) for path, _ in summary.failed) == ["dangling.vox", "empty.vox"]
    assert all(reason for _, reason in summary.failed)

    kvox_command("convert", "--to", "wav", "-o", tmp_path / "reference", tree, check=False)
    reference = tmp_path / "reference"
    outputs = sorted((tmp_path / "out").rglob("*.wav"))
    assert len(outputs) == 300
    for output in outputs:
        assert file_bytes(output) == file_bytes(reference / output.relative_to(tmp_path / "out"))

    # An interrupted run: one output lost, and one half-written temporary left where a run was cut off.
    outputs[5].unlink()
    (outputs[6].parent / ".x.wav.kvox-temp").write_bytes(b"partial")
    again = kvox.dask.convert_tree(client, tree, tmp_path / "out", to="wav")
    assert len(again.converted) == 1 and len(again.skipped) == 299 and len(again.failed) == 2
    assert file_bytes(outputs[5]) == file_bytes(reference / outputs[5].relative_to(tmp_path / "out"))


def test_vox_outputs_and_options_reach_the_workers(client, kvox_command, speech, tmp_path):
    tree = tmp_path / "in"
    tree.mkdir()
    for number in range(20):
        kvox.write(tree / f"{number}.vox", speech(8000, seed=number), "ulaw", tag=False)
    summary = kvox.dask.convert_tree(client, tree, tmp_path / "out", to="adpcm", coding="ulaw", tag=False)
    assert summary.ok and len(summary.converted) == 20
    kvox_command("convert", "--to", "adpcm", "--from", "ulaw", "--no-header", "-o", tmp_path / "ref", tree)
    for number in range(20):
        assert file_bytes(tmp_path / "out" / f"{number}.vox") == file_bytes(tmp_path / "ref" / f"{number}.vox")
    with pytest.raises(TypeError):
        kvox.dask.convert_tree(client, tree, tmp_path / "out", to="adpcm", samplerate=8000)
