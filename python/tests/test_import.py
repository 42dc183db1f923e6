"""Importing the package: without numpy, and with the library missing."""

import os
import shutil
import subprocess
import sys

import voq
from conftest import PYTHON_DIR, subprocess_environment


def run_python(code, environment, cwd=None):
    return subprocess.run([sys.executable, "-c", code], env=environment, cwd=cwd,
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, timeout=60)


def test_import_needs_no_numpy():
    code = ("import sys\n"
            "sys.modules['numpy'] = None  # any import of numpy now fails\n"
            "import voq\n"
            "print(voq.api_version())\n"
            "assert not {'mne', 'matplotlib'} & set(sys.modules), 'heavy modules imported'\n")
    result = run_python(code, subprocess_environment())
    assert result.returncode == 0, result.stderr
    assert result.stdout.strip() == "1.18.2"


def test_missing_library_lists_where_it_looked(tmp_path):
    # A copy of the package outside the repository: no build tree around it.
    shutil.copytree(str(PYTHON_DIR / "voq"), str(tmp_path / "voq"),
                    ignore=shutil.ignore_patterns("__pycache__", "libVOQ-*", "voq-sim"))
    environment = subprocess_environment(VOQ_LIBRARY=None, LD_LIBRARY_PATH=None,
                                         DYLD_LIBRARY_PATH=None)
    environment["PYTHONPATH"] = str(tmp_path)
    result = run_python("import voq", environment, cwd=str(tmp_path))
    assert result.returncode != 0
    name = voq.library_file_name()
    assert "ImportError: cannot load the VOQ library %s; looked in:" % name in result.stderr
    assert str(tmp_path / "voq" / name) in result.stderr           # beside the package
    assert str(tmp_path.parent / "build*" / name) in result.stderr  # the build tree
    assert "the system's library paths" in result.stderr


def test_voq_library_variable_is_decisive(tmp_path):
    missing = tmp_path / "nowhere" / "libVOQ.so"
    environment = subprocess_environment(VOQ_LIBRARY=str(missing))
    result = run_python("import voq", environment)
    assert result.returncode != 0
    assert "ImportError: cannot load the VOQ library" in result.stderr
    assert "%s (from VOQ_LIBRARY: no such file)" % missing in result.stderr
    assert "VOQ_LIBRARY is set, so no other place was searched" in result.stderr


def test_voq_library_may_name_a_directory():
    directory = os.path.dirname(voq.library_path)
    environment = subprocess_environment(VOQ_LIBRARY=directory)
    result = run_python("import voq; print(voq.library_path)", environment)
    assert result.returncode == 0, result.stderr
    assert result.stdout.strip().startswith(directory)
