"""Finding and loading the VOQ shared library, and the ctypes prototypes of
every function it exports.

The library is looked up, in this order:

1. the file named by the environment variable ``VOQ_LIBRARY`` (a file, or a
   directory holding the library under its platform name).  When the variable
   is set, nothing else is tried;
2. beside this package (``voq/libVOQ-<system>-<processor>.so``);
3. the build tree of the repository this package lives in: every ``build*``
   directory next to the ``python`` directory, newest library first
   (sanitizer builds are skipped: they cannot be loaded into an
   uninstrumented interpreter);
4. the system's library paths (``LD_LIBRARY_PATH``, the linker cache,
   ``/lib``, ``/usr/lib``; ``DYLD_LIBRARY_PATH`` and the like on macOS).

When nothing loads, importing :mod:`voq` raises :class:`ImportError` that
lists every place it looked.
"""

from __future__ import annotations

import ctypes
import ctypes.util
import os
import sys
from pathlib import Path
from typing import List, Optional, Tuple

from ._names import library_file_name

__all__ = [
    "library_file_name",
    "load",
    "lib",
    "library_path",
    "HeadsetHandle",
    "SourceHandle",
    "ChannelHandle",
    "ProcessingStageHandle",
    "MessageCallback",
    "SampleCallback",
    "ProcessingStageCallback",
    "PROTOTYPES",
]

PACKAGE_DIR = Path(__file__).resolve().parent


# ---------------------------------------------------------------------------
# Handle and callback types

class HeadsetHandle(ctypes.c_void_p):
    """A ``VOQ_Headset``: opaque pointer to a headset."""


class SourceHandle(ctypes.c_void_p):
    """A ``VOQ_Source``: borrowed pointer to a source of a headset."""


class ChannelHandle(ctypes.c_void_p):
    """A ``VOQ_Channel``: borrowed pointer to an output channel."""


class ProcessingStageHandle(ctypes.c_void_p):
    """A ``VOQ_ProcessingStage``: borrowed pointer to a processing stage."""


# int (*)(const char* message, int level)
MessageCallback = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_char_p, ctypes.c_int)
# void (*)(VOQ_Headset headset, double sampleTime, void* userData)
SampleCallback = ctypes.CFUNCTYPE(None, ctypes.c_void_p, ctypes.c_double, ctypes.c_void_p)
# void (*)(VOQ_Headset headset, double sampleTime, void* stage)
ProcessingStageCallback = ctypes.CFUNCTYPE(None, ctypes.c_void_p, ctypes.c_double, ctypes.c_void_p)

# ---------------------------------------------------------------------------
# Prototypes: name -> (restype, argtypes), for every export of VOQ_API.h.

_H, _S, _C, _P = HeadsetHandle, SourceHandle, ChannelHandle, ProcessingStageHandle
_int, _uint, _size = ctypes.c_int, ctypes.c_uint, ctypes.c_size_t
_double, _text, _ptr = ctypes.c_double, ctypes.c_char_p, ctypes.c_void_p

