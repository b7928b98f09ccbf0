#!/usr/bin/python3
"""Checks that the user manual's message index names every message of the sources.

    scripts/manual-messages.py           exit 1 and say what to add when one is missing
    scripts/manual-messages.py --list    print the messages found, one a line, with their file

A message counts when the user can meet it at the device exchange, while typing
or when a write or a save is refused, and the sources hold it whole. Exactly:

  - every string literal in settings/entry_messages.h (the checks while typing)
    and in settings/settings_encoder.cpp (the checks before a write);
  - in any file under link/ (the status line, the progress windows, the
    connection messages): every string literal inside a namespace named
    `texts` or ending in `_texts`, and every constant named kSomething
    initialised with string literals that make a text with a blank in it (a
    sentence, not a path or a port name);
  - every constant named kSomething initialised with string literals in
    editors/alarm_texts_editor.cpp (the write and save commands' answers).

Literals that stand next to each other are one text, as the compiler joins them.
The index is the part of docs/instrukcja.md under the heading
"## Skorowidz komunikatów", up to the next "## " heading: a table whose rows
each begin with one message in „ ” quotes. A message is found when a row's
first cell quotes it word for word; runs of blanks count as one blank (the page
shows them so), and a message whose literal ends with a blank is one the
program completes (a port name, a position), so a row that begins with it and
goes on with an example counts. The rows must stay in Polish alphabetical
order, so that a reader finds a message where the alphabet puts it.
"""

import pathlib
import re
import sys

TOP = pathlib.Path(__file__).resolve().parent.parent
MANUAL = TOP / "docs" / "instrukcja.md"
INDEX_HEADING = "## Skorowidz komunikatów"

WHOLE_FILES = ["settings/entry_messages.h", "settings/settings_encoder.cpp"]
TEXTS_NAMESPACE_DIRS = ["link"]
CONSTANT_FILES = ["editors/alarm_texts_editor.cpp"]

ESCAPES = {"n": "\n", "t": "\t", '"': '"', "'": "'", "\\": "\\", "?": "?"}


def tokens(source):
    """C++ tokens that matter here: ("str", text), ("word", w), ("punct", c).
    Comments, preprocessor lines and character literals are skipped."""
    i, n = 0, len(source)
    while i < n:
        c = source[i]
        if c == "#" and source[source.rfind("\n", 0, i) + 1 : i].strip() == "":
            i = source.find("\n", i)
            i = n if i < 0 else i
        elif source.startswith("//", i):
            i = source.find("\n", i)
            i = n if i < 0 else i
        elif source.startswith("/*", i):
            i = source.find("*/", i + 2)
            i = n if i < 0 else i + 2
        elif source.startswith('R"', i):
            open_end = source.index("(", i)
            delimiter = ")" + source[i + 2 : open_end] + '"'
            close = source.index(delimiter, open_end)
            yield ("str", source[open_end + 1 : close])
            i = close + len(delimiter)
        elif c == '"':
            i += 1
            text = []
            while source[i] != '"':
                if source[i] == "\\":
                    text.append(ESCAPES.get(source[i + 1], source[i + 1]))
                    i += 2
                else:
                    text.append(source[i])
                    i += 1
            yield ("str", "".join(text))
            i += 1
        elif c == "'":
            i += 1
            while source[i] != "'":
                i += 2 if source[i] == "\\" else 1
            i += 1
        elif c.isalnum() or c == "_":
            j = i
            while j < n and (source[j].isalnum() or source[j] == "_"):
                j += 1
            yield ("word", source[i:j])
            i = j
        elif c.isspace():
            i += 1
        else:
            yield ("punct", c)
            i += 1


def joined(toks):
    """The tokens with neighbouring string literals joined into one."""
    out = []
    for t in toks:
        if t[0] == "str" and out and out[-1][0] == "str":
            out[-1] = ("str", out[-1][1] + t[1])
        else:
            out.append(t)
    return out


def all_literals(toks):
    return [t[1] for t in toks if t[0] == "str"]


def texts_namespace_literals(toks):
    found, depth, inside = [], 0, None
    for k, t in enumerate(toks):
        if t == ("punct", "{"):
            depth += 1
            if (
                inside is None
                and k >= 2
                and toks[k - 2] == ("word", "namespace")
                and toks[k - 1][0] == "word"
                and re.fullmatch(r"(\w+_)?texts", toks[k - 1][1])
            ):
                inside = depth
        elif t == ("punct", "}"):
            if inside == depth:
                inside = None
            depth -= 1
        elif t[0] == "str" and inside is not None:
            found.append(t[1])
    return found


