"""The wheel, built as make dist builds it (Debian's python3-build, no isolation), installed with pip
--no-deps into a fresh venv that sees Debian's numpy: it imports, documents itself and codes."""

import os
import shutil
import subprocess
import sys
import zipfile

from conftest import BUILD, ROOT


def test_the_wheel_installs_into_a_fresh_venv_and_works(tmp_path, kvox_command):
    shutil.copytree(ROOT / "python", tmp_path / "src", ignore=shutil.ignore_patterns("build", "*.egg-info"))
    version = kvox_command("--version").stdout.split()[1]
    env = dict(os.environ, KVOX_VERSION=version, KVOX_INCLUDE_DIR=str(ROOT / "libkvox"),
               KVOX_LIBRARY_DIR=str(BUILD / "libkvox"))
    subprocess.run([sys.executable, "-m", "build", "--wheel", "--no-isolation", "--outdir", tmp_path / "dist",
                    tmp_path / "src"], check=True, capture_output=True, env=env)
    wheel = tmp_path / "dist" / f"kvox-{version}-cp311-cp311-linux_x86_64.whl"
    names = zipfile.ZipFile(wheel).namelist()
    assert {"kvox/py.typed", "kvox/__init__.pyi", "kvox/dask.py"} <= set(names)

    subprocess.run([sys.executable, "-m", "venv", "--system-site-packages", tmp_path / "venv"], check=True)
    python = tmp_path / "venv" / "bin" / "python"
    subprocess.run([python, "-m", "pip", "install", "--no-deps", "--no-index", "-q", wheel], check=True)
    # libkvox1 would be installed beside it; the build tree's library stands in for it.
    script = f"""
import kvox, numpy, pydoc
assert kvox.__file__.startswith({str(tmp_path / "venv")!r}), kvox.__file__
assert kvox.__version__ == {version!r}
assert "1/32768" in pydoc.render_doc(kvox.read)
kvox.write("a.vox", numpy.arange(-800, 800, dtype=numpy.int16), "adpcm")
data, rate = kvox.read("a.vox")
assert rate == 8000 and len(data) == 1600
"""
    run = subprocess.run([python, "-c", script], cwd=tmp_path, capture_output=True, text=True,
                         env=dict(os.environ, PYTHONPATH="", LD_LIBRARY_PATH=str(BUILD / "libkvox")))
    assert run.returncode == 0, run.stderr
