#!/usr/bin/env python3
"""Fails when an export of a public header lacks its own documentation.

The public headers are the INPUT of docs/Doxyfile (the one list of them).
An export is a function declared at file scope with an export macro (any
NAME_EXPORT).  Its own comment is a Doxygen comment (/** or /*!) directly
above the declaration, or a trailing /**< on the declaration's last line,
that no other declaration shares.  The comment must say what the export
returns or does on failure ("fail", "error"), which thread may call it
("thread"), and, for an export that returns a text, how long the text lives
("valid").

    check_api_comments.py REPOSITORY
"""

import re
import sys
from pathlib import Path


def doxyfile_inputs(repository: Path):
    """The header files named by the Doxyfile's INPUT (directories
    expanded), in order."""
    text = (repository / "docs" / "Doxyfile").read_text()
    text = text.replace("\\\n", " ")
    inputs = []
    for line in text.splitlines():
        match = re.match(r"\s*INPUT\s*\+?=(.*)", line)
        if match:
            inputs += match.group(1).split()
    headers = []
    for entry in inputs:
        path = repository / entry
        if path.is_dir():
            headers += sorted(path.glob("*.h"))
        else:
            headers.append(path)
    return headers


def blank(text: str, pattern: str) -> str:
    """`text` with every match of `pattern` replaced by blanks (line breaks
    kept), so that offsets stay the same."""
    return re.sub(pattern, lambda m: re.sub(r"[^\n]", " ", m.group(0)), text, flags=re.S | re.M)


def comments(text: str):
    """(start, end, body) of every comment."""
    return [(m.start(), m.end(), m.group(0)) for m in re.finditer(r"/\*.*?\*/|//[^\n]*", text, re.S)]


def exports(text: str):
    """(name, start, end, declaration) of every exported function declared at
    file scope."""
    code = blank(text, r"/\*.*?\*/|//[^\n]*")
    code = blank(code, r'extern\s*"C"\s*\{')
    code = blank(code, r'"(?:\\.|[^"\\\n])*"')
    code = blank(code, r"^[ \t]*#(?:[^\n]*\\\n)*[^\n]*")
    found, depth, start = [], 0, 0
    for i, ch in enumerate(code):
        if ch == "{":
            depth += 1
        elif ch == "}":
            depth = max(0, depth - 1)
            if depth == 0:
                start = i + 1
        elif ch == ";" and depth == 0:
            statement = code[start:i]
            offset = start + len(statement) - len(statement.lstrip())
            start = i + 1
            if re.search(r"\b\w+_EXPORT\b", statement) and "(" in statement \
                    and not re.match(r"\s*typedef\b", statement):
                name = re.search(r"(\w+)\s*\(", statement.replace("__attribute__", "")).group(1)
                found.append((name, offset, i + 1, statement))
    return found, len(re.findall(r"\b\w+_EXPORT\b", code))


def own_comment(text: str, all_comments, start: int, end: int):
    """The Doxygen comment of the declaration at [start, end), or None."""
    line_end = text.find("\n", end)
    line_end = len(text) if line_end < 0 else line_end
    for c_start, c_end, body in all_comments:
        if c_start >= end and c_end <= line_end and body.startswith(("/**<", "/*!<")):
            return body
    before = text[:start].rstrip()
    for c_start, c_end, body in all_comments:
        if c_end == len(before) and body.startswith(("/**", "/*!")) and not body.startswith(("/**<", "/*!<")):
            line_start = text.rfind("\n", 0, c_start) + 1
            if text[line_start:c_start].strip() == "":
                return body
    return None


def check(header: Path):
    text = header.read_text()
    all_comments = comments(text)
    found, macro_uses = exports(text)
    problems = []
    if len(found) != macro_uses:
        problems.append("%s: %d uses of an export macro but %d exported declarations recognised"
                        % (header, macro_uses, len(found)))
    for name, start, end, declaration in found:
        comment = own_comment(text, all_comments, start, end)
        line = text.count("\n", 0, start) + 1
        where = "%s:%d: %s" % (header, line, name)
        if comment is None:
            problems.append(where + ": no comment of its own (/** ... */ above it)")
            continue
        lower = comment.lower()
        missing = []
        if "fail" not in lower and "error" not in lower:
            missing.append("what it returns on failure")
        if "thread" not in lower:
            missing.append("which thread may call it")
        returns_text = re.search(r"\bchar\s*\*\s*" + re.escape(name) + r"\s*\(", declaration)
        if returns_text and "valid" not in lower:
            missing.append("how long the returned text stays valid")
        if missing:
            problems.append(where + ": the comment does not say " + ", ".join(missing))
    return found, problems


def main() -> int:
    repository = Path(sys.argv[1] if len(sys.argv) > 1 else ".").resolve()
    headers = doxyfile_inputs(repository)
    if not headers:
        print("docs/Doxyfile names no public header")
        return 1
    total, problems = 0, []
    for header in headers:
        if not header.is_file():
            problems.append("%s: listed in docs/Doxyfile but missing" % header)
            continue
        found, header_problems = check(header)
        total += len(found)
        problems += header_problems
    for problem in problems:
        print(problem)
    if total == 0:
        print("no export found in the public headers")
        return 1
    print("%d exports in %d public headers, %d without a complete comment of their own"
          % (total, len(headers), len(problems)))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
