"""Platform names of the library and the simulator program (no side
effects: also used when the package is built)."""

from __future__ import annotations

import platform
from typing import Optional

SIMULATOR_PROGRAM = "voq-sim"


def library_file_name(system: Optional[str] = None, machine: Optional[str] = None) -> str:
    """The library's platform name: ``libVOQ-<system>-<processor><suffix>``.

    ``libVOQ-Linux-x86_64.so`` on a 64-bit PC, ``libVOQ-Linux-armv6.so`` on
    32-bit ARM boards, ``libVOQ-Darwin-unknown.dylib`` on macOS.
    """
    system = system or platform.system()
    machine = machine if machine is not None else platform.machine()
    if system == "Darwin":
        processor, suffix = "unknown", ".dylib"
    else:
        processor = "armv6" if machine.lower().startswith("arm") else machine
        suffix = ".dll" if system == "Windows" else ".so"
    return "libVOQ-%s-%s%s" % (system, processor, suffix)