PROTOTYPES = {
    # Frame and general functions
    "Load_VOQ_API": (_int, []),
    "VOQ_Error": (_text, []),
    "VOQ_ClearError": (_text, []),
    "VOQ_SetErrorCallback": (None, [MessageCallback]),
    "VOQ_SanityCheck": (None, []),
    "VOQ_GetAPIVersion": (_text, []),
    "VOQ_PythonString": (_text, [_ptr, _size, _int]),
    "VOQ_Sleep": (None, [_double]),
    "VOQ_Console": (_int, [_text, _int]),
    "VOQ_GetDefaultPort": (_text, []),
    # Headset lifecycle and messages
    "VOQ_Headset_New": (_H, [_text]),
    "VOQ_Headset_Delete": (None, [_H]),
    "VOQ_Headset_Connect": (None, [_H, _text]),
    "VOQ_Headset_Disconnect": (None, [_H]),
    "VOQ_Headset_IsConnected": (_int, [_H]),
    "VOQ_Headset_SecondsSinceConnection": (_double, [_H]),
    "VOQ_Headset_GetPort": (_text, [_H]),
    "VOQ_Headset_IsBlueToothInitialized": (_int, [_H]),
    "VOQ_Headset_SetVerbosity": (None, [_H, _int]),
    "VOQ_Headset_SetMessageCallback": (None, [_H, MessageCallback]),
    "VOQ_Headset_UseOptionalCommandPrefix": (None, [_H, _int]),
    "VOQ_Headset_KillDataStream": (None, [_H, _int]),
    # Device commands and recorded settings
    "VOQ_Headset_ConfigureADC": (None, [_H, _int, _int]),
    "VOQ_Headset_SetAccelerometerRate": (None, [_H, _uint]),
    "VOQ_Headset_SendBatteryQuery": (None, [_H]),
    "VOQ_Headset_StartDataAcquisition": (None, [_H]),
    "VOQ_Headset_StopDataAcquisition": (None, [_H]),
    "VOQ_Headset_StartImpedanceDriver": (None, [_H]),
    "VOQ_Headset_StopImpedanceDriver": (None, [_H]),
    "VOQ_Headset_StartAnalogReset": (None, [_H]),
    "VOQ_Headset_LockAnalogReset": (None, [_H]),
    "VOQ_Headset_ReleaseAnalogReset": (None, [_H]),
    "VOQ_Headset_Shutdown": (None, [_H]),
    "VOQ_Headset_ChangeLEDs": (None, [_H, _int]),
    "VOQ_Headset_GetHardwareModel": (_text, [_H]),
    "VOQ_Headset_GetHardwareRevision": (_text, [_H]),
    "VOQ_Headset_GetSensorCount": (_uint, [_H]),
    "VOQ_Headset_GetSerialNumber": (_uint, [_H]),
    "VOQ_Headset_GetSamplingRate": (_double, [_H]),
    "VOQ_Headset_GetAccelerometerRate": (_double, [_H]),
    "VOQ_Headset_GetFilterMode": (_int, [_H]),
    "VOQ_Headset_GetDataAcquisitionMode": (_int, [_H]),
    "VOQ_Headset_GetImpedanceDriverMode": (_int, [_H]),
    "VOQ_Headset_GetAnalogResetMode": (_int, [_H]),
    # Alarms
    "VOQ_Headset_GetAlarm": (_int, [_H, _int]),
    "VOQ_Headset_GetNumberOfAlarms": (_int, [_H]),
    "VOQ_Headset_ClearAlarms": (None, [_H]),
    # Battery, firmware and information
    "VOQ_Headset_GetBatteryLevel": (_double, [_H, _uint]),
    "VOQ_Headset_GetBatteryLevelString": (_text, [_H]),
    "VOQ_Headset_GetFirmwareRevision": (_text, [_H]),
    "VOQ_Headset_GetInfoString": (_text, [_H]),
    # Sources
    "VOQ_Headset_GetNumberOfSources": (_uint, [_H]),
    "VOQ_Headset_GetSourceByIndex": (_S, [_H, _uint]),
    "VOQ_Headset_GetSourceByName": (_S, [_H, _text]),
    "VOQ_Headset_GetImpedanceCMF": (_double, [_H]),
    "VOQ_Source_IsTrigger": (_int, [_S]),
    "VOQ_Source_IsSensor": (_int, [_S]),
    "VOQ_Source_IsReferentialEEG": (_int, [_S]),
    "VOQ_Source_IsFactoryReference": (_int, [_S]),
    "VOQ_Source_IsCommonModeSignal": (_int, [_S]),
    "VOQ_Source_SetName": (None, [_S, _text]),
    "VOQ_Source_GetName": (_text, [_S]),
    "VOQ_Source_GetSignal": (_double, [_S]),
    "VOQ_Source_GetGain": (_double, [_S]),
    "VOQ_Source_GetImpedanceEEG": (_double, [_S]),
    "VOQ_Source_GetImpedanceCMF": (_double, [_S]),
    "VOQ_Source_GetDCOffset": (_double, [_S]),
    # Source naming
    "VOQ_Headset_UseNamingScheme": (None, [_H, _text]),
    "VOQ_Headset_RenameSource": (_int, [_H, _text, _text]),
    "VOQ_Headset_AddSourceAliases": (_int, [_H, _text]),
    "VOQ_Headset_GetSourceNames": (_text, [_H, _int]),
    # Montage and references
    "VOQ_Headset_ChooseChannels": (None, [_H, _text, _text, _int]),
    "VOQ_Headset_AddChannelToMontage_FromSource": (None, [_H, _S]),
    "VOQ_Headset_AddChannelToMontage_FromString": (None, [_H, _text, _int]),
    "VOQ_Headset_SetTraditionalReference": (_text, [_H, _int]),
    "VOQ_Headset_SetDefaultReference": (None, [_H, _text, _int]),
    "VOQ_Headset_GetFactoryReferenceString": (_text, [_H]),
    "VOQ_Headset_GetReferenceString": (_text, [_H]),
    "VOQ_Headset_ForgetMontage": (None, [_H]),
    "VOQ_Headset_GetNumberOfChannels": (_uint, [_H]),
    "VOQ_Headset_GetChannelByIndex": (_C, [_H, _uint]),
    "VOQ_Headset_GetChannelByName": (_C, [_H, _text]),
    "VOQ_Headset_GetMontageString": (_text, [_H]),
    # Channels
    "VOQ_Channel_LookBack": (_double, [_C, _size]),
    "VOQ_Channel_ReadBuffered": (_double, [_C]),
    "VOQ_Channel_GetNumberOfBufferedSamples": (_size, [_C]),
    "VOQ_Channel_GetNumberOfOverflowedSamples": (_size, [_C]),
    "VOQ_Channel_GetBufferCapacity": (_size, [_C]),
    "VOQ_Channel_FlushOutputBuffer": (None, [_C]),
    "VOQ_Channel_SetName": (None, [_C, _text]),
    "VOQ_Channel_GetName": (_text, [_C]),
    "VOQ_Channel_GetString": (_text, [_C]),
    "VOQ_Channel_GetSignal": (_double, [_C]),
    "VOQ_Channel_CalculateRawSignal": (_double, [_C]),
    "VOQ_Channel_IsReferentialEEG": (_int, [_C]),
    "VOQ_Channel_IsTrigger": (_int, [_C]),
    # Processing stages
    "VOQ_Headset_AddProcessingStage": (_P, [_H, _text, ProcessingStageCallback, _ptr, _P]),
    "VOQ_Headset_ReallocateStageBuffers": (None, [_H, _P, _double]),
    "VOQ_Headset_GetNumberOfProcessingStages": (_uint, [_H]),
    "VOQ_Headset_GetProcessingStageByIndex": (_P, [_H, _uint]),
    "VOQ_Headset_GetProcessingStageByName": (_P, [_H, _text]),
    "VOQ_ProcessingStage_GetChannelByIndex": (_C, [_P, _uint]),
    "VOQ_ProcessingStage_GetChannelByName": (_C, [_P, _text]),
    "VOQ_ProcessingStage_ClearChannels": (None, [_P]),
    "VOQ_ProcessingStage_AddChannel": (_C, [_P, _text, _size]),
    "VOQ_ProcessingStage_GetInput": (_P, [_P]),
    "VOQ_ProcessingStage_GetName": (_text, [_P]),
    "VOQ_ProcessingStage_ParamData": (_ptr, [_P]),
    "VOQ_ProcessingStage_GetNumberOfChannels": (_uint, [_P]),
    "VOQ_ProcessingStage_Read": (_double, [_P, _uint, _size]),
    "VOQ_ProcessingStage_Write": (None, [_P, _uint, _double]),
    # Ready-made filters
    "VOQ_Headset_AddFilter": (_P, [_H, _text, _text, _P]),
    "VOQ_Headset_GetPrefiltering": (_text, [_H]),
    "VOQ_Filter_Apply": (_int, [_text, _double, ctypes.POINTER(_double), _size, _size, ctypes.POINTER(_int)]),
    # Samples, buffering and acquisition
    "VOQ_Headset_SetSampleCallback": (None, [_H, SampleCallback, _ptr]),
    "VOQ_Headset_ReallocateBuffers": (None, [_H, _double, _double]),
    "VOQ_Headset_FlushBuffers": (None, [_H]),
    "VOQ_Headset_GetNumberOfBufferedSamples": (_size, [_H]),
    "VOQ_Headset_GetNumberOfOverflowedSamples": (_size, [_H]),
    "VOQ_Headset_ConfigureBufferingController": (None, [_H, _double, _double, _double, _double, _double]),
    "VOQ_Headset_ConfigureBatch": (None, [_H, _uint, _double]),
    "VOQ_Headset_StartBackgroundAcquisition": (_int, [_H]),
    "VOQ_Headset_StopBackgroundAcquisition": (None, [_H]),
    "VOQ_Headset_WaitForBatch": (_double, [_H]),
    "VOQ_Headset_WaitForSamples": (_size, [_H, _size]),
    "VOQ_Headset_Idle": (None, [_H, _double]),
    "VOQ_Headset_Receive": (None, [_H, _double, _double]),
    # Sample times on the host's clock
    "VOQ_HostClock": (_double, []),
    "VOQ_Headset_GetSampleTime": (_double, [_H]),
    "VOQ_Headset_GetSampleTimes": (_uint, [_H, ctypes.POINTER(_double), _uint]),
    "VOQ_Headset_GetCallbackSampleTime": (_double, [_H]),
    # Reconnection after a lost link
    "VOQ_Headset_SetReconnect": (None, [_H, _double]),
    "VOQ_Headset_GetReconnect": (_double, [_H]),
    "VOQ_Headset_IsLinkUp": (_int, [_H]),
    "VOQ_Headset_GetLinkEvent": (_int, [_H, ctypes.POINTER(_double), ctypes.POINTER(_size),
                                        ctypes.POINTER(_size)]),
}


