"""Every internal link and image of the built reference resolves: the file
exists and, for #anchor, the page has an element with that id. Also checks
that each export has its anchor on its family's page.

Usage: check_links.py OUT REFERENCE.json
"""

import json
import sys
from html.parser import HTMLParser
from pathlib import Path
from urllib.parse import unquote, urlsplit


class Page(HTMLParser):
    def __init__(self) -> None:
        super().__init__()
        self.ids, self.links = set(), []

    def handle_starttag(self, tag, attrs):
        a = dict(attrs)
        if "id" in a:
            self.ids.add(a["id"])
        for key in ("href", "src"):
            if a.get(key):
                self.links.append(a[key])


def main(out: Path, reference: Path) -> int:
    pages = {}
    for f in sorted(out.glob("*.html")):
        p = Page()
        p.feed(f.read_text(encoding="utf-8"))
        pages[f.name] = p
    broken = []
    checked = 0
    for name, p in pages.items():
        for link in p.links:
            parts = urlsplit(link)
            if parts.scheme or parts.netloc:
                continue  # outside the reference
            target = unquote(parts.path) or name
            checked += 1
            if not (out / target).is_file():
                broken.append(f"{name}: {link} (no such file)")
            elif parts.fragment and target.endswith(".html") and parts.fragment not in pages[target].ids:
                broken.append(f"{name}: {link} (no such anchor)")
    for call in json.loads(reference.read_text(encoding="utf-8"))["calls"]:
        family = pages.get(f"family-{call['family']}.html")
        if family is None or call["call"] not in family.ids:
            broken.append(f"{call['call']} has no anchor on its family's page")
    for b in broken:
        print("broken:", b, file=sys.stderr)
    print(f"{len(pages)} pages, {checked} internal links, {len(broken)} broken")
    return 1 if broken or checked < 500 else 0


if __name__ == "__main__":
    sys.exit(main(Path(sys.argv[1]), Path(sys.argv[2])))
