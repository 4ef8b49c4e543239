# pip install . into a virtual environment, offline, as docs/python.md says:
# the package is installed with its metadata, its version is CMake's, and its
# numbers are the build's. A ctest of its own (it compiles the module again).
import os
import re
import shutil
import subprocess
import sys
import tempfile

import talvo

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))


def copy_sources(target):
    """The source tree without builds, so that pip's in-tree build stays in the copy."""
    def ignore(directory, names):
        top = os.path.samefile(directory, ROOT)
        return [name for name in names if name in (".git", "__pycache__", "node_modules")
                or (top and name.startswith(("build", "out", ".")))]
    shutil.copytree(ROOT, target, ignore=ignore, symlinks=True)


def test_pip_install_into_a_venv():
    work = tempfile.mkdtemp(prefix="talvo-pip-")
    try:
        source, venv = os.path.join(work, "source"), os.path.join(work, "venv")
        copy_sources(source)
        subprocess.run([sys.executable, "-m", "venv", "--system-site-packages", venv], check=True)
        python = os.path.join(venv, "bin", "python")
        env = {name: value for name, value in os.environ.items() if name != "PYTHONPATH"}
        env["PIP_DISABLE_PIP_VERSION_CHECK"] = "1"
        subprocess.run([python, "-m", "pip", "install", "-q", "--no-index", "--no-cache-dir",
                        "--no-build-isolation", source], check=True, env=env, cwd=work)
        code = ("import importlib.metadata, talvo; print(talvo.__file__); "
                "print(importlib.metadata.version('talvo'), talvo.__version__); "
                "print(talvo.analyse('MSTRRRRRRRRRRGSAPKL' * 3, alphabet='R').segments)")
        done = subprocess.run([python, "-c", code], check=True, env=env, cwd=work,
                              capture_output=True, text=True)
        path, versions, segments = done.stdout.splitlines()
        with open(os.path.join(ROOT, "CMakeLists.txt")) as cmake:
            version = re.search(r"project\(\s*TALVO\s+VERSION\s+([0-9.]+)", cmake.read())[1]
        assert path.startswith(venv) and versions == f"{version} {version}"
        assert segments == repr(talvo.analyse("MSTRRRRRRRRRRGSAPKL" * 3, alphabet="R").segments)
    finally:
        shutil.rmtree(work)
