"""Build hook: ships the VOQ library (with the recorder and LSL libraries and
the simulator program) inside the package, so that an installed copy finds them
beside itself.

They are taken from VOQ_LIBRARY / VOQ_SIM when set, else from the newest
build*/ directory of the repository (sanitizer builds skipped).  When none is
found the package is built without them and looks for the library at run
time as usual.  All metadata is in pyproject.toml.
"""

import os
import runpy
import shutil
from pathlib import Path

from setuptools import setup
from setuptools.command.build_py import build_py
from setuptools.dist import Distribution

HERE = Path(__file__).resolve().parent
NAMES = runpy.run_path(str(HERE / "voq" / "_names.py"))


def _sanitizer_build(directory):
    try:
        text = (directory / "CMakeCache.txt").read_text(errors="replace")
    except OSError:
        return False
    return any(line.startswith("VOQ_SANITIZE:") and line.split("=", 1)[-1].strip()
               for line in text.splitlines())


def _built_files():
    """(library, simulator program) to ship; either may be None."""
    name = NAMES["library_file_name"]()
    program = NAMES["SIMULATOR_PROGRAM"]
    library = None
    explicit = os.environ.get("VOQ_LIBRARY")
    if explicit:
        path = Path(explicit)
        library = path / name if path.is_dir() else path
        if not library.is_file():
            raise SystemExit("VOQ_LIBRARY=%s: no library there" % explicit)
    else:
        candidates = [d / name for d in HERE.parent.glob("build*")
                      if (d / name).is_file() and not _sanitizer_build(d)]
        if candidates:
            library = max(candidates, key=lambda p: p.stat().st_mtime)
    simulator = None
    if os.environ.get("VOQ_SIM"):
        simulator = Path(os.environ["VOQ_SIM"])
    elif library is not None:
        for place in (library.parent, library.parent / "simulator"):
            if (place / program).is_file():
                simulator = place / program
                break
    return library, simulator


class BuildWithLibrary(build_py):
    def run(self):
        super().run()
        library, simulator = _built_files()
        target = Path(self.build_lib) / "voq"
        target.mkdir(parents=True, exist_ok=True)
        if library is None:
            print("voq: no built library found; the package will look for it at run time")
            return
        # A real copy under the platform name (the build tree's file is a
        # symbolic link to the versioned one).
        shutil.copyfile(str(library.resolve()), str(target / NAMES["library_file_name"]()))
        print("voq: shipping %s" % library.resolve())
        # The recorder and LSL libraries, built beside it, let Headset.record
        # and Headset.stream_lsl work from an installed copy as well.
        for stem in ("VOQRecorder", "VOQLSL"):
            name = NAMES["library_file_name"]().replace("libVOQ-", "lib%s-" % stem, 1)
            companion = library.parent / name
            if companion.is_file():
                shutil.copyfile(str(companion.resolve()), str(target / name))
                print("voq: shipping %s" % companion.resolve())
        if simulator is not None and simulator.is_file():
            destination = target / NAMES["SIMULATOR_PROGRAM"]
            shutil.copyfile(str(simulator), str(destination))
            destination.chmod(0o755)
            print("voq: shipping %s" % simulator)


class BinaryDistribution(Distribution):
    """The package may carry a native library: tag wheels for the platform."""

    def has_ext_modules(self):
        return True


setup(cmdclass={"build_py": BuildWithLibrary}, distclass=BinaryDistribution)
