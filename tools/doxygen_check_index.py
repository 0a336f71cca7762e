#!/usr/bin/env python3
"""Checks the API reference's index (scripts/docs): every class page must belong to a type that a
header below brol/ declares, and no namespace or concept may have a page of its own (the public names
are global; brol::detail is internal). Prints what is wrong and exits 1.

  doxygen_check_index.py TAGFILE SOURCE_DIR HTML_DIR
"""
import argparse
import pathlib
import re
import sys
import xml.etree.ElementTree as ElementTree


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    for name in ("tagfile", "source_dir", "html_dir"):
        parser.add_argument(name)
    args = parser.parse_args()
    tags = ElementTree.parse(args.tagfile).getroot()
    headers = "\n".join(p.read_text(encoding="utf-8", errors="replace")
                        for p in pathlib.Path(args.source_dir, "brol").rglob("*.h"))
    wrong = []
    for compound in tags.iter("compound"):
        kind, name = compound.get("kind"), compound.findtext("name")
        if kind in ("namespace", "concept"):
            wrong.append(f"{kind} {name} has a page")
        elif kind in ("class", "struct", "union"):
            base = name.split("<")[0].strip()
            if not re.search(rf"\b(struct|class|union)\s+{re.escape(base)}\b\s*(:|{{|<)", headers):
                wrong.append(f"{kind} page for {name}, which no header declares as a type")
    # Doxygen also writes pages that the tag file leaves out: a declaration it misread as a class.
    listed = {compound.findtext("filename") for compound in tags.iter("compound")}
    for page in sorted(pathlib.Path(args.html_dir).glob("*.html")):
        if re.match(r"(class|struct|union)(?!es\.html)", page.name) and not page.name.endswith("-members.html"):
            if page.name not in listed and page.name.removesuffix(".html") not in listed:
                wrong.append(f"page {page.name} belongs to no type")
    for line in wrong:
        print(f"reference index: {line}", file=sys.stderr)
    return 1 if wrong else 0


if __name__ == "__main__":
    sys.exit(main())