# ---------------------------------------------------------------------------
# Lookup

def _is_sanitizer_build(build_dir: Path) -> bool:
    cache = build_dir / "CMakeCache.txt"
    try:
        text = cache.read_text(errors="replace")
    except OSError:
        return False
    for line in text.splitlines():
        if line.startswith("VOQ_SANITIZE:"):
            return bool(line.split("=", 1)[-1].strip())
    return False


def _build_tree_candidates(name: str, tried: List[str]) -> List[Path]:
    """Libraries in the build* directories of the repository around this
    package, newest first."""
    root = PACKAGE_DIR.parent.parent
    pattern = str(root / "build*" / name)
    found = []
    try:
        directories = sorted(p for p in root.glob("build*") if p.is_dir())
    except OSError:
        directories = []
    for directory in directories:
        candidate = directory / name
        if not candidate.exists():
            continue
        if _is_sanitizer_build(directory):
            tried.append("%s (skipped: sanitizer build)" % candidate)
            continue
        try:
            found.append((candidate.stat().st_mtime, candidate))
        except OSError:
            continue
    if not found:
        tried.append("%s (no such file)" % pattern)
    found.sort(key=lambda item: item[0], reverse=True)
    return [path for _, path in found]


def _system_search_description() -> str:
    if sys.platform == "darwin":
        return "the system's library paths (DYLD_LIBRARY_PATH, DYLD_FALLBACK_LIBRARY_PATH, /usr/local/lib, /usr/lib)"
    return "the system's library paths (LD_LIBRARY_PATH, /etc/ld.so.cache, /lib, /usr/lib)"


