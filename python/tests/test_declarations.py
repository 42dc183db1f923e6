"""Every export of VOQ_API.h has its ctypes prototype, and the prototypes
match the header's C types."""

import ctypes
import re

import pytest

import voq
from voq import _library
from conftest import header_path

HANDLES = {
    "VOQ_Headset": _library.HeadsetHandle,
    "VOQ_Source": _library.SourceHandle,
    "VOQ_Channel": _library.ChannelHandle,
    "VOQ_ProcessingStage": _library.ProcessingStageHandle,
}
CALLBACKS = {
    "VOQ_MessageCallback": _library.MessageCallback,
    "VOQ_SampleCallback": _library.SampleCallback,
    "VOQ_ProcessingStageCallback": _library.ProcessingStageCallback,
}
PLAIN = {
    "void": None,
    "int": ctypes.c_int,
    "unsigned int": ctypes.c_uint,
    "size_t": ctypes.c_size_t,
    "double": ctypes.c_double,
    "const char*": ctypes.c_char_p,
    "const void*": ctypes.c_void_p,
    "void*": ctypes.c_void_p,
    "double*": ctypes.POINTER(ctypes.c_double),
    "size_t*": ctypes.POINTER(ctypes.c_size_t),
    "const int*": ctypes.POINTER(ctypes.c_int),
}


def _source_without_comments():
    text = header_path().read_text()
    text = re.sub(r"/\*.*?\*/", " ", text, flags=re.S)
    return re.sub(r"//[^\n]*", " ", text)


def _type(tokens):
    return " ".join(tokens).replace(" *", "*").strip()


def _parameter_types(parameters):
    parameters = parameters.strip()
    if parameters in ("", "void"):
        return []
    types = []
    for parameter in parameters.split(","):
        tokens = parameter.replace("*", " * ").split()
        types.append(_type(tokens[:-1]))  # drop the parameter's name
    return types


def header_exports():
    """name -> (C result type, [C parameter types]) for every export."""
    text = _source_without_comments()
    exports = {}
    pattern = re.compile(r"VOQ_EXPORT\s+([\w\s\*]+?)\s*\b(\w+)\s*\(([^)]*)\)\s*;", re.S)
    for result, name, parameters in pattern.findall(text):
        exports[name] = (_type(result.replace("*", " * ").split()), _parameter_types(parameters))
    return exports


def header_callbacks():
    text = _source_without_comments()
    pattern = re.compile(r"typedef\s+([\w\s\*]+?)\s*\(\s*\*\s*(\w+)\s*\)\s*\(([^)]*)\)\s*;", re.S)
    return {name: (_type(result.split()), _parameter_types(parameters))
            for result, name, parameters in pattern.findall(text)}


def expected(c_type):
    if c_type in HANDLES:
        return HANDLES[c_type]
    if c_type in CALLBACKS:
        return CALLBACKS[c_type]
    assert c_type in PLAIN, "no ctypes equivalent known for the C type %r" % c_type
    return PLAIN[c_type]


def test_header_is_parsed():
    exports = header_exports()
    assert len(exports) > 100
    assert exports["VOQ_Headset_New"] == ("VOQ_Headset", ["const char*"])
    assert exports["VOQ_Headset_AddProcessingStage"][1] == [
        "VOQ_Headset", "const char*", "VOQ_ProcessingStageCallback", "void*", "VOQ_ProcessingStage"]
    assert exports["Load_VOQ_API"] == ("int", [])


def test_every_export_is_declared_and_nothing_else():
    exports = header_exports()
    assert sorted(exports) == sorted(_library.PROTOTYPES)


@pytest.mark.parametrize("name", sorted(header_exports()))
def test_prototype_matches_header(name):
    result, parameters = header_exports()[name]
    function = getattr(voq.lib, name)
    assert function.argtypes is not None, name
    assert list(function.argtypes) == [expected(p) for p in parameters], name
    assert function.restype is expected(result), name


def test_callback_types_match_header():
    callbacks = header_callbacks()
    assert sorted(callbacks) == sorted(CALLBACKS)
    for name, (result, parameters) in callbacks.items():
        prototype = CALLBACKS[name]
        assert prototype._restype_ is expected(result), name
        # Callback arguments arrive as plain pointers (handles are c_void_p).
        wanted = [ctypes.c_void_p if p in HANDLES else expected(p) for p in parameters]
        assert list(prototype._argtypes_) == wanted, name


def test_plain_calls_work_without_a_headset():
    assert voq.api_version() == "1.18.2"
    assert voq.lib.Load_VOQ_API() == 0
    voq.sanity_check()
    assert voq.lib.VOQ_Error() is None


def test_library_name_follows_the_platform():
    assert _library.library_file_name("Linux", "x86_64") == "libVOQ-Linux-x86_64.so"
    assert _library.library_file_name("Linux", "armv6l") == "libVOQ-Linux-armv6.so"
    assert _library.library_file_name("Darwin", "arm64") == "libVOQ-Darwin-unknown.dylib"
    assert voq.library_path.endswith(".so") or ".so." in voq.library_path \
        or voq.library_path.endswith(".dylib")
