#!/usr/bin/env python3
"""Reads what a PostgreSQL server logged with log_min_duration_statement = 0
from a byte offset of its log on, and prints the statements its clients
sent per patient:

    statement_log.py LOG OFFSET PATIENTS

The first line is "statements S connections C" (S counted as below, C the
server processes, one per connection, that logged any); then one line per
statement shape, "PER_PATIENT KIND: SHAPE", most frequent first.

The counting rule: the server logs a statement sent as one simple query
("statement: ...") once, whatever it holds: "RELEASE A;SAVEPOINT B" sent as
one query is one statement and one round trip, and two such queries are
two. A prepared statement's execution is logged as "parse", "bind" and
"execute"; only its "execute" counts as a statement (the three go to the
server together). The list shows every kind, so a parse or bind that the
driver sends on its own shows there too; the relay's count of round trips
settles how many times the client waited.

A shape is the text with string and number literals, $n parameters, the
driver's savepoint, plan and prepared statement names made alike, and runs
of white space made one.
"""
import collections
import re
import sys

ENTRY = re.compile(r"^\S+ \S+ \S+ \[(\d+)\] (?:\S+ )?LOG:  duration: [0-9.]+ ms  "
                   r"(statement|parse|bind|execute)(?: [^:]*)?: (.*)$")
MAX_TEXT = 2000


def shape(text: str) -> str:
    text = re.sub(r"'(?:[^']|'')*'", "?", text)
    text = re.sub(r"\b(_EXEC_SVP_|_PLAN|S_|C_)[0-9A-Fa-fx]+\b", r"\1?", text)
    text = re.sub(r"\$\d+", "?", text)
    text = re.sub(r"(?<![\w.])-?\d+(?:\.\d+)?\b", "?", text)
    text = re.sub(r"\s+", " ", text).strip()
    return text[:MAX_TEXT]


def main() -> int:
    if len(sys.argv) != 4:
        print(__doc__, file=sys.stderr)
        return 2
    path, offset, patients = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
    if patients <= 0:
        print("statement_log.py: PATIENTS must be above 0", file=sys.stderr)
        return 2
    entries = []  # [pid, kind, text]
    continued = False  # whether a line starting with a tab continues the last entry
    with open(path, "rb") as f:
        f.seek(offset)
        for raw in f:
            line = raw.decode("utf-8", "replace").rstrip("\n")
            if match := ENTRY.match(line):
                entries.append([match.group(1), match.group(2), match.group(3)])
                continued = True
            elif line.startswith("\t"):
                if continued and len(entries[-1][2]) < MAX_TEXT:
                    entries[-1][2] += "\n" + line[1:]  # the server continues a line with a tab
            else:
                continued = False  # a DETAIL line or any other message
    shapes = collections.Counter((kind, shape(text)) for _, kind, text in entries)
    statements = sum(1 for _, kind, _ in entries if kind in ("statement", "execute"))
    print(f"statements {statements} connections {len({pid for pid, _, _ in entries})}")
    for (kind, text), count in sorted(shapes.items(), key=lambda item: (-item[1], item[0])):
        print(f"{count / patients:8.3f} {kind}: {text}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
