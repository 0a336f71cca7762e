#!/usr/bin/env python3
"""Input filter of the API reference (scripts/docs): turns the headers' plain comments into the
documentation comments Doxygen reads, without asking the headers to be written for a tool.

- The comment block that opens a file becomes the file's description.
- A block of whole-line comments directly above a declaration (or a macro's #define) documents it; a block
  followed by a blank line (a section heading) stays a plain comment, and so do the dashed section
  rulers inside a block.
- A comment after a member on the same line documents that member.
- One-line declarations that follow a documented declaration directly (no blank or comment line
  between) share its comment: the header groups them under it ("// Status codes." over a run of
  constants, "equals" and its variants). A blank line, a comment or a declaration spanning lines ends
  the run.
- Comments inside function bodies stay plain.
- Outside `code spans` the characters Doxygen would take for commands or markup (backslash, @, <, >,
  &) are escaped, so that texts like "\\xFC" or "brol_list<T>" print as written.

  doxygen_filter.py FILE     writes the filtered file to standard output, line for line (every line
                             keeps its number, so warnings point into the header itself)
"""
import argparse
import re
import sys

COMMENT = re.compile(r"^(\s*)//(?!/)\s?(.*)$")
TRAILING = re.compile(r"^(.*?\S)(\s*)//(?!/)\s?(.*)$")
RULER = re.compile(r"^-{3}.*|.*-{3}$")
SCOPE = re.compile(r"^\s*(template\s*<.*>\s*)?(struct|class|union|enum|namespace|extern)\b")


def escape(text):
    """text with Doxygen's command and markup characters escaped outside `code spans`."""
    parts = text.split("`")
    for i in range(0, len(parts), 2):
        parts[i] = re.sub(r"([\\@<>&])", r"\\\1", parts[i])
    return "`".join(parts)


def code_part(line):
    """The line without a trailing comment and without string or character literals."""
    line = re.sub(r'"(\\.|[^"\\])*"', '""', line)
    line = re.sub(r"'(\\.|[^'\\])*'", "''", line)
    return line.split("//", 1)[0]


class Filter:
    def __init__(self, lines):
        self.lines = lines
        self.bodies = 0       # depth of open function bodies (0: declarations)
        self.stack = []       # per open brace: True for a function body
        self.statement = ""   # code of the statement so far, to tell bodies from scopes
        self.seen_code = False
        self.shared = None    # the comment text a run of declarations below it shares
        self.run_state = None # "first": the documented declaration is not yet complete; "run": after it

    def run(self):
        out, i = [], 0
        while i < len(self.lines):
            if self.bodies == 0 and COMMENT.match(self.lines[i]):
                j = i
                while j < len(self.lines) and COMMENT.match(self.lines[j]):
                    j += 1
                out += self.block(self.lines[i:j], j)
                i = j
                continue
            out.append(self.code(self.lines[i]))
            i += 1
        return out

    def block(self, block, after):
        """A run of whole-line comments outside bodies, as plain or documentation comments."""
        first_in_file = not self.seen_code
        following = self.lines[after] if after < len(self.lines) else ""
        directive = following.lstrip().startswith("#") and not following.lstrip().startswith("#define")
        documents = first_in_file or (following.strip() != "" and not directive)
        out = []
        for line in block:
            indent, text = COMMENT.match(line).groups()
            if not documents or RULER.match(text.strip()):
                out.append(line)
            else:
                out.append(f"{indent}/// {escape(text)}".rstrip())
        if first_in_file:
            out[-1] += " @file"  # on the last line, so that every line keeps its number
        self.seen_code = True
        self.shared, self.run_state = None, None
        if documents and not first_in_file:
            texts = [COMMENT.match(line).group(2).strip() for line in block]
            self.shared = " ".join(t for t in texts if t and not RULER.match(t))
            self.run_state = "first" if self.shared else None
        return out

    def code(self, line):
        if line.strip():
            self.seen_code = True
        plain = code_part(line)
        result = line
        match = TRAILING.match(line)
        documented = line.lstrip().startswith("//")  # already a documentation comment
        at_top = self.bodies == 0
        closing = re.fullmatch(r"\s*}\s*;?\s*", code_part(line)) is not None  # "}  // namespace x"
        if at_top and match and not documented and not closing and "//" not in code_part(match.group(1)):
            result = f"{match.group(1)}{match.group(2)}///< {escape(match.group(3))}".rstrip()
        starts_clean = self.statement.strip() == ""
        self.track(plain)
        return self.share(line, result, at_top and starts_clean, match is not None)

    def share(self, line, result, starts_clean, has_comment):
        """Gives the shared comment to a one-line declaration of a run (see the module's text)."""
        complete = self.bodies == 0 and self.statement.strip() == ""
        if self.run_state == "first":
            if complete and line.strip():
                self.run_state = "run"
            return result
        if self.run_state != "run":
            return result
        text = code_part(line).strip()
        if not starts_clean or not complete or not text or text.startswith("#") or text.endswith(":"):
            self.run_state = None
            return result
        if has_comment:
            return result
        return f"{line.rstrip()} ///< {escape(self.shared)}"

    def track(self, plain):
        """Follows the braces: a brace after a parameter list opens a function body."""
        for ch in plain:
            if ch == "{":
                body = self.bodies > 0 or ("(" in self.statement and not SCOPE.match(self.statement)
                                           and "=" not in self.statement.split("(")[0])
                self.stack.append(body)
                self.bodies += body
                self.statement = ""
            elif ch == "}":
                if self.stack:
                    self.bodies -= self.stack.pop()
                self.statement = ""
            elif ch == ";":
                self.statement = ""
            else:
                self.statement += ch
        if self.statement.strip().startswith("#"):
            self.statement = ""


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("file", help="the header")
    with open(parser.parse_args().file, encoding="utf-8", errors="surrogateescape") as f:
        lines = f.read().split("\n")
    sys.stdout.write("\n".join(Filter(lines).run()))
    return 0


if __name__ == "__main__":
    sys.exit(main())
