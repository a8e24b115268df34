// The batch's page: its loci by fate, and a table of every locus, linked to its own page.
const NUMBERS = ["written", "masked", "frameshifts", "stops", "left_out"];

function drawLocus(item) {
  const row = element("tr");
  const name = cell();
  if (item.page) {
    const link = element("a", item.locus);
    link.href = item.page;
    name.append(link);
  } else {
    name.textContent = item.locus;
  }
  row.dataset.locus = item.locus;
  row.append(name, cell(item.fate, `fate-${item.fate.replace(/ /g, "-")}`),
             ...NUMBERS.map((key) => cell(item[key] === undefined ? "" : item[key], "number")),
             cell(item.message));
  return row;
}

async function showBatch() {
  const loci = await inflateJson(pageData.rows);
  addCards(document.getElementById("summary"), [["loci", "loci", pageData.loci],
    ...Object.entries(pageData.fates).map(([fate, count]) => [fate, fate, count])]);
  const table = new SortedTable(document.getElementById("loci"), loci, drawLocus, 1000,
                                document.getElementById("show-all"));
  const filter = document.getElementById("fate-filter");
  for (const fate of Object.keys(pageData.fates)) filter.append(new Option(fate, fate));
  filter.addEventListener("change", () => {
    table.filter = filter.value ? (item) => item.fate === filter.value : () => true;
    table.render();
  });
  table.render();
  document.body.dataset.ready = "1";
}

showBatch().catch((error) => {
  document.body.dataset.ready = "failed";
  document.body.prepend(element("p", `This page could not be shown: ${error}`, "fate-failed"));
  throw error;
});
