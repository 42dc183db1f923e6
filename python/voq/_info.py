"""The information string as a dict."""

from __future__ import annotations

import re
from typing import Any, Dict

_INFO_LINE = re.compile(r"^\s*'([^']*)'\s*:\s*(.*?),?\s*$")


def _parse_info(info: str) -> Dict[str, Any]:
    """The information string as a dict: numbers as numbers, the battery
    levels as a list, everything else as text."""
    result: Dict[str, Any] = {}
    for line in info.splitlines():
        match = _INFO_LINE.match(line)
        if not match:
            continue
        key, value = match.group(1), match.group(2)
        if len(value) >= 2 and value[0] == "'" and value[-1] == "'":
            result[key] = value[1:-1]
            continue
        if value.startswith("[") and value.endswith("]"):
            items = [item.strip() for item in value[1:-1].split(",") if item.strip()]
            result[key] = [_number(item) for item in items]
            continue
        result[key] = _number(value)
    return result


def _number(value: str) -> Any:
    try:
        return int(value)
    except ValueError:
        pass
    try:
        return float(value)
    except ValueError:
        return value
