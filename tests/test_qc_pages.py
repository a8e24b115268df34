"""The pages of a locus and of a batch, and the MultiQC section, as a browser shows them: a
locus with a problem of each kind planted at a known cell, each shown in its place."""

from __future__ import annotations

import csv
import subprocess
import sys

import pytest

from helpers import make_batch_locus, read_fasta, run_cli
from ntpepmap_cli import codon_align
from qc_browser import (PLANTED, browser, console_errors, load, load_report,  # noqa: F401
                        plain_environment, planted_locus, requests_made)


@pytest.fixture(scope="module")
def planted(tmp_path_factory):
    folder = tmp_path_factory.mktemp("planted")
    pep, cds, kept = planted_locus(folder)
    common = [pep, cds, "--kept-columns", kept]
    with_page = run_cli(*common, "-o", folder / "out.fasta", "--html", folder / "locus.html")
    without = run_cli(*common, "-o", folder / "plain.fasta")
    return folder, (pep, cds, kept), with_page, without


def test_the_page_changes_neither_the_alignment_nor_the_messages(planted):
    folder, _, with_page, without = planted
    assert (with_page.returncode, with_page.stderr) == (without.returncode, without.stderr)
    assert (folder / "out.fasta").read_bytes() == (folder / "plain.fasta").read_bytes()


def test_the_api_writes_the_commands_page(planted, tmp_path):
    folder, (pep, cds, kept), _, _ = planted
    result = codon_align(str(pep), str(cds), kept_columns=str(kept), html=tmp_path / "api.html")
    assert (tmp_path / "api.html").read_bytes() == (folder / "locus.html").read_bytes()
    result.write_html(tmp_path / "again.html")
    assert (tmp_path / "again.html").read_bytes() == (folder / "locus.html").read_bytes()
    with pytest.raises(ValueError, match="html="):
        codon_align(str(pep), str(cds)).write_html(tmp_path / "none.html")


@pytest.fixture(scope="module")
def locus_page(browser, planted):
    folder = planted[0]
    requests_made(browser)  # what came before
    load(browser, folder / "locus.html")
    return browser


def test_the_locus_page_loads_alone_and_counts_as_the_run_does(locus_page, planted):
    assert console_errors(locus_page) == []
    assert requests_made(locus_page) == []
    shown = locus_page.execute_script(
        "return Object.fromEntries([...document.querySelectorAll('[data-count]')]"
        ".map((card) => [card.dataset.count, Number(card.textContent)]))")
    *lines, summary = planted[2].stderr.splitlines()
    told = "\n".join(lines)  # a line per problem
    tool = {"frameshifts": told.count(": frameshift,"),
            "stops": told.count("internal stop codon"), "left_out": told.count("; left out")}
    assert f"{shown['written']} records written" in summary
    # masked as the summary counts them: a frameshift's codons too
    assert f"{shown['masked']} codon{'s' if shown['masked'] != 1 else ''} masked" in summary
    assert shown["masked"] > told.count("; masked")
    assert {key: shown[key] for key in tool} == tool
    assert all(tool.values())  # each problem was planted, and told


def _cell_colour(driver, row: int, column: int) -> list[int]:
    return driver.execute_script(
        "const canvas = document.getElementById('cells');"
        "return [...canvas.getContext('2d').getImageData(arguments[1] - 1, arguments[0], 1, 1)"
        ".data].slice(0, 3);", row, column)


def _legend_colour(driver, state: str) -> list[int]:
    colour = driver.execute_script(
        "const swatch = document.querySelector(`#legend li[data-state='${arguments[0]}'] .swatch`);"
        "return getComputedStyle(swatch).backgroundColor;", state)
    return [int(part) for part in colour[colour.index("(") + 1:-1].split(",")]


@pytest.mark.parametrize("record, column, state", PLANTED,
                         ids=[f"{record}-{column}" for record, column, _ in PLANTED])
def test_each_planted_problem_is_coloured_in_its_cell(locus_page, planted, record, column, state):
    row = list(read_fasta(planted[1][0].read_text())).index(record)
    assert _cell_colour(locus_page, row, column) == _legend_colour(locus_page, state)


@pytest.mark.parametrize("record, column", [(record, column) for record, column, state in PLANTED
                                            if state in ("clean", "masked mismatch",
                                                         "frameshift", "stop codon")])
