"""The type stubs describe the package as it is: mypy's stubtest holds them against the runtime."""

import subprocess
import sys

import pytest

pytest.importorskip("mypy")


def test_the_stubs_match_the_package(tmp_path):
    # Run elsewhere: mypy leaves its cache in the folder it runs in.
    run = subprocess.run([sys.executable, "-m", "mypy.stubtest", "kvox"], capture_output=True, text=True, cwd=tmp_path)
    assert run.returncode == 0, run.stdout + run.stderr
