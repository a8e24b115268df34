"""A locus with a problem of each kind planted at a known cell, and Debian's chromium driven
headless through selenium, for the tests of the pages."""

from __future__ import annotations

import os
import random
import shutil
from pathlib import Path

import pytest

BASES = "TCAG"
STANDARD = "FFLLSSSSYY**CC*WLLLLPPPPHHQQRRRRIIIMTTTTNNKKSSRRVVVVAAAADDEEGGGG"
CODONS: dict[str, list[str]] = {}
for number, residue in enumerate(STANDARD):
    CODONS.setdefault(residue, []).append(BASES[number // 16] + BASES[number // 4 % 4] + BASES[number % 4])
WIDTH = 60
GAPS = (10, 11, 12)  # 1-based columns where the clean record has gaps
MISMATCH, AMBIGUOUS, FRAMESHIFT, STOP = 20, 25, 30, 40
TRIMMED = (50, 51)  # columns the kept-columns file leaves out

# (record, 1-based column, state the page must give the cell)
PLANTED = [
    ("clean", 5, "clean"), ("clean", GAPS[1], "gap"), ("masked", MISMATCH, "masked mismatch"),
    ("ambiguous", AMBIGUOUS, "resolved ambiguity"), ("shifted", FRAMESHIFT, "frameshift"), ("stopped", STOP, "stop codon"),
    ("stranger", 5, "record left out"), ("clean", TRIMMED[0], "column trimmed away"),
    ("masked", TRIMMED[1], "column trimmed away"), ("shifted", 5, "clean"),
]


def _codons(protein: str, draw: random.Random) -> list[str]:
    return [draw.choice(CODONS[residue]) for residue in protein if residue != "-"]


def planted_locus(folder: Path) -> tuple[Path, Path, Path]:
    """Protein alignment, CDS and kept columns of six records: a clean one with gaps, a
    codon of another residue, an ambiguous triplet of its residue (GCR for A), a nucleotide
    too many, an internal stop codon under '*', and a CDS of another protein (a wrong
    pairing)."""
    draw = random.Random(7)
    residues = "ACDEFGHIKLMNPQRSTVWY"
    base = "M" + "".join(draw.choice(residues) for _ in range(WIDTH - 1))
    base = base[:AMBIGUOUS - 1] + "A" + base[AMBIGUOUS:]
    rows = {"clean": "".join("-" if column in GAPS else base[column - 1]
                             for column in range(1, WIDTH + 1))}
    rows.update(masked=base, ambiguous=base, shifted=base, stranger=base)
    rows["stopped"] = base[:STOP - 1] + "*" + base[STOP:]
    cds = {name: _codons(row, draw) for name, row in rows.items()}
    other = [residue for residue in residues if residue != base[MISMATCH - 1]]
    cds["masked"][MISMATCH - 1] = draw.choice(CODONS[draw.choice(other)])
    codon = cds["shifted"][FRAMESHIFT - 1]
    cds["shifted"][FRAMESHIFT - 1] = codon[0] + next(
        base for base in "ACGT" if base not in codon[:2]) + codon[1:]
    cds["stopped"][STOP - 1] = "TAA"
    cds["ambiguous"][AMBIGUOUS - 1] = "GCR"
    cds["stranger"] = _codons("".join(draw.choice("WCFYH") for _ in range(WIDTH)), draw)
    pep = folder / "locus.fasta"
    pep.write_text("".join(f">{name}\n{row}\n" for name, row in rows.items()))
    cds_path = folder / "locus.fna"
    cds_path.write_text("".join(f">{name}\n{''.join(codons)}\n" for name, codons in cds.items()))
    kept = folder / "kept.txt"
    kept.write_text(f"1-{TRIMMED[0] - 1},{TRIMMED[1] + 1}-{WIDTH}\n")
    return pep, cds_path, kept


def browser_missing() -> str | None:
    """Why the browser tests cannot run here, or None."""
    try:
        import selenium  # noqa: F401
    except ImportError:
        return "selenium is not installed (pip install selenium)"
    for program in ("chromium", "chromedriver"):
        if shutil.which(program) is None:
            return f"{program} is not installed (apt-get install chromium chromium-driver)"
    return None


def chromium():
    """Headless chromium, its console and network events logged for the tests to read."""
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service

    options = webdriver.ChromeOptions()
    options.binary_location = shutil.which("chromium")
    for argument in ("--headless=new", "--no-sandbox", "--disable-dev-shm-usage",
                     "--disable-gpu", "--window-size=1400,1000"):
        options.add_argument(argument)
    options.set_capability("goog:loggingPrefs", {"browser": "ALL", "performance": "ALL"})
    return webdriver.Chrome(service=Service(shutil.which("chromedriver"), env=plain_environment()),
                            options=options)


def plain_environment() -> dict[str, str]:
    """This process's environment without the sanitizers' runtime preloaded (a sanitized
    run of the suite): the browser and MultiQC are not what is checked there."""
    return {name: value for name, value in os.environ.items()
            if name not in ("LD_PRELOAD", "ASAN_OPTIONS", "UBSAN_OPTIONS", "PYTHONMALLOC")}


@pytest.fixture(scope="module")
def browser():
    missing = browser_missing()
    if missing:
        pytest.skip(missing)
    driver = chromium()
    yield driver
    driver.quit()


def requests_made(driver) -> list[str]:
    """The URLs the page asked for since the last call, but for itself (file://)."""
    import json

    urls = []
    for entry in driver.get_log("performance"):
        message = json.loads(entry["message"])["message"]
        if message["method"] == "Network.requestWillBeSent":
            urls.append(message["params"]["request"]["url"])
    return [url for url in urls if not url.startswith("file://")]


def console_errors(driver) -> list[str]:
    return [entry["message"] for entry in driver.get_log("browser") if entry["level"] == "SEVERE"]


def load_report(driver, path: Path, section: str, timeout: float = 60) -> None:
    """Opens a report of another program and waits for the section's element."""
    from selenium.webdriver.support.ui import WebDriverWait

    driver.get(path.resolve().as_uri())
    WebDriverWait(driver, timeout).until(
        lambda page: page.execute_script("return !!document.getElementById(arguments[0])", section))


def load(driver, path: Path, timeout: float = 30) -> None:
    """Opens the page and waits until its script says it is drawn."""
    from selenium.webdriver.support.ui import WebDriverWait

    driver.get(path.resolve().as_uri())
    WebDriverWait(driver, timeout).until(
        lambda page: page.execute_script("return document.body.dataset.ready") in ("1", "failed"))
    assert driver.execute_script("return document.body.dataset.ready") == "1", console_errors(driver)
