"""What every release kit keeps, checked on its files: SHA256SUMS matches, texts have Windows line
ends (and a byte order mark when they are not ASCII), no placeholder is left, underlines fit their
titles, and every file a text names is in the kit.
"""
import hashlib
import re

# File names a text may name without the kit holding them: what the deployer adds or the technician
# makes. Every other *.txt, *.conf or *.zip named in a text must exist.
REFERENCE = re.compile(rb"[A-Za-z0-9_@-][A-Za-z0-9_.@-]*\.(?:txt|conf|zip)\b")


def common_problems(files, kits, other):
    """The rules of every kit that files, one kit's {name: bytes}, breaks. kits: {zip name: {file:
    bytes}} of both kits; other: the zip name of the other kit. A text may name a file of the other
    kit when it names that kit too."""
    problems = []

    def check(condition, message):
        if not condition:
            problems.append(message)

    sums = dict(reversed(line.split("  ", 1)) for line in files["SHA256SUMS"].decode("ascii").splitlines())
    check(sorted(sums) == sorted(set(files) - {"SHA256SUMS"}), f"SHA256SUMS lists {sorted(sums)}")
    for name, digest in sums.items():
        check(hashlib.sha256(files.get(name, b"")).hexdigest() == digest, f"{name}: SHA256SUMS does not match")
    for name, data in files.items():
        if name.endswith((".txt", ".conf")):
            check(data.count(b"\n") == data.count(b"\r\n") > 0, f"{name}: not CR LF line ends")
            check(data.isascii() or data.startswith(b"\xef\xbb\xbf"), f"{name}: not ASCII and no byte order mark")
            check(not re.search(rb"@[A-Z_]+@", data), f"{name}: a placeholder was left unfilled")
            lines = data.decode("utf-8-sig").split("\r\n")
            for title, line in zip(lines, lines[1:]):
                if len(line) >= 3 and set(line) in ({"="}, {"-"}) and title.strip():
                    check(len(line) == len(title), f"{name}: the underline of {title!r} is {len(line)} long")
            for reference in REFERENCE.findall(data):
                named = reference.decode()
                there = named in kits[other] and other.encode() in data
                check(named in files or named in kits or there, f"{name} names {named}, which is not in the kit")
    return problems
