// The locus's page: its summary, the canvas of its cells (a pixel per cell, scaled up by CSS)
// and the table of its records.
const COLOURS = ["#cfe8cf", "#ffffff", "#d7301f", "#fc8d59", "#4575b4", "#984ea3", "#111111",
                 "#a6611a", "#bdbdbd", "#636363"];
const SUMMARY = [["records", "records"], ["written", "written"], ["left_out", "left out"],
                 ["masked", "masked"], ["kept", "kept mismatches"], ["frameshifts", "frameshifts"],
                 ["stops", "stop codons"], ["trimmed_away", "in columns trimmed away"],
                 ["padded", "padded"], ["located", "coding region located"]];

function rgba(colour) {  // "#rrggbb" as a little-endian ImageData word
  const value = parseInt(colour.slice(1), 16);
  return (0xff << 24 | (value & 0xff) << 16 | (value >> 8 & 0xff) << 8 | value >> 16) >>> 0;
}

function drawCells(canvas, states, width, rows) {
  canvas.width = Math.max(width, 1);
  canvas.height = Math.max(rows, 1);
  const context = canvas.getContext("2d");
  const image = context.createImageData(canvas.width, canvas.height);
  const words = new Uint32Array(image.data.buffer);
  const palette = Uint32Array.from(COLOURS, rgba);
  for (let at = 0; at < states.length; at++) words[at] = palette[states[at]];
  context.putImageData(image, 0, 0);
  const room = Math.max(document.documentElement.clientWidth - 80, 200);
  const zoom = Math.max(1, Math.min(16, Math.floor(room / Math.max(width, 1))));
  canvas.style.width = `${canvas.width * zoom}px`;
  canvas.style.height = `${canvas.height * zoom}px`;
  Object.assign(canvas.dataset, {columns: width, rows: rows, zoom: zoom});
  return zoom;
}

function pointAt(canvas, tip, zoom, [states, residues, codons], details, problemAt) {
  const width = pageData.width;
  canvas.addEventListener("mousemove", (event) => {
    const column = Math.floor(event.offsetX / zoom), row = Math.floor(event.offsetY / zoom);
    if (column < 0 || column >= width || row < 0 || row >= pageData.rows) { tip.hidden = true; return; }
    const at = row * width + column;
    const problem = problemAt.get(at) || (details.fates[row] !== "written" ? details.firstOf[row] : null);
    const residue = problem && problem[2] ? problem[2] : residues ? String.fromCharCode(residues[at]) : "";
    const written = codons ? String.fromCharCode(...codons.subarray(3 * at, 3 * at + 3)).trim() : "";
    const triplet = problem && problem[3] ? problem[3] : written;
    const lines = [`${details.names[row]} (record ${row + 1}, ${details.fates[row]})`,
                   `column ${column + 1}${residue ? `, residue ${residue}` : ""}` +
                   `${triplet ? `, triplet ${triplet}` : ""}` +
                   `${written && written !== triplet ? `, written ${written}` : ""}`,
                   pageData.states[states[at]]];
    if (problem) lines.push(problem[6]);
    tip.replaceChildren(...lines.map((line) => element("div", line)));
    tip.style.left = `${event.clientX + 14}px`;
    tip.style.top = `${event.clientY + 14}px`;
    tip.hidden = false;
  });
  canvas.addEventListener("mouseleave", () => { tip.hidden = true; });
}

function recordItems(details) {
  const counts = new Array(details.names.length).fill(0);
  details.firstOf = new Array(details.names.length).fill(null);
  for (const problem of details.problems) {
    counts[problem[0]]++;
    if (!details.firstOf[problem[0]]) details.firstOf[problem[0]] = problem;
  }
  return details.names.map((name, row) => ({row: row + 1, name: name, fate: details.fates[row],
    count: counts[row], first: details.firstOf[row] ? details.firstOf[row][6] : ""}));
}

function drawRecord(item) {
  const row = element("tr");
  row.append(cell(item.row, "number"), cell(item.name), cell(item.fate), cell(item.count, "number"),
             cell(item.first));
  return row;
}

async function showLocus() {
  document.getElementById("title").textContent = pageData.title;
  document.getElementById("fate").textContent = `${pageData.fate}: ${pageData.rows} records, ` +
    `${pageData.width} codon columns`;
  const counts = Object.assign({records: pageData.rows}, pageData.summary);
  addCards(document.getElementById("summary"), SUMMARY.filter(([key]) =>
    ["records", "written", "left_out", "masked", "frameshifts", "stops"].includes(key) || counts[key])
    .map(([key, label]) => [key, label, counts[key]]));
  document.getElementById("notes").replaceChildren(...pageData.notes.map((note) => element("li", note)));
  const [states, residues, codons, details] = await Promise.all([inflate(pageData.cells),
    pageData.residues ? inflate(pageData.residues) : null,
    pageData.codons ? inflate(pageData.codons) : null, inflateJson(pageData.details)]);
  const stateCounts = new Array(pageData.states.length).fill(0);
  for (let at = 0; at < states.length; at++) stateCounts[states[at]]++;
  const legend = document.getElementById("legend");
  pageData.states.forEach((name, state) => {
    const entry = element("li");
    const swatch = element("span", undefined, "swatch");
    swatch.style.background = COLOURS[state];
    entry.append(swatch, `${name} (${stateCounts[state]})`);
    entry.dataset.state = name;
    legend.append(entry);
  });
  const canvas = document.getElementById("cells");
  const zoom = drawCells(canvas, states, pageData.width, pageData.rows);
  const problemAt = new Map();
  for (const problem of details.problems) {
    if (problem[1] > 0) problemAt.set(problem[0] * pageData.width + problem[1] - 1, problem);
  }
  const items = recordItems(details);
  pointAt(canvas, document.getElementById("pointed"), zoom, [states, residues, codons], details,
          problemAt);
  const table = new SortedTable(document.getElementById("records"), items, drawRecord, 500,
                                document.getElementById("show-all"));
  const only = document.getElementById("only-problems");
  only.checked = items.length > 500;
  const choose = () => { table.filter = only.checked ? (item) => item.count > 0 : () => true; table.render(); };
  only.addEventListener("change", choose);
  choose();
  document.body.dataset.ready = "1";
}

showLocus().catch((error) => {
  document.body.dataset.ready = "failed";
  document.body.prepend(element("p", `This page could not be shown: ${error}`, "fate-failed"));
  throw error;
});
