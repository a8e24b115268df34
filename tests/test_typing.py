"""The ntpepmap-stubs package and ntpepmap_cli's inline types as type checkers see them:
correct calls pass, wrong ones are caught."""

from __future__ import annotations

import os
import re
import shutil
import site
import subprocess
import sys
from pathlib import Path

import pytest

SOURCE_STUBS = Path(__file__).resolve().parent.parent / "python"

GOOD = """\
from typing import TYPE_CHECKING, Optional

import ntpepmap

if TYPE_CHECKING:
    from ntpepmap import GeneTable, OriginalArgsSeqs, Seqs

seqs: "Seqs" = {"r1": (("h", "M-K"), (0, "h", "ATGAAA"))}
codons: str = ntpepmap.pepthread("stem", 1, seqs)
by_keyword: str = ntpepmap.pepthread(file_steem="s", table_num=11, seqs={})
table: "GeneTable" = {"M": ["ATG"], "K": ("AAA", "AAG")}
plain: "OriginalArgsSeqs" = {"r1": (("h", "M-K"), ("h", "ATGAAA"))}
custom: str = ntpepmap.pepthread_original_args("stem", table, plain)
listed: dict[str, list[str]] = {"M": ["ATG"]}
also: str = ntpepmap.pepthread_original_args("stem", listed, {})
match: Optional[str] = ntpepmap.attempt_iupac_substitution("ATN", ("ATG", "ATA"))
names: list[str] = ntpepmap.__all__
"""

BAD = """\
import ntpepmap

ntpepmap.pepthread("stem", "1", {})  # E
ntpepmap.pepthread("stem", 1, {"r1": (("h", "M-K"), ("h", "ATGAAA"))})  # E
ntpepmap.pepthread_original_args("s", {"M": ["ATG"]}, {"r": (("h", "M"), (0, "h", "ATG"))})  # E
ntpepmap.pepthread_original_args("s", {1: ["ATG"]}, {})  # E
ntpepmap.pepthread("stem", 1)  # E
ntpepmap.pepthread("stem", 1, {}, table=1)  # E
surely_str: str = ntpepmap.attempt_iupac_substitution("ATN", ["ATG"])  # E
count: int = ntpepmap.pepthread("stem", 1, {})  # E
"""

API_GOOD = """\
from pathlib import Path
from typing import Dict, List, Optional, Tuple

from Bio.Align import MultipleSeqAlignment

import ntpepmap_cli
from ntpepmap_cli import CodonAlignment, codon_align

alignment: CodonAlignment = codon_align({"a": "MK"}, {"a": "ATGAAA"}, table=11, mismatch="keep")
files = codon_align("p.fa", Path("c.fa.gz"), gene_table={"M": ["ATG"]}, id_map="ids.tsv",
                    locate=False, both_strands=True, upper_case=True, resolve_ambiguity=True)
every = codon_align("p.aln", "c.fa", in_format="clustal", trim_stop=False, t_for_u=True,
                    keep_short=True, strict=True, blocks=True, letter_case="upper",
                    drop_gap_columns=True, frameshifts="drop", stops="mask")
rows: List[Tuple[str, str]] = list(alignment)
by_name: Dict[str, str] = alignment.as_dict()
msa: MultipleSeqAlignment = alignment.to_biopython()
again: CodonAlignment = ntpepmap_cli.codon_align(msa, list(msa), pair_by_order=True)
column: Optional[int] = alignment.problems[0].column
"""

API_BAD = """\
from ntpepmap_cli import codon_align

codon_align({"a": "MK"}, {"a": "ATGAAA"}, 11)  # E
codon_align(42, {"a": "ATGAAA"}, table="11")  # E
codon_align({}, {}, out_format="phylip")  # E
rows: dict[str, str] = codon_align({}, {})  # E
name: int = codon_align({}, {}).problems[0].record  # E
"""

# What each checked example is about: the module's stubs, or the tool's inline types.
EXAMPLES = {"module": (GOOD, BAD), "api": (API_GOOD, API_BAD)}


def stubs_installed() -> bool:
    return any((Path(folder) / "ntpepmap-stubs" / "__init__.pyi").is_file()
               for folder in site.getsitepackages())


def stub_search_path() -> str:
    """Checkers look for stub packages on the interpreter's path: site-packages
    when the wheel is installed (the case that matters to users), else the
    source tree's python/ folder."""
    inherited = os.environ.get("PYTHONPATH", "")
    own = [] if stubs_installed() else [str(SOURCE_STUBS)]
    return os.pathsep.join(own + ([inherited] if inherited else []))


def pyright_command() -> list[str] | None:
    for name in ("pyright", "basedpyright"):
        found = shutil.which(name) or shutil.which(name, path=str(Path(sys.executable).parent))
        if found:
            return [found, "--level", "error", "--pythonpath", sys.executable]
    return None


CHECKERS = {
    "mypy": ([sys.executable, "-m", "mypy", "--strict", "--no-incremental",
              "--cache-dir", os.devnull], r"^(\w+\.py):(\d+): error:"),
    "pyright": (pyright_command(), r"(\w+\.py):(\d+):\d+ - error:"),
}


def error_lines(checker: str, folder: Path) -> dict[str, set[int]]:
    """Line numbers with errors, per file name."""
    command, pattern = CHECKERS[checker]
    if command is None:
        pytest.skip(f"{checker} is not installed")
    if checker == "mypy":
        pytest.importorskip("mypy")
    env = dict(os.environ, PYTHONPATH=stub_search_path())
    done = subprocess.run(command + ["good.py", "bad.py"], cwd=folder, capture_output=True,
                          text=True, env=env, timeout=300)
    assert "could not be resolved" not in done.stdout, done.stdout
    assert "Cannot find implementation or library stub" not in done.stdout, done.stdout
    errors: dict[str, set[int]] = {"good.py": set(), "bad.py": set()}
    for name, line in re.findall(pattern, done.stdout, re.MULTILINE):
        errors[name].add(int(line))
    return errors


@pytest.mark.parametrize("example", sorted(EXAMPLES))
@pytest.mark.parametrize("checker", sorted(CHECKERS))
def test_checker_accepts_correct_calls_and_flags_wrong_ones(tmp_path, checker, example):
    good, bad = EXAMPLES[example]
    (tmp_path / "good.py").write_text(good)
    (tmp_path / "bad.py").write_text(bad)
    marked = {number for number, line in enumerate(bad.splitlines(), 1) if line.endswith("# E")}
    assert error_lines(checker, tmp_path) == {"good.py": set(), "bad.py": marked}


def test_stub_signatures_match_the_module():
    """Parameter names in the stubs are the module's keyword names."""
    import ntpepmap

    stub = (SOURCE_STUBS / "ntpepmap-stubs" / "__init__.pyi").read_text()
    for name, params in {"pepthread": ["file_steem", "table_num", "seqs"],
                         "pepthread_original_args": ["file_steem", "gene_table", "seqs"],
                         "attempt_iupac_substitution": ["original_triplet", "taxa"]}.items():
        declared = re.search(rf"def {name}\(([^)]*)\)", stub).group(1)
        assert [part.split(":")[0].strip() for part in declared.split(",")] == params
        assert name in ntpepmap.__all__
        with pytest.raises(TypeError, match="missing 1 required positional argument"):
            getattr(ntpepmap, name)(**dict.fromkeys(params[:-1], None))
