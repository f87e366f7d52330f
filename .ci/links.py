#!/usr/bin/env python3
"""Fails when a relative link in a Markdown file, or its #anchor, points at
nothing: links.py FILE.md...

The files are read as Markdown (markdown-it, Debian's python3-markdown-it),
so links in lists, list continuations and tables count, and text in code
spans and code blocks does not. An anchor is a heading of the file it
names, made into an id as GitHub makes one: the heading's text in lower
case, without punctuation, spaces as hyphens, and -1, -2 after an id that
comes again.
"""
import functools, os, re, sys
from markdown_it import MarkdownIt

MD = MarkdownIt("commonmark").enable("table")


def tokens(path):
    """The file's inline tokens, each with the block token before it."""
    with open(path, encoding="utf-8") as f:
        blocks = MD.parse(f.read())
    return [(before, t) for before, t in zip([None] + blocks, blocks) if t.type == "inline"]


@functools.lru_cache(maxsize=None)
def anchors(path):
    ids, seen = set(), {}
    for before, t in tokens(path):
        if before.type != "heading_open":
            continue
        text = "".join(c.content for c in t.children if c.type in ("text", "code_inline"))
        a = re.sub(r"[^\w\- ]", "", text.lower()).replace(" ", "-")
        n = seen.get(a, 0)
        seen[a] = n + 1
        ids.add(a if n == 0 else "%s-%d" % (a, n))
    return ids


def main():
    links = bad = 0
    for md in sys.argv[1:]:
        for _, t in tokens(md):
            for c in t.children:
                target = c.attrs.get("href") if c.type == "link_open" else None
                if target is None or re.match(r"[a-z]+:", target):
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
