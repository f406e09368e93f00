"""Builds kvox, the Python package on libkvox: kvox/ and the extension kvox._kvox.

libkvox is found, in this order, through
- KVOX_INCLUDE_DIR and KVOX_LIBRARY_DIR (a staged install, as make dist uses),
- KVOX_BUILD_DIR, a CMake build tree of this project (the header from the source tree beside this folder),
- pkg-config kvox (an installed libkvox-dev).
The version is KVOX_VERSION, else the one in project() of the CMakeLists.txt beside this folder.
"""

import os
import re
import shlex
import subprocess
from pathlib import Path

import pybind11
from setuptools import Extension, setup

here = Path(__file__).resolve().parent
source = here.parent


def version():
    if os.environ.get("KVOX_VERSION"):
        return os.environ["KVOX_VERSION"]
    text = (source / "CMakeLists.txt").read_text()
    return re.search(r"project\(\s*kestrovan_vox\s+VERSION\s+([0-9.]+)", text).group(1)


def libkvox():
    """(include dirs, library dirs, extra compile flags, extra link flags)."""
    if os.environ.get("KVOX_INCLUDE_DIR"):
        return [os.environ["KVOX_INCLUDE_DIR"]], [os.environ["KVOX_LIBRARY_DIR"]], [], []
    if os.environ.get("KVOX_BUILD_DIR"):
        build = Path(os.environ["KVOX_BUILD_DIR"]).resolve()
        return [str(source / "libkvox")], [str(build / "libkvox")], [], []
    try:
        cflags = subprocess.run(["pkg-config", "--cflags", "kvox"], check=True, capture_output=True, text=True)
        libs = subprocess.run(["pkg-config", "--libs-only-L", "kvox"], check=True, capture_output=True, text=True)
    except (OSError, subprocess.CalledProcessError):
        raise SystemExit("kvox: libkvox not found: set KVOX_BUILD_DIR to a build tree, or install libkvox-dev")
    return [], [], shlex.split(cflags.stdout), shlex.split(libs.stdout)


include_dirs, library_dirs, compile_flags, link_flags = libkvox()

extension = Extension(
    "kvox._kvox",
    sources=["src/kvox_module.cpp"],
    include_dirs=[pybind11.get_include(), *include_dirs],
    library_dirs=library_dirs,
    libraries=["kvox", "sndfile"],
    define_macros=[("KVOX_PACKAGE_VERSION", '"%s"' % version())],
    extra_compile_args=["-std=c++20", "-fvisibility=hidden", "-O3", *compile_flags],
    extra_link_args=["-Wl,--as-needed", *link_flags],
    language="c++",
)

setup(
    name="kvox",
    version=version(),
    description="Kestrovan VOX telephony voice files (G.711 and 4-bit ADPCM) on libkvox, with numpy and Dask",
    long_description=(here / "README.md").read_text(),
    long_description_content_type="text/markdown",
    license="MIT",
    python_requires=">=3.9",
    install_requires=["numpy"],
    extras_require={"dask": ["distributed"]},
    packages=["kvox"],
    package_data={"kvox": ["py.typed", "*.pyi"]},
    ext_modules=[extension],
    zip_safe=False,
    classifiers=[
        "License :: OSI Approved :: MIT License",
        "Programming Language :: Python :: 3",
        "Programming Language :: C++",
        "Operating System :: POSIX :: Linux",
        "Topic :: Multimedia :: Sound/Audio :: Conversion",
    ],
)
