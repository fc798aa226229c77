#!/usr/bin/env python3
"""Turns the manual page in Markdown (docs/dovrane.1.md) into roff for man(1).

Only what that page uses: headings, paragraphs, fenced blocks, definition
lists (a term line, then lines beginning with ":   "), tables and `code`.
Usage: md2man.py IN.md OUT.1 VERSION
"""
import re
import sys


def inline(text):
    text = text.replace("\\", "\\e")
    text = re.sub(r"`([^`]*)`", r"\\fB\1\\fR", text)
    text = re.sub(r"\*\*([^*]*)\*\*", r"\\fB\1\\fR", text)
    # A line that begins with . or ' would be a roff request.
    return re.sub(r"^([.'])", r"\\&\1", text)


def convert(lines, version):
    # The page's name and section from its title line, "# DOVRANE(1)".
    title = next((l for l in lines if l.startswith("# ")), "# DOVRANE(1)")
    m = re.match(r"# ([A-Z0-9-]+)\((\d)\)", title)
    name, section = (m.group(1), m.group(2)) if m else ("DOVRANE", "1")
    out = ['.TH %s %s "" "dovrane %s" "System administration"' % (name, section, version)]
    in_block = False
    heading = ""
    for line in lines:
        line = line.rstrip("\n")
        if line.startswith("```"):
            out.append(".EE" if in_block else ".EX")
            in_block = not in_block
            continue
        if in_block:
            out.append(inline(line))
            continue
        if line.startswith("# "):
            continue
        if line.startswith("## "):
            heading = line[3:].upper()
            out.append(".SH " + heading)
        elif heading == "NAME" and " — " in line:
            # whatis and apropos read "name \- summary".
            name_part, summary = line.split(" — ", 1)
            out.append(inline(name_part) + " \\- " + inline(summary))
        elif line.startswith("### "):
            out.append(".SS " + line[4:])
        elif not line.strip():
            out.append(".PP")
        elif line.startswith(":   "):
            out.append(".RS 4")
            out.append(inline(line[4:]))
            out.append(".RE")
        elif line.startswith("    ") and out and out[-1] == ".RE":
            out.insert(len(out) - 1, inline(line.strip()))
        elif line.startswith("|"):
            if re.match(r"^\|[-| ]+\|$", line):
                continue
            cells = [c.strip() for c in line.strip("|").split("|")]
            out.append(".br")
            out.append(inline("\t".join(cells)))
        else:
            out.append(inline(line))
    return "\n".join(out) + "\n"


def main():
    with open(sys.argv[1], encoding="utf-8") as f:
        text = convert(f.readlines(), sys.argv[3] if len(sys.argv) > 3 else "")
    with open(sys.argv[2], "w", encoding="utf-8") as f:
        f.write(text)


if __name__ == "__main__":
    main()