def test_pointing_at_a_cell_shows_its_codon_and_problem_line(locus_page, planted, record, column):
    from selenium.webdriver.common.action_chains import ActionChains

    folder, (pep, _, _), run, _ = planted
    row = list(read_fasta(pep.read_text())).index(record)
    canvas = locus_page.find_element("id", "cells")
    zoom = int(canvas.get_attribute("data-zoom"))
    size = canvas.size
    ActionChains(locus_page).move_to_element_with_offset(
        canvas, int((column - 0.5) * zoom - size["width"] / 2),
        int((row + 0.5) * zoom - size["height"] / 2)).perform()
    shown = locus_page.find_element("id", "pointed").text
    # the column comes before the trimmed ones: the same in the alignment written
    written = read_fasta((folder / "out.fasta").read_text())[record][3 * column - 3:3 * column]
    assert record in shown and f"column {column}" in shown and f" {written}" in shown
    lines = [line.removeprefix("ntpepmap: ") for line in run.stderr.splitlines()
             if f": {record}: column {column} " in line]
    assert all(line in shown for line in lines)


@pytest.fixture(scope="module")
def batch(tmp_path_factory):
    """A batch of a clean locus, one with a masked codon, one that fails (a record without
    its CDS) and the planted one; its status table, pages and MultiQC's report of it."""
    folder = tmp_path_factory.mktemp("batch")
    for stem, fault in (("plain", ""), ("changed", "report"), ("broken", "missing")):
        make_batch_locus(folder, stem, fault)
    pep, cds, _ = planted_locus(folder)
    pep.rename(folder / "pep" / "planted.fasta")
    cds.rename(folder / "cds" / "planted.fna")
    run = run_cli("batch", folder / "pep", folder / "cds", "-O", folder / "out", "--html",
                  folder / "pages", "--status", folder / "tables" / "status.tsv", "-j", "2")
    assert run.returncode == 1, run.stderr  # a locus failed
    with open(folder / "tables" / "status.tsv", encoding="utf-8") as table:
        rows = list(csv.DictReader(table, delimiter="\t"))
    return folder, rows


def test_the_batch_page_lists_every_locus_with_its_fate_and_page(browser, batch):
    folder, rows = batch
    requests_made(browser)
    load(browser, folder / "pages" / "index.html")
    shown = browser.execute_script(
        "return [...document.querySelectorAll('#loci tbody tr')].map((row) => [row.dataset.locus,"
        " row.cells[1].textContent, row.querySelector('a') ? row.querySelector('a').href : '']);")
    assert sorted(locus for locus, _, _ in shown) == sorted(row["locus"] for row in rows)
    fates = {row["locus"]: row["fate"] for row in rows}
    assert {locus: fate for locus, fate, _ in shown} == fates
    assert {locus for locus, _, link in shown if link} == {
        locus for locus, fate in fates.items() if fate != "failed"}
    assert console_errors(browser) == [] and requests_made(browser) == []
    browser.find_element("link text", "planted").click()
    load(browser, folder / "pages" / "planted.html")
    assert browser.execute_script("return document.getElementById('title').textContent") == "planted"


def test_multiqc_shows_the_ntpepmap_section_with_the_batchs_counts(browser, batch, tmp_path):
    pytest.importorskip("multiqc")
    folder, rows = batch
    report = tmp_path / "report"
    run = subprocess.run([sys.executable, "-m", "multiqc", "--force", "--no-ansi", "-o", report,
                          folder / "tables"], capture_output=True, text=True, timeout=600,
                         env=plain_environment())
    assert run.returncode == 0, run.stderr
    with open(report / "multiqc_data" / "multiqc_ntpepmap.txt", encoding="utf-8") as data:
        found = {row["Sample"]: row for row in csv.DictReader(data, delimiter="\t")}
    assert {name: (int(found[name]["written"]), int(found[name]["left_out"])) for name in found} \
        == {row["locus"]: (int(row["written"]), int(row["left_out"])) for row in rows}
    load_report(browser, report / "multiqc_report.html", "ntpepmap-fates")
    assert "Records by fate" in browser.execute_script(
        "return document.getElementById('ntpepmap-fates').parentElement.innerText")
    shown = browser.execute_script(
        "return [...document.querySelectorAll('#general_stats_table_table tbody tr')].map((row) =>"
        " [row.querySelector('[data-original-sn]').dataset.originalSn, ...['written', 'masked',"
        " 'frameshifts', 'stops'].map((key) => Number(row.querySelector(`td.ntpepmap-${key}"
        " .val`).textContent))]);")
    assert sorted(shown) == sorted(
        [row["locus"], int(row["written"]), int(row["masked"]), int(row["frameshifts"]),
         sum(int(row[kind]) for kind in ("stops_kept", "stops_masked", "stops_dropped"))]
        for row in rows)
