"""Builds the compiled module talvo._talvo with CMake, as the CMake build
makes it (the same sources and flags: the numbers must be bit for bit those
of talvo-proteome), for the Python that runs pip. The version is CMake's:
project(TALVO VERSION x.y.z) in CMakeLists.txt."""

import os
import re
import shutil
import subprocess
import sys
from pathlib import Path

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

ROOT = Path(__file__).resolve().parent


def cmake_version() -> str:
    text = (ROOT / "CMakeLists.txt").read_text(encoding="utf-8")
    match = re.search(r"project\(\s*TALVO\s+VERSION\s+([0-9][0-9.]*)", text)
    if match is None:
        sys.exit("setup.py: no project(TALVO VERSION x.y.z) in CMakeLists.txt")
    return match.group(1)


class CMakeBuild(build_ext):
    """Configures a CMake build of its own under build_temp and builds only
    the module's target there."""

    def build_extension(self, ext: Extension) -> None:
        build = Path(self.build_temp).resolve() / "cmake"
        configure = [
            "cmake", "-S", str(ROOT), "-B", str(build), "-DCMAKE_BUILD_TYPE=Release",
            "-DTALVO_BUILD_TESTS=OFF", "-DTALVO_BUILD_BENCH=OFF",
            f"-DPython3_EXECUTABLE={sys.executable}", "-DTALVO_PYTHON_REQUIRED=ON",
        ]
        try:
            import pybind11
        except ImportError:
            pass  # a Python without it: CMake finds pybind11-dev's
        else:
            configure.append(f"-Dpybind11_DIR={pybind11.get_cmake_dir()}")
        jobs = os.environ.get("CMAKE_BUILD_PARALLEL_LEVEL", str(os.cpu_count() or 1))
        try:
            subprocess.run(configure, check=True)
            subprocess.run(["cmake", "--build", str(build), "--target", "_talvo", "-j", jobs],
                           check=True)
        except FileNotFoundError:
            sys.exit("setup.py: the build needs cmake (apt-get install cmake)")
        target = Path(self.get_ext_fullpath(ext.name))
        built = build / "python" / "talvo" / target.name
        if not built.exists():
            sys.exit(f"setup.py: CMake made no {built}")
        target.parent.mkdir(parents=True, exist_ok=True)
        shutil.copyfile(built, target)


# The egg-info beside the builds, not in the source tree.
os.makedirs(ROOT / "build", exist_ok=True)
setup(
    version=cmake_version(),
    options={"egg_info": {"egg_base": str(ROOT / "build")}},
    ext_modules=[Extension("talvo._talvo", sources=[])],
    cmdclass={"build_ext": CMakeBuild},
)
