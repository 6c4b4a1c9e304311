#!/usr/bin/env python3
"""Makes a program's man page from its section of README.md.

The README is the one source of the manual: its "## NAME" section (up to
the next "## " heading) becomes NAME.1. Its "### Synopsis" becomes
SYNOPSIS, the text before the first "###" DESCRIPTION, and every other
"###" heading a section of its own. The Markdown used there is
understood: paragraphs, indented code blocks, "- " lists (a leading
**term**: becomes a tagged paragraph), pipe tables, `code` and **bold**.

  readme2man.py README.md NAME SUMMARY VERSION OUT
"""
import re
import sys


def section(readme, name):
    lines = readme.splitlines()
    try:
        start = lines.index("## " + name) + 1
    except ValueError:
        sys.exit(f"readme2man: README has no '## {name}' section")
    end = next((i for i in range(start, len(lines)) if lines[i].startswith("## ")), len(lines))
    return lines[start:end]


def escape(text):
    text = text.replace("\\", "\\e").replace("-", "\\-")
    return text


def inline(text):
    text = escape(text)
    text = re.sub(r"\*\*(.+?)\*\*", r"\\fB\1\\fR", text)
    text = re.sub(r"`([^`]+)`", r"\\fB\1\\fR", text)
    return text


def line_start(text):
    # A line of roff text must not start with a control character.
    return "\\&" + text if text[:1] in (".", "'") else text


def blocks(lines):
    """Yields (kind, lines) for paragraphs, code, list items and tables."""
    i = 0
    while i < len(lines):
        line = lines[i]
        if not line.strip():
            i += 1
        elif line.startswith("    "):
            j = i
            while j < len(lines) and (lines[j].startswith("    ") or not lines[j].strip()):
                j += 1
            code = [l[4:] for l in lines[i:j]]
            while code and not code[-1].strip():
                code.pop()
            yield "code", code
            i = j
        elif line.startswith("|"):
            j = i
            while j < len(lines) and lines[j].startswith("|"):
                j += 1
            yield "table", lines[i:j]
            i = j
        elif line.startswith("- "):
            j = i + 1
            while j < len(lines) and lines[j].startswith("  ") and lines[j].strip():
                j += 1
            yield "item", [line[2:]] + [l.strip() for l in lines[i + 1:j]]
            i = j
        else:
            j = i
            while (j < len(lines) and lines[j].strip() and not lines[j].startswith("- ")
                   and not lines[j].startswith("|") and not lines[j].startswith("    ")):
                j += 1
            yield "para", lines[i:j]
            i = j


def render(lines, out):
    for kind, body in blocks(lines):
        if kind == "code":
            out.append(".PP\n.nf\n.RS 4")
            out.extend(line_start(escape(l)) for l in body)
            out.append(".RE\n.fi")
        elif kind == "table":
            rows = [[c.strip() for c in r.strip("|").split("|")] for r in body
                    if not re.fullmatch(r"\|[-| :]+\|", r.strip())]
            for cells in rows[1:]:
                out.append(".TP\n" + line_start(inline(cells[0])))
                out.append(line_start(inline(" ".join(cells[1:]))))
        elif kind == "item":
            text = " ".join(body)
            m = re.match(r"((?:\*\*[^*]+\*\*(?:, )?)+): (.*)", text)
            if m:
                out.append(".TP\n" + line_start(inline(m.group(1))))
                out.append(line_start(inline(m.group(2))))
            else:
                out.append(".IP \\(bu 2\n" + line_start(inline(text)))
        else:
            out.append(".PP\n" + line_start(inline(" ".join(body))))


def main():
    readme_path, name, summary, version, out_path = sys.argv[1:6]
    with open(readme_path, encoding="utf-8") as f:
        lines = section(f.read(), name)
    parts = {"": []}
    order = [""]
    current = ""
    for line in lines:
        if line.startswith("### "):
            current = line[4:].strip()
            order.append(current)
            parts[current] = []
        else:
            parts[current].append(line)
    out = [f'.TH {name.upper()} 1 "" "Tarn and Holm {version}" "User Commands"',
           ".SH NAME", f"{name} \\- {escape(summary)}"]
    if "Synopsis" in parts:
        out.append(".SH SYNOPSIS")
        render(parts["Synopsis"], out)
    out.append(".SH DESCRIPTION")
    render(parts[""], out)
    for title in order[1:]:
        if title == "Synopsis":
            continue
        out.append(".SH " + escape(title.upper()))
        render(parts[title], out)
    out.append(".SH SEE ALSO")
    others = [p for p in ("tarnctl", "pagersim", "regsvr") if p != name]
    out.append(", ".join(f"\\fB{p}\\fR(1)" for p in others))
    with open(out_path, "w", encoding="utf-8") as f:
        f.write("\n".join(out) + "\n")


if __name__ == "__main__":
    main()
