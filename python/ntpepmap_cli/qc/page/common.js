"use strict";
// Shared by the pages: their data, inflated as written (zlib in base64), and sortable tables.
const pageData = JSON.parse(document.getElementById("page-data").textContent);

async function inflate(base64) {
  const text = atob(base64);
  const bytes = new Uint8Array(text.length);
  for (let at = 0; at < text.length; at++) bytes[at] = text.charCodeAt(at);
  const stream = new Blob([bytes]).stream().pipeThrough(new DecompressionStream("deflate"));
  return new Uint8Array(await new Response(stream).arrayBuffer());
}

async function inflateJson(base64) {
  return JSON.parse(new TextDecoder().decode(await inflate(base64)));
}

function element(tag, text, className) {
  const made = document.createElement(tag);
  if (text !== undefined) made.textContent = String(text);
  if (className) made.className = className;
  return made;
}

function addCards(list, cards) {
  for (const [key, label, value] of cards) {
    const card = element("div");
    card.append(element("dt", label));
    const count = element("dd", value);
    count.dataset.count = key;
    card.append(count);
    list.append(card);
  }
}

// A table whose rows are drawn from items by draw(item) -> <tr>; a click on a header sorts by
// its data-key, again the other way; at most `shown` rows until asked for all.
class SortedTable {
  constructor(table, items, draw, shown, button) {
    this.table = table; this.items = items; this.draw = draw; this.shown = shown;
    this.button = button; this.filter = () => true; this.key = null; this.down = false;
    for (const header of table.querySelectorAll("th[data-key]")) {
      header.addEventListener("click", () => this.sortBy(header));
    }
    if (button) button.addEventListener("click", () => { this.shown = Infinity; this.render(); });
  }
  sortBy(header) {
    const key = header.dataset.key;
    this.down = this.key === key ? !this.down : false;
    this.key = key;
    const number = header.dataset.type === "number";
    const sign = this.down ? -1 : 1;
    this.items.sort((a, b) => sign * (number ? a[key] - b[key] : String(a[key]).localeCompare(String(b[key]))));
    for (const other of this.table.querySelectorAll("th")) other.classList.remove("up", "down");
    header.classList.add(this.down ? "down" : "up");
    this.render();
  }
  render() {
    const body = this.table.tBodies[0];
    const chosen = this.items.filter(this.filter);
    const rows = chosen.slice(0, this.shown).map(this.draw);
    body.replaceChildren(...rows);
    if (this.button) {
      this.button.hidden = chosen.length <= this.shown;
      this.button.textContent = `show all ${chosen.length}`;
    }
  }
}

function cell(value, className) {
  return element("td", value, className);
}
