#!/usr/bin/env python3
"""The house rule on size: no source file over 600 lines, no function over 80.

Every function body in the program's folders is found (free functions, member
functions, constructors with their initialiser lists, functions defined in a
class; a lambda counts as part of the function it is written in) and its
lines are counted from the first line of its signature (a `template <...>`
line included) to the line of its closing brace. A function that is a real
data table (a list of texts, entries or cases) may be exempted by a comment on
the line before its signature:

    // data table: <why>

Exit status 1 with the list of what is too long, 0 when everything holds.

    scripts/check-function-length.py [--root DIR] [--limit N] [--list]

--list prints every function over the limit, exempted ones included.
"""

import argparse
import os
import re
import sys

FOLDERS = ("admin", "app", "checkout", "extlib", "fileops", "network",
           "platform", "services", "tree", "ui")
EXTENSIONS = (".cpp", ".h")
FUNCTION_LIMIT = 80
FILE_LIMIT = 600
MARKER = re.compile(r"^\s*//\s*data table:\s*\S")


# Words that may stand between a parameter list's `)` and the body.
AFTER_PARAMETERS = {"const", "volatile", "noexcept", "override", "final",
                    "mutable", "requires", "throw", "try", "&", "&&", "->",
                    ":", "(", ")", "="}
# What a function's signature may end with before its body.
FUNCTION_ENDINGS = {")", "const", "volatile", "noexcept", "override", "final",
                    "mutable", "&", "&&", "try"}
RAW_PREFIXES = {"R", "u8R", "uR", "UR", "LR"}
STRING_PREFIXES = {"u8", "u", "U", "L"}

TOKEN = re.compile(r"""
    (?P<space>[ \t\r\f\v]+)
  | (?P<newline>\n)
  | (?P<line_comment>//[^\n]*)
  | (?P<block_comment>/\*.*?\*/)
  | (?P<number>\.?[0-9](?:[eEpP][+-]|[0-9A-Za-z_.']|'(?=[0-9A-Za-z]))*)
  | (?P<ident>[A-Za-z_][A-Za-z_0-9]*)
  | (?P<punct>::|->|&&|\|\||==|!=|<=|>=|\+=|-=|\*=|/=|%=|&=|\|=|\^=|<<|\+\+|--|\.\.\.|.)
""", re.VERBOSE | re.DOTALL)


class Token:
    __slots__ = ("text", "line")

    def __init__(self, text, line):
        self.text = text
        self.line = line


def tokenize(source):
    """Tokens without comments, preprocessor lines and literal contents.

    A string or character literal becomes one token `""` or `''`, so braces
    and quotes inside it are never seen."""
    tokens = []
    pos = 0
    line = 1
    at_line_start = True
    length = len(source)
    while pos < length:
        char = source[pos]
        if at_line_start and char == "#":
            # A preprocessor line, continuations included.
            end = pos
            while True:
                newline = source.find("\n", end)
                if newline < 0:
                    end = length
                    break
                stripped = source[end:newline].rstrip("\r")
                if stripped.endswith("\\"):
                    line += 1
                    end = newline + 1
                    continue
                end = newline
                break
            pos = end
            continue
        if char == '"' or char == "'":
            pos, line = skip_quoted(source, pos, line, char)
            tokens.append(Token(char * 2, line))
            at_line_start = False
            continue
        match = TOKEN.match(source, pos)
        kind = match.lastgroup
        text = match.group()
        if kind == "ident" and match.end() < length and source[match.end()] == '"':
            if text in RAW_PREFIXES:
                start_line = line
                pos, line = skip_raw(source, match.end(), line)
                tokens.append(Token('""', start_line))
                at_line_start = False
                continue
            if text in STRING_PREFIXES:
                start_line = line
                pos, line = skip_quoted(source, match.end(), line, '"')
                tokens.append(Token('""', start_line))
                at_line_start = False
                continue
        if kind == "ident" and text in STRING_PREFIXES and match.end() < length \
                and source[match.end()] == "'":
            pos, line = skip_quoted(source, match.end(), line, "'")
            tokens.append(Token("''", line))
            at_line_start = False
            continue
        pos = match.end()
        if kind == "newline":
            line += 1
            at_line_start = True
            continue
        if kind == "space":
            continue
        if kind == "line_comment":
            continue
        if kind == "block_comment":
            line += text.count("\n")
            continue
        at_line_start = False
        tokens.append(Token(text, line))
    return tokens


