"""The sections of a Fluent ASCII file: "(index (header) (body) ...)" at the top level, with
comments "(0 "text")". A small scanner of our own: VTK's Fluent reader gives cell zones only, and
reads a damaged count as an allocation. Every count and index here is checked against the file
before it is used, and a fault raises SourceError naming the file and the line."""
import re
from dataclasses import dataclass, field

import numpy as np

from .errors import SourceError

# Binary sections (indices 2010, 3010, 2013, 2300, 3300, ...) hold raw bytes that may look like
# brackets: no ASCII scan can walk them.
_BINARY = re.compile(rb"\(\s*[23]0\d{2,3}\s*\(")
_TOKENS = re.compile(r'"[^"]*"|[()]')


@dataclass
class Section:
    index: int
    header: str   # the first bracket's text ("1 1 32 1 3"), "" without one
    body: str     # the second bracket's text, None without one
    start: int    # where the section starts in `text`
    text: str = field(repr=False)  # the whole file's, for the line of a message

    @property
    def line(self):
        return _line(self.text, self.start)


def read_sections(path, wanted):
    """[Section] of the file's top-level sections whose index is in `wanted`, in file order."""
    try:
        with open(path, "rb") as f:
            raw = f.read()
    except OSError as error:
        raise SourceError(f"{path}: cannot be read ({error.strerror})") from None
    binary = _BINARY.search(raw)
    if binary:
        line = raw.count(b"\n", 0, binary.start()) + 1
        raise SourceError(f"{path}: line {line}: a binary section; only ASCII Fluent files are "
                          "read (write it as text)")
    text = raw.decode("latin-1")
    return [s for s in _scan(path, text) if s.index in wanted]


def _scan(path, text):
    depth, start, children = 0, 0, []
    for token in _TOKENS.finditer(text):
        mark = token.group()
        if mark[0] == '"':
            continue
        if mark == "(":
            depth += 1
            if depth == 1:
                start, children = token.start(), []
            elif depth == 2:
                children.append([token.start() + 1, None])
        else:
            depth -= 1
            if depth < 0:
                raise SourceError(f"{path}: line {_line(text, token.start())}: a ')' that "
                                  "closes no section")
            if depth == 1:
                children[-1][1] = token.start()
            elif depth == 0:
                yield _section(path, text, start, token.start(), children)
    if depth > 0:
        raise SourceError(f"{path}: line {_line(text, start)}: a section that is never closed "
                          "(the file is cut short)")


def _section(path, text, start, end, children):
    lead = text[start + 1:children[0][0] - 1 if children else end].split()
    if not lead:
        raise SourceError(f"{path}: line {_line(text, start)}: a section without an index")
    try:
        index = int(lead[0])
    except ValueError:
        return Section(-1, "", None, start, text)  # text the format does not define
    spans = [text[a:b] for a, b in children]
    return Section(index, spans[0] if spans else "", spans[1] if len(spans) > 1 else None,
                   start, text)


def _line(text, position):
    return text.count("\n", 0, position) + 1


def where(path, section):
    return f"{path}: line {section.line}, section ({section.index} ({section.header.strip()}))"


def header_numbers(path, section, count, base):
    """The first `count` numbers of a section's header (hex in mesh sections, decimal in data
    sections)."""
    words = section.header.split()
    try:
        numbers = [int(w, base) for w in words[:count]]
    except ValueError:
        numbers = []
    if len(numbers) < count:
        raise SourceError(f"{where(path, section)}: expected {count} "
                          f"{'hexadecimal ' if base == 16 else ''}numbers in its header")
    return numbers


def body_numbers(path, section, dtype, expected=None):
    """The numbers of a section's body as a flat array: integers in hexadecimal, or floats;
    `expected` their count, checked."""
    words = (section.body or "").split()
    if expected is not None and len(words) != expected:
        raise SourceError(f"{where(path, section)}: {len(words)} numbers where its header "
                          f"makes {expected}")
    try:
        if dtype is int:
            return np.fromiter((int(w, 16) for w in words), np.int64, len(words))
        return np.array(words, dtype=np.float64)
    except ValueError as error:
        raise SourceError(f"{where(path, section)}: not a number in its body ({error})") from None
