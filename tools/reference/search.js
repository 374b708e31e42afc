// The search box: INDEX (written above by build_html.py) holds every export,
// result code and page; search.html?q=TEXT lists the entries whose name or
// text holds every word of TEXT, names matching first.
(function () {
  const query = new URLSearchParams(window.location.search).get("q") || "";
  const box = document.querySelector("input[name=q]");
  const results = document.getElementById("results");
  const summary = document.getElementById("summary");
  function show(text) {
    const words = text.toLowerCase().split(/\s+/).filter(Boolean);
    const hits = INDEX.filter(e => words.every(w => (e.name + " " + e.text).toLowerCase().includes(w)));
    hits.sort((a, b) => words.every(w => b.name.toLowerCase().includes(w)) -
                        words.every(w => a.name.toLowerCase().includes(w)));
    results.replaceChildren(...hits.slice(0, 100).map(e => {
      const item = document.createElement("li"), link = document.createElement("a"), note = document.createElement("span");
      link.href = e.url; link.textContent = e.name; note.textContent = " " + e.text;
      item.append(link, note);
      return item;
    }));
    summary.textContent = words.length ? hits.length + " found for \u201c" + text + "\u201d" : "Type in the search box.";
  }
  box.value = query;
  box.addEventListener("input", () => show(box.value));
  show(query);
})();
