"""The simulated headset (the ``voq-sim`` program) for examples and tests."""

from __future__ import annotations

import os
import select
import shutil
import signal
import subprocess
import threading
import time
from collections import deque
from pathlib import Path
from typing import Any, Dict, List, Optional

from . import _library

__all__ = ["Simulator", "find_simulator"]

PROGRAM = "voq-sim"


def find_simulator() -> str:
    """The path of the voq-sim program: the variable VOQ_SIM, else next to
    the loaded library (or in its build tree's simulator directory), else the
    build* directories of the repository, else PATH."""
    tried: List[str] = []
    explicit = os.environ.get("VOQ_SIM")
    if explicit:
        if os.path.isfile(explicit) and os.access(explicit, os.X_OK):
            return explicit
        raise FileNotFoundError("VOQ_SIM is set to %s, which is not an executable file" % explicit)
    places: List[Path] = []
    library = Path(_library.library_path)
    if library.is_absolute():
        places += [library.parent, library.parent / "simulator"]
    root = _library.PACKAGE_DIR.parent.parent
    builds = sorted((p for p in root.glob("build*") if p.is_dir()),
                    key=lambda p: p.stat().st_mtime, reverse=True)
    for build in builds:
        places += [build / "simulator", build]
    for place in places:
        candidate = place / PROGRAM
        if candidate.is_file() and os.access(str(candidate), os.X_OK):
            return str(candidate)
        tried.append(str(candidate))
    found = shutil.which(PROGRAM)
    if found:
        return found
    tried.append("PATH")
    raise FileNotFoundError("cannot find the %s program; looked in: %s (set VOQ_SIM to its path)"
                            % (PROGRAM, ", ".join(tried)))


def _options(settings: Dict[str, Any]) -> List[str]:
    arguments: List[str] = []
    for key, value in settings.items():
        if value is None or value is False:
            continue
        option = "--" + key.replace("_", "-")
        if value is True:
            arguments.append(option)
        elif isinstance(value, dict):
            for name, item in value.items():
                arguments += [option, "%s=%s" % (name, item)]
        elif isinstance(value, (list, tuple)):
            for item in value:
                # A pair such as a link drop (AT, SECONDS) is "AT:SECONDS".
                text = ":".join(str(part) for part in item) if isinstance(item, (list, tuple)) else str(item)
                arguments += [option, text]
        else:
            arguments += [option, str(value)]
    return arguments


class Simulator:
    """Runs the simulated headset in a child process and gives its device
    path; a context manager that stops it::

        with voq.Simulator(rate=300) as port, voq.Headset(port) as headset:
            ...

    Keyword settings become the program's options: ``rate=600`` is
    ``--rate 600``, ``impedance_all=20`` is ``--impedance-all 20``,
    ``impedance={"Fz": 50}`` is ``--impedance Fz=50``, ``trigger="0.5:7"``,
    ``seed=3``, ``drift=100``, ``layout="seven"``, ``serial=2400200``, ``jitter=30``,
    ``truth="truth.txt"``, ``drop=[(6, 3), (16, 3)]`` (lose the link 6 s after
    acquisition first starts, back 3 s later; again at 16 s), ``link="/tmp/headset"``...
    (``voq-sim --help`` lists them all.)

    With ``link``, :meth:`start` (and ``with``) gives the link's path, which
    follows the device to each new pseudo-terminal after a drop;
    :attr:`device_path` is the pseudo-terminal it served first.
    """

    def __init__(self, program: Optional[str] = None, start_timeout: float = 10.0,
                 **settings: Any) -> None:
        self.program = program or find_simulator()
        self.link: Optional[str] = str(settings["link"]) if settings.get("link") else None
        self.device_path: Optional[str] = None
        self.arguments = [self.program] + _options(settings)
        self.start_timeout = start_timeout
        self.process: Optional[subprocess.Popen] = None
        self.path: Optional[str] = None
        self._stderr: deque = deque(maxlen=50)
        self._readers: List[threading.Thread] = []

    def start(self) -> str:
        """Starts the program; returns the device path it serves."""
        if self.process is not None:
            raise RuntimeError("the simulator is already running")
        self.process = subprocess.Popen(self.arguments, stdin=subprocess.DEVNULL,
                                        stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        try:
            self.device_path = self._first_line()
        except BaseException:
            self.stop()
            raise
        self.path = self.link or self.device_path
        self._drain(self.process.stdout, None)
        self._drain(self.process.stderr, self._stderr)
        return self.path

    def _first_line(self) -> str:
        process = self.process
        assert process is not None and process.stdout is not None
        deadline = time.monotonic() + self.start_timeout
        buffer = b""
        descriptor = process.stdout.fileno()
        while b"\n" not in buffer:
            remaining = deadline - time.monotonic()
            if remaining <= 0:
                raise RuntimeError("%s printed no device path within %.0f s"
                                   % (self.program, self.start_timeout))
            ready, _, _ = select.select([descriptor], [], [], remaining)
            if not ready:
                continue
            chunk = os.read(descriptor, 4096)
            if not chunk:
                process.wait(timeout=5)
                problem = process.stderr.read().decode(errors="replace") if process.stderr else ""
                raise RuntimeError("%s ended (exit status %s) before printing its device path%s"
                                   % (self.program, process.returncode,
                                      ": " + problem.strip() if problem.strip() else ""))
            buffer += chunk
        line = buffer.split(b"\n", 1)[0].decode(errors="replace").strip()
        if not line:
            raise RuntimeError("%s printed an empty device path" % self.program)
        return line

    def _drain(self, stream: Any, keep: Optional[deque]) -> None:
        # Keeps the pipes empty so that the program never blocks on them.
        def run() -> None:
            try:
                for line in iter(stream.readline, b""):
                    if keep is not None:
                        keep.append(line.decode(errors="replace").rstrip())
            except (OSError, ValueError):
                pass

        thread = threading.Thread(target=run, name="voq-sim output", daemon=True)
        thread.start()
        self._readers.append(thread)

    @property
    def stderr(self) -> str:
        """The last lines the program wrote to standard error."""
        return "\n".join(self._stderr)

    @property
    def running(self) -> bool:
        return self.process is not None and self.process.poll() is None

    def stop(self, timeout: float = 5.0) -> None:
        """Stops the program (SIGTERM, then SIGKILL after `timeout`)."""
        process, self.process = self.process, None
        if process is None:
            return
        if process.poll() is None:
            process.send_signal(signal.SIGTERM)
            try:
                process.wait(timeout=timeout)
            except subprocess.TimeoutExpired:
                process.kill()
                process.wait()
        for thread in self._readers:
            thread.join(timeout=1.0)
        self._readers = []
        for stream in (process.stdout, process.stderr):
            if stream is not None:
                stream.close()

    def __enter__(self) -> str:
        return self.start()

    def __exit__(self, *exc: Any) -> None:
        self.stop()

    def __del__(self) -> None:
        try:
            self.stop()
        except Exception:
            pass