def skip_quoted(source, pos, line, quote):
    """Past a "..." or '...' literal starting at pos; returns (pos, line)."""
    pos += 1
    length = len(source)
    while pos < length:
        char = source[pos]
        if char == "\\":
            if pos + 1 < length and source[pos + 1] == "\n":
                line += 1
            pos += 2
            continue
        if char == quote:
            return pos + 1, line
        if char == "\n":
            # An unterminated literal: stop at the line's end.
            return pos, line
        pos += 1
    return pos, line


def skip_raw(source, pos, line):
    """Past a raw string literal whose `"` is at pos."""
    open_paren = source.find("(", pos)
    delimiter = source[pos + 1:open_paren]
    closing = ")" + delimiter + '"'
    end = source.find(closing, open_paren)
    end = len(source) if end < 0 else end + len(closing)
    return end, line + source.count("\n", pos, end)


class Function:
    def __init__(self, name, start, end):
        self.name = name
        self.start = start
        self.end = end

    @property
    def lines(self):
        return self.end - self.start + 1


def skip_template_head(statement):
    """The index after a leading `template <...>` (0 when there is none)."""
    if not statement or statement[0].text != "template":
        return 0
    depth = 0
    for index in range(1, len(statement)):
        text = statement[index].text
        if text in ("<", "("):
            depth += 1
        elif text in (">", ")"):
            depth -= 1
            if depth == 0:
                return index + 1
        elif text == ">>":
            depth -= 2
            if depth <= 0:
                return index + 1
    return len(statement)


def classify(statement):
    """What a `{` closing this statement opens: namespace, class, function or other."""
    head = skip_template_head(statement)
    words = [token.text for token in statement[head:]]
    if not words:
        return "other"
    if words[0] in ("namespace", "inline") and "namespace" in words[:2]:
        return "namespace"
    if words[0] == "extern" and "(" not in words:
        return "namespace"
    depth = 0
    has_parameters = False
    class_key = None
    for index, word in enumerate(words):
        if word == "(":
            depth += 1
            has_parameters = True
        elif word == ")":
            depth -= 1
        elif word == "=" and depth == 0:
            if index > 0 and words[index - 1] == "operator":
                continue
            # `auto kTable = [] { ... }();` is a function body run once.
            if index + 1 < len(words) and words[index + 1] == "[":
                return "function"
            return "other"
        elif depth == 0 and not has_parameters and class_key is None \
                and word in ("class", "struct", "union", "enum"):
            class_key = word
    # `struct stat Info() {` is a function; `struct S : Base<decltype(f())> {` a class.
    if has_parameters and (words[-1] in FUNCTION_ENDINGS or "->" in words):
        return "function"
    if class_key in ("class", "struct", "union"):
        return "class"
    # An enum, or `std::function<void()> member{...}`: a variable's braces.
    return "other"


def function_name(statement):
    """The qualified name before the parameter list, e.g. `Dlg::Dlg`."""
    head = skip_template_head(statement)
    words = [token.text for token in statement[head:]]
    for index, word in enumerate(words):
        if word != "(" or (index > 0 and words[index - 1] == "operator"):
            continue
        end = index
        if end >= 2 and words[end - 2] == "operator":
            start = end - 2
        elif end >= 3 and words[end - 3] == "operator" and words[end - 2] == "(":
            start = end - 3  # operator()
        else:
            start = end - 1
        while start >= 2 and words[start - 1] == "::":
            start -= 2
        if start > 0 and words[start - 1] == "~":
            start -= 1
        return "".join(words[start:end]) or "(unnamed)"
    return "(unnamed)"