def constant_literals(toks):
    found = []
    for k, t in enumerate(toks):
        if (
            t[0] == "word"
            and re.fullmatch(r"k[A-Z]\w*", t[1])
            and k + 2 < len(toks)
            and toks[k + 1] == ("punct", "=")
            and toks[k + 2][0] == "str"
        ):
            found.append(toks[k + 2][1])
    return found


def source_messages():
    """(file, text) of every message, in file order, each once."""
    def read(rel):
        return joined(list(tokens((TOP / rel).read_text(encoding="utf-8"))))

    found = []
    for rel in WHOLE_FILES:
        found += [(rel, m) for m in all_literals(read(rel))]
    for folder in TEXTS_NAMESPACE_DIRS:
        for path in sorted((TOP / folder).glob("*.[ch]*")):
            rel = str(path.relative_to(TOP))
            toks = read(rel)
            found += [(rel, m) for m in texts_namespace_literals(toks)]
            found += [(rel, m) for m in constant_literals(toks) if " " in m.strip()]
    for rel in CONSTANT_FILES:
        found += [(rel, m) for m in constant_literals(read(rel))]
    seen, unique = set(), []
    for rel, m in found:
        if m.strip() and m not in seen:
            seen.add(m)
            unique.append((rel, m))
    return unique


def blanks_collapsed(text):
    return " ".join(text.split())


POLISH = "aąbcćdeęfghijklłmnńoóprsśtuvwxyzźż"


def polish_key(text):
    """Dictionary order of Polish: ą after a, ł after l ...; a number counts
    as a whole (NR 9 before NR 10); case and punctuation only break ties."""
    key = []
    for part in re.findall(r"\d+|\D", text.lower()):
        if part.isdigit():
            key.append((0, int(part)))
        elif part in POLISH:
            key.append((1, POLISH.index(part)))
    return (key, text)


def index_rows(manual_text):
    """The first quoted text of each table row in the index, in page order."""
    lines = manual_text.splitlines()
    try:
        start = lines.index(INDEX_HEADING)
    except ValueError:
        sys.exit(f"manual: docs/instrukcja.md has no heading “{INDEX_HEADING}”")
    rows = []
    for line in lines[start + 1 :]:
        if line.startswith("## "):
            break
        if not line.startswith("|") or line.startswith("|---"):
            continue
        first_cell = line.split(" | ")[0]
        quoted = re.search(r"„(.*)”", first_cell)
        if quoted:
            rows.append(re.sub(r"\\(.)", r"\1", quoted.group(1)))
    return rows


def found_in(message, rows):
    wanted = blanks_collapsed(message)
    completed = message != message.rstrip()
    for row in rows:
        row = blanks_collapsed(row)
        if row == wanted or (completed and row.startswith(wanted + " ")):
            return True
    return False


def main():
    messages = source_messages()
    if "--list" in sys.argv[1:]:
        for rel, m in messages:
            print(f"{rel}\t{m}")
        return 0
    rows = index_rows(MANUAL.read_text(encoding="utf-8"))
    failed = False

    missing = [(rel, m) for rel, m in messages if not found_in(m, rows)]
    if missing:
        failed = True
        print(
            f"manual: the message index (docs/instrukcja.md, “{INDEX_HEADING}”) lacks "
            f"{len(missing)} message(s) of the sources. Add a row for each, the message "
            "word for word in „ ” and what the installer should do, where the alphabet "
            "puts it:",
            file=sys.stderr,
        )
        keys = sorted(rows, key=polish_key)
        for rel, m in missing:
            before = [r for r in keys if polish_key(r) < polish_key(m)]
            where = f"after the row „{before[-1]}”" if before else "as the first row"
            print(f"\n  from {rel}, {where}:\n  | „{blanks_collapsed(m)}” | … |", file=sys.stderr)

    for earlier, later in zip(rows, rows[1:]):
        if polish_key(later) < polish_key(earlier):
            failed = True
            print(
                f"manual: the message index is out of alphabetical order: „{later}” "
                f"belongs before „{earlier}”",
                file=sys.stderr,
            )
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
