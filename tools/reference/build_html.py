"""Builds the browsable reference: static HTML from the call rows' texts and docs/.

Usage: build_html.py REFERENCE.json REPO OUT

REFERENCE.json is what ``generate_reference json`` writes (every export with
its texts, the families, the result codes). OUT receives:

* index.html: the families and their exports, the result codes, the guides
* family-<slug>.html: one section per export (anchor: its short name) with
  its C signature, Python call, command-line example, parameters and codes
* code-<n>.html (code-m<n>.html for negative codes) and codes.html
* readme.html and one page per docs/*.md, rendered with python3-markdown
* search.html, search.js and style.css: the search box runs in a few lines
  of script over an index of exports, codes and pages, no framework

Run with Debian's /usr/bin/python3 (python3-markdown).
"""

from __future__ import annotations

import html
import json
import re
import runpy
import shutil
import sys
from pathlib import Path
from typing import Any, Dict, List

import markdown

PREFIX = "tqBsePluginControlDll_"
TITLE = "tqBsePluginControlDll reference"


def code_page(code: int) -> str:
    return f"code-{code}.html" if code >= 0 else f"code-m{-code}.html"


def esc(text: str) -> str:
    return html.escape(text, quote=True)


def page(title: str, body: str, nav_active: str = "") -> str:
    links = [("index.html", "Exports"), ("codes.html", "Result codes"), ("readme.html", "Guide")]
    nav = " ".join(
        f'<a href="{href}"{" class=active" if href == nav_active else ""}>{label}</a>' for href, label in links
    )
    return f"""<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>{esc(title)} - {TITLE}</title>
<link rel="stylesheet" href="style.css">
</head>
<body>
<header>
<a class="home" href="index.html">{TITLE}</a>
<nav>{nav}</nav>
<form class="search" action="search.html" method="get" role="search">
<input type="search" name="q" placeholder="Search exports, codes, pages" aria-label="Search">
</form>
</header>
<main>
{body}
</main>
</body>
</html>
"""


