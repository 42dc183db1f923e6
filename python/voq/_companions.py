"""Loading the libraries beside the VOQ library that have small C interfaces
of their own: the recorder (``libVOQRecorder-<system>-<processor>``,
``VOQRec_*``) and the LSL outlet (``libVOQLSL-<system>-<processor>``,
``VOQLSL_*``).

Each is looked up when first used: the file named by its environment variable
(a file, or a directory holding it under its platform name); else beside the
loaded VOQ library; else beside this package; else the system's library
paths.  It must belong to the same build as the VOQ library, which it uses
through the same process.
"""

from __future__ import annotations

import ctypes
import os
from pathlib import Path
from typing import Any, Callable, Dict, List, Optional, Sequence, Tuple

from . import _core, _library
from ._core import VOQError

__all__ = ["Companion"]


class Companion:
    """One such library: `stem` names its file (``lib<stem>-<system>-...``),
    `prefix` its functions, `variable` the environment variable that names
    it; `prototypes` maps each function to (restype, argtypes)."""

    def __init__(self, stem: str, prefix: str, variable: str,
                 prototypes: Dict[str, Tuple[Any, Sequence[Any]]]) -> None:
        self.stem = stem
        self.prefix = prefix
        self.variable = variable
        self.prototypes = prototypes
        self._loaded: Optional[ctypes.CDLL] = None

    def file_name(self) -> str:
        """The platform name, e.g. ``libVOQRecorder-Linux-x86_64.so``."""
        return _library.library_file_name().replace("libVOQ-", "lib%s-" % self.stem, 1)

    def load(self) -> ctypes.CDLL:
        """Loads the library (once) and declares its functions."""
        if self._loaded is not None:
            return self._loaded
        name = self.file_name()
        tried: List[str] = []
        candidates: List[str] = []
        explicit = os.environ.get(self.variable)
        if explicit:
            path = Path(explicit).expanduser()
            candidates.append(str(path / name if path.is_dir() else path))
        else:
            library = Path(_library.library_path)
            if library.is_absolute():
                candidates.append(str(library.parent / name))
            candidates.append(str(_library.PACKAGE_DIR / name))
            candidates.append(name)
        for candidate in candidates:
            if os.sep in candidate and not os.path.exists(candidate):
                tried.append("%s (no such file)" % candidate)
                continue
            try:
                loaded = ctypes.CDLL(candidate)
            except OSError as e:
                tried.append("%s (could not be loaded: %s)" % (candidate, e))
                continue
            missing = [f for f in self.prototypes if not hasattr(loaded, f)]
            if missing:
                tried.append("%s (lacks %s)" % (candidate, ", ".join(missing)))
                continue
            for function, (restype, argtypes) in self.prototypes.items():
                getattr(loaded, function).restype = restype
                getattr(loaded, function).argtypes = list(argtypes)
            self._loaded = loaded
            return loaded
        raise VOQError("cannot load the library %s; looked in: %s. Build the %s target beside the VOQ "
                       "library, or set %s." % (name, "; ".join(tried), self.stem, self.variable))

    def failure(self) -> str:
        """The library's stored failure text of this thread, or ""."""
        raw = getattr(self.load(), self.prefix + "Error")()
        return raw.decode("utf-8", errors="replace") if raw else ""

    def call(self, function: Callable[..., Any], *args: Any,
             failed: Callable[[Any], bool] = lambda result: False) -> Any:
        """Calls one of its functions under the binding's lock.  The library
        reports the VOQ library's failures in its own words, so its text wins
        over the VOQ library's."""
        getattr(self.load(), self.prefix + "ClearError")()
        try:
            result = _core.call(function, *args)
        except VOQError:
            text = self.failure()
            if text:
                raise VOQError(text) from None
            raise
        if failed(result):
            raise VOQError(self.failure() or "%s failed" % function.__name__)
        return result
