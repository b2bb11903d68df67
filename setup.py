"""Builds the Python package velmar with CMake (see pyproject.toml).

The extension velmar._velmar is compiled by this source tree's own CMake
build (the library, the console's deck runner and the bindings; no tests, no
benchmarks), in a folder of its own, and copied into the wheel beside the
pure-Python files of python/velmar. Nothing here needs git: the version is
read from the top-level CMakeLists.txt, so an unpacked source archive builds
the same way as a checkout.

Environment: CMAKE_ARGS adds arguments to the CMake configuration (for
example "-DCMAKE_CXX_COMPILER_LAUNCHER=ccache"); CMAKE_BUILD_PARALLEL_LEVEL
sets the number of compile jobs (default: the number of processors).
"""

import os
import re
import shlex
import shutil
import subprocess
import sys
from pathlib import Path

from setuptools import Extension, setup
from setuptools.command.build import build
from setuptools.command.build_ext import build_ext

ROOT = Path(__file__).resolve().parent


def cmake_project_version():
    text = (ROOT / "CMakeLists.txt").read_text()
    match = re.search(r"project\(velmar\s+VERSION\s+([0-9]+\.[0-9]+\.[0-9]+)", text)
    if not match:
        raise RuntimeError("CMakeLists.txt: no 'project(velmar VERSION x.y.z)' line to take the version from")
    return match.group(1)


class CMakeExtension(Extension):
    """An extension whose sources CMake compiles."""

    def __init__(self, name):
        super().__init__(name, sources=[])


class BuildOutsideCMakeFolders(build):
    """setuptools' build, in build-pip/ rather than build/ (the CMake build
    folder that the README's commands use)."""

    def initialize_options(self):
        super().initialize_options()
        self.build_base = "build-pip"


class CMakeBuild(build_ext):
    def build_extension(self, ext):
        if shutil.which("cmake") is None:
            raise RuntimeError("building velmar needs CMake 3.20 or later (Debian: apt-get install cmake)")
        cmake_dir = Path(self.build_temp).resolve() / "cmake"
        cmake_dir.mkdir(parents=True, exist_ok=True)
        configure = [
            "cmake", "-S", str(ROOT), "-B", str(cmake_dir),
            "-DCMAKE_BUILD_TYPE=Release",
            "-DVELMAR_TESTS=OFF", "-DVELMAR_BENCH=OFF", "-DVELMAR_PYTHON=ON",
            f"-DPython3_EXECUTABLE={sys.executable}",
        ]
        configure += shlex.split(os.environ.get("CMAKE_ARGS", ""))
        subprocess.run(configure, check=True)
        jobs = os.environ.get("CMAKE_BUILD_PARALLEL_LEVEL") or str(os.cpu_count() or 1)
        subprocess.run(["cmake", "--build", str(cmake_dir), "--target", "velmar_python", "-j", jobs], check=True)

        built = sorted((cmake_dir / "python" / "velmar").glob("_velmar*.so"))
        if not built:
            raise RuntimeError(f"the CMake build left no module _velmar*.so in {cmake_dir / 'python' / 'velmar'}")
        target = Path(self.get_ext_fullpath(ext.name))
        target.parent.mkdir(parents=True, exist_ok=True)
        shutil.copyfile(built[0], target)


setup(
    version=cmake_project_version(),
    packages=["velmar"],
    package_dir={"velmar": "python/velmar"},
    ext_modules=[CMakeExtension("velmar._velmar")],
    cmdclass={"build": BuildOutsideCMakeFolders, "build_ext": CMakeBuild},
    zip_safe=False,
)
