#!/usr/bin/env python3
# Fails when a relative link of a tracked Markdown file names a file that does not exist.
"""Usage: check_links.py SOURCE_DIR

Checks every relative link and image, inline or by reference definition, of
every Markdown file of the repository (the tracked ones when SOURCE_DIR is a
git checkout): the file it names must exist inside the repository, and an
anchor into a Markdown file must be one of that file's headings. Links with
a scheme (https:, mailto:) and text inside code are not checked.
"""

import os
import re
import subprocess
import sys
from urllib.parse import unquote

INLINE = re.compile(r"!?\[(?:[^\[\]]|\[[^\]]*\])*\]\(\s*<?([^)\s>]*)>?(?:\s+\"[^\"]*\")?\s*\)")
DEFINITION = re.compile(r"^\s{0,3}\[[^\]]+\]:\s*<?(\S+?)>?(?:\s+\"[^\"]*\")?\s*$")
SCHEME = re.compile(r"^[a-zA-Z][a-zA-Z0-9+.-]*:")
FENCE = re.compile(r"^\s{0,3}(```|~~~)")
CODE_SPAN = re.compile(r"(`+).*?\1")
HEADING = re.compile(r"^\s{0,3}#{1,6}\s+(.*?)\s*#*\s*$")


def markdown_files(root):
    try:
        listed = subprocess.run(["git", "-C", root, "ls-files", "-z", "*.md"], check=True,
                                capture_output=True).stdout.decode()
        return sorted(name for name in listed.split("\0") if name)
    except (OSError, subprocess.CalledProcessError):
        found = []
        for folder, subfolders, files in os.walk(root):
            subfolders[:] = [d for d in subfolders if not d.startswith((".", "build", "out"))]
            found += [os.path.relpath(os.path.join(folder, f), root) for f in files if f.endswith(".md")]
        return sorted(found)


def prose_lines(text):
    """(line number, line) outside fenced code."""
    fenced = False
    for number, line in enumerate(text.splitlines(), 1):
        if FENCE.match(line):
            fenced = not fenced
        elif not fenced:
            yield number, line


def slug(heading):
    """The anchor a heading gets: lower case, punctuation dropped, spaces as hyphens."""
    text = re.sub(r"\[([^\]]*)\]\([^)]*\)", r"\1", heading).replace("`", "").lower()
    return re.sub(r"[^\w\- ]", "", text).replace(" ", "-")


def anchors(path, cache={}):
    if path not in cache:
        with open(path, encoding="utf-8") as f:
            names, seen = set(), {}
            for _, line in prose_lines(f.read()):
                match = HEADING.match(line)
                if match:
                    base = slug(match.group(1))
                    count = seen.get(base, 0)
                    seen[base] = count + 1
                    names.add(base if count == 0 else f"{base}-{count}")
            cache[path] = names
    return cache[path]


def dead_links(root, name):
    path = os.path.join(root, name)
    with open(path, encoding="utf-8") as f:
        text = f.read()
    for number, line in prose_lines(text):
        line = CODE_SPAN.sub("", line)
        targets = [m.group(1) for m in INLINE.finditer(line)]
        definition = DEFINITION.match(line)
        if definition:
            targets.append(definition.group(1))
        for target in targets:
            if not target or SCHEME.match(target):
                continue
            file_part, _, anchor = target.partition("#")
            linked = os.path.normpath(os.path.join(os.path.dirname(path), unquote(file_part))) if file_part else path
            if os.path.relpath(linked, root).startswith(os.pardir):
                yield f"{name}:{number}: {target} points outside the repository"
            elif not os.path.exists(linked):
                yield f"{name}:{number}: {target} names no file"
            elif anchor and linked.endswith(".md") and unquote(anchor) not in anchors(linked):
                yield f"{name}:{number}: {target} names no heading of {os.path.relpath(linked, root)}"


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    root = os.path.abspath(sys.argv[1])
    files = markdown_files(root)
    dead = [message for name in files for message in dead_links(root, name)]
    for message in dead:
        print(message)
    print(f"{len(files)} Markdown files, {len(dead)} dead links")
    return 1 if dead or not files else 0


if __name__ == "__main__":
    sys.exit(main())
