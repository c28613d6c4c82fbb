#!/usr/bin/env python3
"""Writes docs/guide.html, the form of the user guide that the packages ship
and that Windows opens with a double click, from docs/guide.md.

    python3 scripts/guide-html.py            # rewrites docs/guide.html
    python3 scripts/guide-html.py OUTPUT     # writes OUTPUT instead

Needs Python-Markdown (Debian package python3-markdown). The HTML is
committed, so that building Velkrin needs no converter; scripts/check.sh
writes it again and fails when the committed file differs. Run this script
after every change to the guide and commit both files.
"""
import html
import pathlib
import sys

import markdown
from markdown.extensions.toc import slugify_unicode

ROOT = pathlib.Path(__file__).resolve().parent.parent
SOURCE = ROOT / "docs" / "guide.md"

PAGE = """<!DOCTYPE html>
<html lang="fr">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>{title}</title>
<style>
body {{ font-family: "Segoe UI", system-ui, sans-serif; line-height: 1.5;
       max-width: 48em; margin: 0 auto; padding: 1em 1.5em 3em; color: #1d1d1d; }}
h1, h2, h3 {{ line-height: 1.2; }}
h2 {{ margin-top: 2em; border-bottom: 1px solid #ccc; }}
code, pre {{ font-family: Consolas, "DejaVu Sans Mono", monospace; font-size: 0.95em; }}
pre {{ background: #f3f3f3; padding: 0.6em 0.8em; overflow-x: auto; }}
table {{ border-collapse: collapse; }}
th, td {{ border: 1px solid #bbb; padding: 0.25em 0.6em; text-align: left; vertical-align: top; }}
nav {{ background: #f7f7f7; border: 1px solid #ddd; padding: 0.3em 1em; }}
nav ul {{ padding-left: 1.2em; }}
</style>
</head>
<body>
<nav>
<p><strong>Sommaire</strong></p>
{toc}
</nav>
{body}
</body>
</html>
"""


def main() -> int:
    output = pathlib.Path(sys.argv[1]) if len(sys.argv) > 1 else ROOT / "docs" / "guide.html"
    text = SOURCE.read_text(encoding="utf-8")
    converter = markdown.Markdown(
        extensions=["tables", "fenced_code", "sane_lists", "toc"],
        extension_configs={"toc": {"slugify": slugify_unicode, "toc_depth": "2-3"}},
        output_format="html",
    )
    body = converter.convert(text)
    title = text.splitlines()[0].lstrip("# ").strip()
    page = PAGE.format(title=html.escape(title, quote=False), toc=converter.toc.strip(), body=body)
    output.write_text(page, encoding="utf-8", newline="\n")
    return 0


if __name__ == "__main__":
    sys.exit(main())
