#!/usr/bin/python3
"""Renders the user guide into one HTML page that needs no other file.

    /usr/bin/python3 scripts/guide-html.py docs/使用说明.md OUT.html

The pictures it shows (Markdown images, paths relative to the guide) are embedded as
data: URIs, so that the page can be opened from the installation folder, the Start menu
or a zip alone. A picture that is missing or not a PNG stops it with status 1. The same
guide always gives the same bytes (scripts/release.sh needs that for a reproducible
release). Needs python3-markdown (scripts/setup.sh installs it), so Debian's own
python3, not another one first on the PATH.
"""
import base64
import html
import pathlib
import re
import sys

import markdown

STYLE = """
body { font-family: "Microsoft YaHei", "微软雅黑", "SimSun", sans-serif; line-height: 1.6;
       max-width: 52em; margin: 2em auto; padding: 0 1em; color: #222; }
h1, h2, h3 { line-height: 1.3; }
h2 { border-bottom: 1px solid #ccc; padding-bottom: .2em; margin-top: 2em; }
code, pre { font-family: Consolas, "Courier New", monospace; background: #f4f4f4; }
code { padding: 0 .2em; }
pre { padding: .6em; overflow-x: auto; }
pre code { padding: 0; }
table { border-collapse: collapse; margin: 1em 0; }
th, td { border: 1px solid #bbb; padding: .3em .6em; vertical-align: top; text-align: left; }
img { max-width: 100%; border: 1px solid #ddd; }
""".strip()


def embed(match, folder):
    source = html.unescape(match.group(2))
    if source.startswith(("data:", "http:", "https:")):
        return match.group(0)
    picture = folder / source
    try:
        data = picture.read_bytes()
    except OSError as error:
        sys.exit(f"guide-html.py: picture {source}: {error.strerror}")
    if not data.startswith(b"\x89PNG\r\n\x1a\n"):
        sys.exit(f"guide-html.py: picture {source} is not a PNG file")
    uri = "data:image/png;base64," + base64.b64encode(data).decode("ascii")
    return f'{match.group(1)}"{uri}"'


def main(argv):
    if len(argv) != 3:
        sys.exit("usage: guide-html.py GUIDE.md OUT.html")
    guide = pathlib.Path(argv[1])
    text = guide.read_text(encoding="utf-8-sig")
    title = next((line[2:].strip() for line in text.splitlines() if line.startswith("# ")), guide.stem)
    body = markdown.markdown(text, extensions=["tables", "fenced_code", "sane_lists"], output_format="html")
    body = re.sub(r'(<img\b[^>]*?\bsrc=)"([^"]*)"', lambda m: embed(m, guide.parent), body)
    page = (
        '<!DOCTYPE html>\n<html lang="zh-CN">\n<head>\n<meta charset="utf-8">\n'
        f"<title>{html.escape(title)}</title>\n<style>\n{STYLE}\n</style>\n</head>\n<body>\n"
        f"{body}\n</body>\n</html>\n"
    )
    # Windows line ends, as the other text files of a release have.
    pathlib.Path(argv[2]).write_bytes(page.replace("\r\n", "\n").replace("\n", "\r\n").encode("utf-8"))


if __name__ == "__main__":
    main(sys.argv)