def load() -> Tuple[ctypes.CDLL, str]:
    """Finds and loads the library; returns it with the path it came from.

    Raises ImportError that lists every place looked at when nothing loads.
    """
    name = library_file_name()
    tried: List[str] = []

    def attempt(path: str) -> Optional[ctypes.CDLL]:
        try:
            return ctypes.CDLL(path)
        except OSError as e:
            tried.append("%s (could not be loaded: %s)" % (path, e))
            return None

    explicit = os.environ.get("VOQ_LIBRARY")
    if explicit:
        path = Path(explicit).expanduser()
        if path.is_dir():
            path = path / name
        if not path.exists():
            tried.append("%s (from VOQ_LIBRARY: no such file)" % path)
        else:
            library = attempt(str(path))
            if library is not None:
                return library, str(path.resolve())
        raise ImportError(_not_found_message(name, tried, explicit=True))

    beside = PACKAGE_DIR / name
    if beside.exists():
        library = attempt(str(beside))
        if library is not None:
            return library, str(beside)
    else:
        tried.append("%s (no such file)" % beside)

    for candidate in _build_tree_candidates(name, tried):
        library = attempt(str(candidate))
        if library is not None:
            return library, str(candidate.resolve())

    # The dynamic linker's own search by bare file name, then the linker cache.
    library = attempt(name)
    if library is not None:
        return library, name
    found = ctypes.util.find_library(name[3:].rsplit(".", 1)[0])
    if found:
        library = attempt(found)
        if library is not None:
            return library, found
    tried.append(_system_search_description())
    raise ImportError(_not_found_message(name, tried, explicit=False))


def _not_found_message(name: str, tried: List[str], explicit: bool) -> str:
    lines = ["cannot load the VOQ library %s; looked in:" % name]
    lines += ["  - " + entry for entry in tried]
    if explicit:
        lines.append("VOQ_LIBRARY is set, so no other place was searched; point it at the built "
                     "library (a file, or the directory that holds it).")
    else:
        lines.append("Build it (cmake -S . -B build && cmake --build build), or set VOQ_LIBRARY "
                     "to the library's path.")
    return "\n".join(lines)


def _declare(library: ctypes.CDLL) -> None:
    missing = []
    for function_name, (restype, argtypes) in PROTOTYPES.items():
        try:
            function = getattr(library, function_name)
        except AttributeError:
            missing.append(function_name)
            continue
        function.restype = restype
        function.argtypes = argtypes
    if missing:
        raise ImportError("the VOQ library lacks the functions %s: it is older than this binding"
                          % ", ".join(missing))


lib, library_path = load()
_declare(lib)
