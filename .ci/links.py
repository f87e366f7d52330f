#!/usr/bin/env python3
"""Fails when a relative link in a Markdown file, or its #anchor, points at
nothing: links.py FILE.md...

An anchor is a heading of the file it names, made into an id as GitHub
makes one: lower case, without punctuation, spaces as hyphens, and -1, -2
after an id that comes again.
"""
import functools, os, re, sys

LINK = re.compile(r"\[[^\]]*\]\(([^)\s]+)\)|^\[[^\]]+\]:\s*(\S+)", re.M)


def prose(path):
    """The file's lines outside code blocks."""
    lines, fenced = [], False
    for line in open(path, encoding="utf-8"):
        if line.startswith("```"):
            fenced = not fenced
        elif not fenced and not line.startswith("    "):
            lines.append(line)
    return lines


@functools.lru_cache(maxsize=None)
def anchors(path):
    ids, seen = set(), {}
    for line in prose(path):
        m = re.match(r"#+\s+(.*?)\s*#*$", line)
        if m:
            a = re.sub(r"[^\w\- ]", "", m.group(1).lower()).replace(" ", "-")
            n = seen.get(a, 0)
            seen[a] = n + 1
            ids.add(a if n == 0 else "%s-%d" % (a, n))
    return ids


def main():
    links = bad = 0
    for md in sys.argv[1:]:
        for m in LINK.finditer(re.sub(r"`[^`]*`", "", "".join(prose(md)))):
            target = m.group(1) or m.group(2)
            if re.match(r"[a-z]+:", target):
                continue
            links += 1
            path, _, anchor = target.partition("#")
            where = os.path.normpath(os.path.join(os.path.dirname(md), path)) if path else md
            if not os.path.exists(where):
                why = "no such file"
            elif anchor and not where.endswith(".md"):
                why = "an anchor in a file that is not Markdown"
            elif anchor and anchor not in anchors(where):
                why = "no such heading"
            else:
                continue
            bad += 1
            print("%s: %s: %s" % (md, target, why))
    print("%d relative links in %d Markdown files, %d broken" % (links, len(sys.argv) - 1, bad))
    sys.exit(1 if bad or not links else 0)


main()