class Reference:
    def __init__(self, data: Dict[str, Any], repo: Path) -> None:
        self.calls: List[Dict[str, Any]] = data["calls"]
        self.families: List[Dict[str, Any]] = data["families"]
        self.codes: List[Dict[str, Any]] = data["codes"]
        self.repo = repo
        generator = runpy.run_path(str(repo / "python" / "src" / "tqbse" / "_generate.py"))
        self.python_name = generator["python_name"]
        self.lifecycle = generator["LIFECYCLE_CALLS"]
        self.by_name = {c["call"]: c for c in self.calls}
        self.docs = sorted((repo / "docs").glob("*.md"))
        self.search: List[Dict[str, str]] = []

    def call_link(self, name: str) -> str:
        return f"family-{self.by_name[name]['family']}.html#{name}"

    def linked_text(self, text: str) -> str:
        """Escapes text and links the export names it mentions."""

        def link(m: re.Match) -> str:
            name = m.group(0)
            return f'<a href="{self.call_link(name)}"><code>{name}</code></a>' if name in self.by_name else name

        return re.sub(r"\b[A-Z][A-Za-z]*_?[A-Za-z_]*\b", link, esc(text))

    def python_call(self, call: Dict[str, Any]) -> str:
        name = call["call"]
        if name == "Initialise":
            return 'conn = tqbse.connect("127.0.0.1")'
        if name == "Shutdown":
            return "conn.close()"
        values = []
        for arg in call["args"]:
            example = arg.get("example", "0")
            values.append(repr(example) if arg["kind"] == "text" else example)
        outs = [self.python_name(o["name"]) if o["kind"] != "text" else "text" for o in call["outputs"]]
        left = ", ".join(outs) + " = " if outs else ""
        return f"{left}conn.{self.python_name(name)}({', '.join(values)})"

    def export_section(self, call: Dict[str, Any]) -> str:
        name = call["call"]
        rows = []
        for p in call["params"]:
            use = "argument" if p in call["args"] else "output" if p in call["outputs"] else "derived"
            rows.append(
                f"<tr><td><code>{esc(p['name'])}</code></td><td><code>{esc(p['ctype'])}</code></td>"
                f"<td>{use}</td><td>{self.linked_text(p['doc'])}</td></tr>"
            )
        params = (
            "<table class=params><thead><tr><th>Parameter</th><th>C type</th><th>Use</th><th>Meaning</th></tr>"
            "</thead><tbody>" + "".join(rows) + "</tbody></table>"
            if rows
            else "<p>No parameters.</p>"
        )
        codes = " ".join(f'<a class=code href="{code_page(c)}">{c}</a>' for c in call["codes"])
        python = (
            "<p>Not a method: the connection object calls it.</p>" if name in self.lifecycle else ""
        ) + f"<pre><code>{esc(self.python_call(call))}</code></pre>"
        return f"""<section class=export id="{name}">
<h2><a href="#{name}">{name}</a></h2>
<p>{self.linked_text(call['summary'])}</p>
<h3>C</h3>
<pre><code>{esc(call['signature'])};</code></pre>
<h3>Python</h3>
{python}
<h3>Command line</h3>
<pre><code>{esc(call['example'])}</code></pre>
<h3>Parameters</h3>
{params}
<h3>Codes it can return</h3>
<p class=codes>{codes}</p>
</section>
"""

    def family_page(self, family: Dict[str, Any]) -> str:
        calls = [c for c in self.calls if c["family"] == family["slug"]]
        toc = "".join(f'<li><a href="#{c["call"]}">{c["call"]}</a></li>' for c in calls)
        for c in calls:
            self.search.append({"name": c["call"], "url": self.call_link(c["call"]), "text": c["summary"]})
        sections = "".join(self.export_section(c) for c in calls)
        body = (
            f"<h1>{esc(family['title'])}</h1><p>{self.linked_text(family['intro'])}</p>"
            f"<p>Every export's full name begins with <code>{PREFIX}</code>.</p>"
            f"<ul class=toc>{toc}</ul>{sections}"
        )
        return page(family["title"], body, "index.html")

    def code_pages(self) -> Dict[str, str]:
        pages = {}
        rows = []
        for c in self.codes:
            code = c["code"]
            users = [x["call"] for x in self.calls if code in x["codes"]]
            name = c["name"] or "(no constant)"
            listed = "".join(f'<li><a href="{self.call_link(u)}">{u}</a></li>' for u in users)
            body = (
                f"<h1>{code} <code>{esc(name)}</code></h1>"
                f"<p>{self.linked_text(c['meaning'])}</p>"
                f"<h2>Library text</h2><p>{esc(c['text']) or 'None: GetErrorMsg asks the server.'}</p>"
                f"<h2>Exports that can return it</h2>"
                + (f"<ul class=toc>{listed}</ul>" if users else "<p>None of the exports returns it itself.</p>")
            )
            pages[code_page(code)] = page(f"{code} {name}", body, "codes.html")
            rows.append(
                f'<tr><td><a href="{code_page(code)}">{code}</a></td><td><code>{esc(name)}</code></td>'
                f"<td>{self.linked_text(c['meaning'])}</td></tr>"
            )
            self.search.append({"name": f"{code} {name}", "url": code_page(code), "text": c["meaning"]})
        pages["codes.html"] = page(
            "Result codes",
            "<h1>Result codes</h1><p>Every export returns one of these: 0 success, 1 and 2 version warnings, "
            "negative values failures.</p><table><thead><tr><th>Code</th><th>Constant</th><th>Meaning</th></tr>"
            "</thead><tbody>" + "".join(rows) + "</tbody></table>",
            "codes.html",
        )
        return pages

    def markdown_pages(self) -> Dict[str, str]:
        """README.md as readme.html, docs/X.md as doc-x.html; links between them follow."""
        sources = {self.repo / "README.md": "readme.html"}
        sources.update({d: f"doc-{d.stem.lower()}.html" for d in self.docs})
        pages = {}
        for source, target in sources.items():
            text = source.read_text(encoding="utf-8")
            rendered = markdown.markdown(text, extensions=["tables", "fenced_code", "toc"])
            rendered = re.sub(r'href="([^"#:]+)(#[^"]*)?"', lambda m: self.relink(source, m), rendered)
            rendered = re.sub(r'src="(?:docs/)?([^"/:]+\.png)"', r'src="\1"', rendered)
            title = re.search(r"^#\s+(.*)$", text, re.M)
            name = title.group(1) if title else source.stem
            pages[target] = page(name, rendered, "readme.html" if target == "readme.html" else "")
            self.search.append({"name": name, "url": target, "text": f"{source.name}"})
        return pages

    def relink(self, source: Path, m: re.Match) -> str:
        """A link to another rendered page points at its HTML; one to any other file of the
        repository is dropped to a plain target in the source tree's terms."""
        target = (source.parent / m.group(1)).resolve()
        anchor = m.group(2) or ""
        if target == (self.repo / "README.md").resolve():
            return f'href="readme.html{anchor}"'
        if target.suffix == ".md" and target.parent == (self.repo / "docs").resolve():
            return f'href="doc-{target.stem.lower()}.html{anchor}"'
        if target.suffix == ".png" and target.parent == (self.repo / "docs").resolve():
            return f'href="{target.name}"'
        return 'class="source" title="in the source tree: {}"'.format(esc(str(target.relative_to(self.repo))))

    def index_page(self) -> str:
        parts = ["<h1>Exports</h1><p>The library's 75 exports by family. Each one has a C signature, "
                 "a Python call, a command-line example, its parameters and the codes it can return.</p>"]
        for f in self.families:
            calls = [c for c in self.calls if c["family"] == f["slug"]]
            items = "".join(
                f'<li><a href="{self.call_link(c["call"])}">{c["call"]}</a> '
                f"<span>{esc(c['summary'].split('. ')[0].rstrip('.'))}</span></li>"
                for c in calls
            )
            parts.append(
                f'<h2><a href="family-{f["slug"]}.html">{esc(f["title"])}</a></h2>'
                f"<p>{self.linked_text(f['intro'])}</p><ul class=exports>{items}</ul>"
            )
        guides = "".join(
            f'<li><a href="doc-{d.stem.lower()}.html">{d.stem}</a></li>' for d in self.docs
        )
        parts.append(f'<h2>Guides</h2><ul class=toc><li><a href="readme.html">README</a></li>{guides}</ul>')
        return page("Exports", "".join(parts), "index.html")

    def write(self, out: Path) -> None:
        out.mkdir(parents=True, exist_ok=True)
        pages: Dict[str, str] = {}
        for f in self.families:
            pages[f"family-{f['slug']}.html"] = self.family_page(f)
        pages.update(self.code_pages())
        pages.update(self.markdown_pages())
        pages["index.html"] = self.index_page()
        pages["search.html"] = page(
            "Search",
            '<h1>Search</h1><p id=summary></p><ul id=results class=exports></ul><script src="search.js"></script>',
        )
        for name, text in pages.items():
            (out / name).write_text(text, encoding="utf-8")
        here = Path(__file__).resolve().parent
        index = json.dumps(self.search, indent=0, sort_keys=True)
        script = (here / "search.js").read_text(encoding="utf-8")
        (out / "search.js").write_text(f"const INDEX = {index};\n{script}", encoding="utf-8")
        shutil.copyfile(here / "style.css", out / "style.css")
        for image in (self.repo / "docs").glob("*.png"):
            shutil.copyfile(image, out / image.name)


def main(argv: List[str]) -> int:
    if len(argv) != 4:
        print("usage: build_html.py REFERENCE.json REPO OUT", file=sys.stderr)
        return 2
    data = json.loads(Path(argv[1]).read_text(encoding="utf-8"))
    Reference(data, Path(argv[2]).resolve()).write(Path(argv[3]))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