def find_functions(tokens):
    """Every function body outside another function's body."""
    functions = []
    # One entry per open brace: its kind, and for a function where it began.
    scopes = []
    statement = []
    in_initialisers = False  # after a constructor's `) :`
    index = 0
    count = len(tokens)
    while index < count:
        token = tokens[index]
        text = token.text
        inside_code = any(kind in ("function", "other") for kind, _ in scopes)
        if inside_code:
            if text == "{":
                scopes.append(("nested", None))
            elif text == "}":
                kind, begun = scopes.pop()
                if kind == "function":
                    functions.append(Function(begun[0], begun[1], token.line))
            index += 1
            continue
        if text == ";":
            statement = []
            in_initialisers = False
        elif text == "}":
            if scopes:
                scopes.pop()
            statement = []
            in_initialisers = False
        elif text == "{":
            previous = statement[-1].text if statement else ""
            if paren_depth(statement) > 0:
                # A lambda or braced list among arguments: part of the statement.
                index = skip_braces(tokens, index, statement)
                continue
            if in_initialisers and (re.match(r"[A-Za-z_]", previous) or previous == ">") \
                    and previous not in AFTER_PARAMETERS:
                # A member or base initialised with braces: part of the signature.
                index = skip_braces(tokens, index, statement)
                continue
            kind = classify(statement)
            if kind == "function":
                start = statement[0].line
                scopes.append(("function", (function_name(statement), start)))
            else:
                scopes.append((kind, None))
            statement = []
            in_initialisers = False
        elif text == ":" and statement and statement[-1].text in ("public", "private",
                                                                  "protected", "signals",
                                                                  "slots", "Q_SLOTS",
                                                                  "Q_SIGNALS"):
            statement = []
        elif text in ("Q_OBJECT", "Q_GADGET") and not statement:
            pass
        else:
            if statement and statement[-1].text == ")" and paren_depth(statement) == 0:
                if text == ":":
                    in_initialisers = True
                elif re.match(r"[A-Za-z_]", text) and text not in AFTER_PARAMETERS \
                        and not in_initialisers and not is_trailing_return(statement):
                    # A macro call without a semicolon ended before this.
                    statement = []
            statement.append(token)
        index += 1
    return functions


def paren_depth(statement):
    depth = 0
    for token in statement:
        if token.text == "(":
            depth += 1
        elif token.text == ")":
            depth -= 1
    return depth


def is_trailing_return(statement):
    return any(token.text == "->" for token in statement)


def skip_braces(tokens, index, statement):
    """Past the balanced {...} at index, its tokens added to the statement."""
    depth = 0
    while index < len(tokens):
        statement.append(tokens[index])
        if tokens[index].text == "{":
            depth += 1
        elif tokens[index].text == "}":
            depth -= 1
            if depth == 0:
                return index + 1
        index += 1
    return index


def exempted(lines, function):
    before = function.start - 2
    return 0 <= before < len(lines) and MARKER.match(lines[before]) is not None


def source_files(root):
    for folder in FOLDERS:
        base = os.path.join(root, folder)
        for directory, subdirectories, files in os.walk(base):
            subdirectories.sort()
            for name in sorted(files):
                if name.endswith(EXTENSIONS):
                    path = os.path.join(directory, name)
                    yield os.path.relpath(path, root).replace(os.sep, "/"), path


def check(root, limit, list_all):
    problems = []
    for relative, path in source_files(root):
        with open(path, encoding="utf-8", errors="replace") as stream:
            source = stream.read()
        lines = source.split("\n")
        line_count = source.count("\n") + (0 if source.endswith("\n") or not source else 1)
        if line_count > FILE_LIMIT:
            problems.append(f"{relative}: {line_count} lines (at most {FILE_LIMIT} a file)")
        for function in find_functions(tokenize(source)):
            if function.lines <= limit:
                continue
            if exempted(lines, function):
                if list_all:
                    print(f"{relative}:{function.start}: {function.name} "
                          f"{function.lines} lines (data table)")
                continue
            problems.append(f"{relative}:{function.start}: {function.name} is "
                            f"{function.lines} lines (at most {limit} a function)")
    return problems


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--root", default=os.path.join(os.path.dirname(__file__), ".."))
    parser.add_argument("--limit", type=int, default=FUNCTION_LIMIT)
    parser.add_argument("--list", action="store_true")
    arguments = parser.parse_args()
    problems = check(os.path.abspath(arguments.root), arguments.limit, arguments.list)
    for problem in problems:
        print(problem)
    if problems:
        print(f"{len(problems)} over the house limits: split them into named steps, "
              "or mark a real data table with `// data table: <why>` on the line "
              "before its signature.", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
