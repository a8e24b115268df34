"""What several test modules share: a small locus, FASTA text, running the command,
the engine's settings."""

from __future__ import annotations

import os
import re
import subprocess
import sys
from pathlib import Path
from types import SimpleNamespace

import ntpepmap
import ntpepmap_cli
from ntpepmap_cli import _native

REPO = Path(__file__).resolve().parent.parent
CODON = {"M": "ATG", "K": "AAG", "W": "TGG", "L": "CTG", "F": "TTC", "S": "AGC",
         "E": "GAA", "D": "GAT", "P": "CCA", "*": "TAA"}
PROTEINS = {"alpha": "MKW-LFSE", "beta": "MK--LFSE", "gamma": "M-WDLFSP", "delta": "MKWDLF-E"}


def cds_of(row: str) -> str:
    return "".join(CODON[aa] for aa in row if aa != "-")


def codon_row(row: str) -> str:
    """What the back-translation of a row of CODON residues must be."""
    return "".join("---" if aa == "-" else CODON[aa] for aa in row)


EXPECTED = {name: codon_row(row) for name, row in PROTEINS.items()}


def fasta_text(records, wrap: int = 0, newline: str = "\n", description: str = "") -> str:
    """FASTA of a dict or of (name, sequence) pairs, in lines of `wrap` letters (0: one line)."""
    def lines(seq: str) -> list[str]:
        return [seq[start:start + wrap] for start in range(0, len(seq), wrap)] if wrap else [seq]

    pairs = records.items() if isinstance(records, dict) else records
    return "".join(f">{name}{description}{newline}" + "".join(line + newline for line in lines(seq))
                   for name, seq in pairs)


def write_fasta(path: Path, records, *, description: str = "", opener=open) -> Path:
    with opener(path, "wt") as out:
        out.write(fasta_text(records, description=description))
    return path


def read_fasta(text: str) -> dict[str, str]:
    records = {}
    for chunk in text.split(">")[1:]:
        header, _, body = chunk.partition("\n")
        records[header.split()[0]] = "".join(body.split())
    return records


def make_batch_locus(folder: Path, stem: str, fault: str = "") -> tuple[Path, Path]:
    proteins = dict(PROTEINS)
    cds = {name: cds_of(row) for name, row in proteins.items()}
    if fault == "report":
        cds["beta"] = cds["beta"].replace(CODON["F"], CODON["W"])
    if fault == "missing":
        del cds["delta"]
    if fault == "unpaired":  # no CDS pairs: the locus fails
        cds = {f"x{name}": row for name, row in cds.items()}
    (folder / "pep").mkdir(exist_ok=True)
    (folder / "cds").mkdir(exist_ok=True)
    return (write_fasta(folder / "pep" / f"{stem}.fasta", proteins),
            write_fasta(folder / "cds" / f"{stem}.fna", cds))


def cli_command() -> list[str]:
    """The installed script beside this interpreter, else the package run as a module."""
    script = Path(sys.executable).with_name("ntpepmap")
    return [str(script)] if script.exists() else [sys.executable, "-m", "ntpepmap_cli"]


def under_address_sanitizer() -> bool:
    """Whether this process runs with ASan's runtime (its shadow memory is terabytes of
    address space, and its quarantine holds freed memory back)."""
    with open("/proc/self/maps") as maps:
        return "libasan" in maps.read()


def search_path() -> str:
    own = [str(Path(ntpepmap.__file__).resolve().parent),
           str(Path(ntpepmap_cli.__file__).resolve().parent.parent)]
    inherited = os.environ.get("PYTHONPATH", "")
    return os.pathsep.join(own + ([inherited] if inherited else []))


def run_cli(*args, cwd=None, stdin: str | None = None) -> subprocess.CompletedProcess:
    env = dict(os.environ, PYTHONPATH=search_path())
    return subprocess.run(cli_command() + [str(arg) for arg in args], input=stdin,
                          capture_output=True, text=True, cwd=cwd, env=env, timeout=120)


SUMMARY = re.compile(r"^ntpepmap: (\d+) records? written, (\d+) codons? masked, (\d+) kept, "
                     r"(\d+) located, (\d+) padded, (\d+) left out(?:[,;] .*)?$")


def summary_of(stderr: str) -> dict[str, int]:
    """The counts of the summary line, which must be the last line."""
    found = SUMMARY.match(stderr.splitlines()[-1])
    assert found, stderr
    return dict(zip(("written", "masked", "kept", "located", "padded", "left_out"),
                    map(int, found.groups())))


def summary_counts(stderr: str) -> tuple[int, int, int]:
    """Loci done, changed and failed, from the batch's summary: its last line."""
    found = re.search(r"(\d+) loci done, (\d+) with records padded or left out, (\d+) failed; .*; [\d.]+ s elapsed$",
                      stderr.splitlines()[-1])
    assert found, stderr
    return tuple(int(n) for n in found.groups())


ENGINE_DEFAULTS = dict(code=1, mismatch="mask", frameshifts="mask", upper_case=False,
                       resolve_ambiguity=False,
                       t_for_u=False, keep_reports=False, locate=False, both_strands=False,
                       trim_stop=False, terminal_stops=(), keep_short=False, stops="keep",
                       fasta_text=False, wrap=0, threads=0, note_resolved=False)


def engine_settings(**changes):
    """The settings the engine reads by name: its defaults, with changes."""
    unknown = set(changes) - set(ENGINE_DEFAULTS)
    assert not unknown, f"not an engine setting: {unknown}"
    return SimpleNamespace(**{**ENGINE_DEFAULTS, **changes})


def locus_sets(pairs):
    """translate_locus's proteins, cds and cds_of for (name, row, CDS) triples."""
    return (_native.RecordSet.from_records([(name, row) for name, row, _ in pairs]),
            _native.RecordSet.from_records([(name, cds) for name, _, cds in pairs]), list(range(len(pairs))))


def translate(pairs, stem="stem", **settings):
    """The engine's result for (name, row, CDS) triples."""
    return _native.translate_locus(stem, engine_settings(**settings), *locus_sets(pairs))


def read_phylip(text: str) -> dict[str, str]:
    header, *lines = text.splitlines()
    ntax, nchar = map(int, header.split())
    records = dict(line.split() for line in lines)
    assert len(records) == ntax and all(len(row) == nchar for row in records.values())
    return records


def read_paml(text: str) -> dict[str, str]:
    """As codeml reads sequential files: a name, then sequence lines until nchar letters."""
    lines = [line for line in text.splitlines() if line.strip()]
    ntax, nchar = map(int, lines[0].split())
    records, rest = {}, iter(lines[1:])
    for name in rest:
        seq = ""
        while len(seq) < nchar:
            seq += "".join(next(rest).split())
        records[name.strip()] = seq
    assert len(records) == ntax and all(len(row) == nchar for row in records.values())
    return records
