"""Each option of the table means one thing everywhere: in both commands' parsers, in the
workflow's config, in LocusOptions and the engine's settings, and as codon_align's
keyword, whose value gives the rows (or the refusal) that the command's flag gives."""

from __future__ import annotations

import inspect
import json
import re

import pytest

from helpers import ENGINE_DEFAULTS, make_batch_locus, read_fasta, run_cli
from ntpepmap_cli import InputError, codon_align
from ntpepmap_cli.api import _keywords_for_flags
from ntpepmap_cli.batch.run import batch_parser
from ntpepmap_cli.command.main import single_parser
from ntpepmap_cli.locus.engine_settings import EngineSettings
from ntpepmap_cli.job import LocusOptions
from ntpepmap_cli.option_table import (BATCH, BESIDE, OPTIONS, OUT_FILE, SINGLE, config_flags,
                                       engine_value)

# A small locus where most options change the rows: a CLUSTAL alignment with a line of
# '#' under its block, a stop under '*', a gap column; CDS in their own case, with a U,
# an ambiguity code, a final stop codon, a codon that does not encode its residue, a
# nucleotide too many (a frameshift), too few nucleotides.
ALIGNMENT = """\
CLUSTAL W

human           MK-LW*
mouse           MKRLW-
frog            MK-LF-
dog             MKRLW-
cat             MKRLW-
                ## ##
"""
CDS = {"human": "ATGaagCTTTGGTAA", "mouse": "AUGAAAAGACTGTTC", "frog": "ATGAARCTGTTTTGA",
       "dog": "ATGAAAAGAACTGTGG", "cat": "ATGAAAAGACTG"}
GENE_TABLE = {"M": ["ATG"], "K": ["AAA", "AAG"], "R": ["AGA"], "L": ["CTT", "CTG"],
              "W": ["TGG", "TTC"], "F": ["TTT"], "*": ["TAA", "TAG", "TGA"]}

# A value other than the default for each option; {dir} is the test's folder.
SAMPLES = {
    "table": 2, "gene_table": "{dir}/code.json", "in_format": "clustal", "out_format": "phylip",
    "wrap": 4, "drop_gap_columns": True, "pair_by_order": True, "id_map": "{dir}/ids.tsv",
    "id_pattern": r"^(\S+)", "trim_stop": False, "locate": False, "both_strands": True,
    "kept_columns": "{dir}/kept.txt", "blocks": True, "letter_case": "upper",
    "resolve_ambiguity": True, "t_for_u": True, "mismatch": "keep", "frameshifts": "drop",
    "stops": "mask", "strict": True, "keep_short": True, "quiet": True,
    "report": "{dir}/report.txt", "partitions": "{dir}/parts", "rename": "{dir}/names.tsv",
    "html": "{dir}/page.html",
    "threads": 2,
}


@pytest.fixture(scope="module")
def locus(tmp_path_factory):
    folder = tmp_path_factory.mktemp("locus")
    (folder / "pep.aln").write_text(ALIGNMENT)
    (folder / "cds.fa").write_text("".join(f">{name}\n{seq}\n" for name, seq in CDS.items()))
    (folder / "code.json").write_text(json.dumps(GENE_TABLE))
    (folder / "ids.tsv").write_text("".join(f"{name}\t{name}\n" for name in CDS))
    (folder / "kept.txt").write_text("1-2,4\n")
    return folder


def sample(name: str, folder) -> object:
    value = SAMPLES[name]
    return value.format(dir=folder) if isinstance(value, str) and "{dir}" in value else value


def parsed(command: str, flags: list[str]):
    parser, inputs = (single_parser(), ["p.aln", "c.fa"]) if command == SINGLE else \
        (batch_parser(), ["m.tsv"])
    return parser.parse_args(inputs + flags)


def test_every_option_has_a_sample_and_every_field_a_type():
    assert set(SAMPLES) == {option.name for option in OPTIONS}
    fields = [option.field for option in OPTIONS if option.field]
    assert list(LocusOptions.__annotations__) == fields == list(LocusOptions.__slots__)
    assert set(EngineSettings.__slots__) == set(ENGINE_DEFAULTS)


def command_flags(option, value) -> list[str]:
    """The flags that give an option this value: those the workflow's config gives, where
    it has a key."""
    if option.config:
        return config_flags({option.config: value})
    return [option.flags[-1], str(value)]


@pytest.mark.parametrize("option", OPTIONS, ids=lambda option: option.name)
def test_each_option_means_one_thing_everywhere(option, locus, tmp_path):
    value = sample(option.name, locus)
    flags = command_flags(option, value)
    for command in (SINGLE, BATCH):
        defaults = parsed(command, [])
        assert hasattr(defaults, option.name) == (command in option.commands)
        if command in option.commands:
            assert getattr(defaults, option.name) == option.default
            assert getattr(parsed(command, flags), option.name) == value
    if option.per_locus and option.kind == OUT_FILE and option.config:  # true: beside each
        assert getattr(parsed(BATCH, config_flags({option.config: True})), option.name) == BESIDE
    signature = inspect.signature(codon_align).parameters
    assert (option.name in signature) == (option.api is not None)
    if option.field and option.engine not in (None, "code"):
        options = LocusOptions(**{option.field: True if option.kind == OUT_FILE else value})
        assert getattr(EngineSettings(options), option.engine) == engine_value(
            option, getattr(options, option.field))
    if option.api:
        assert signature[option.api].default == option.default
        same_rows_from_flag_and_keyword(option.api, value, flags, locus, tmp_path)


def same_rows_from_flag_and_keyword(keyword, value, flags, locus, tmp_path):
    out = tmp_path / "out.fasta"
    done = run_cli(locus / "pep.aln", locus / "cds.fa", "-o", out, *flags)
    try:
        alignment = codon_align(str(locus / "pep.aln"), str(locus / "cds.fa"), **{keyword: value})
    except InputError as error:
        assert done.returncode == 2 and f"error: {error}\n" in _keywords_for_flags(done.stderr)
        return
    assert done.returncode in (0, 1), done.stderr
    assert read_fasta(out.read_text()) == alignment.as_dict()


@pytest.mark.parametrize("partitions, rename, written", [
    (["--partitions", "{dir}/parts"], ["--rename"], ["parts/a.partitions", "out/a.fasta.names.tsv"]),
    (["--partitions"], ["--rename", "{dir}/names"], ["out/b.fasta.partitions", "names/b.names.tsv"]),
    (["--partitions", "{dir}/pep/a.fasta"], [], None),  # a file, not a folder: refused
], ids=["folder and beside", "beside and folder", "file"])
def test_a_batch_writes_each_locus_file_into_the_folder_given_or_beside_its_output(
        tmp_path, partitions, rename, written):
    for stem in "ab":
        make_batch_locus(tmp_path, stem)
    flags = [flag.format(dir=tmp_path) for flag in partitions + rename]
    done = run_cli("batch", tmp_path / "pep", tmp_path / "cds", "-O", tmp_path / "out", *flags)
    if written is None:
        assert done.returncode == 2 and "not a folder" in done.stderr
        return
    assert done.returncode == 0, done.stderr
    assert all((tmp_path / path).is_file() for path in written)
    single = tmp_path / "single.partitions"  # the loci are alike: as one locus writes it
    assert run_cli(tmp_path / "pep" / "a.fasta", tmp_path / "cds" / "a.fna", "-o",
                   tmp_path / "a.fasta", "--partitions", single).returncode == 0
    assert (tmp_path / written[0]).read_text() == single.read_text()


@pytest.mark.parametrize("page, command", [(["--help"], SINGLE), (["batch", "--help"], BATCH),
                                           (["help", "batch"], BATCH)])
def test_each_option_is_told_once_by_its_command_or_by_help_options(page, command):
    """A command's --help tells its own options; what both share, 'ntpepmap help options'."""
    own, shared = run_cli(*page), run_cli("help", "options")
    assert own.returncode == shared.returncode == 0
    for option in OPTIONS:
        if command not in option.commands:
            continue
        listed = re.compile(rf"^  (?:-\w( \w+)?, )?{re.escape(option.flags[-1])}\b", re.M)
        told = [len(listed.findall(text)) for text in (own.stdout, shared.stdout)]
        assert sorted(told) == [0, 1] and (told[1] == 1) == (option.commands == (SINGLE, BATCH) and
                                                             option.per_locus is None), (option, told)
    assert "ntpepmap help options" in own.stdout and len(own.stdout.splitlines()) < 100  # from 170
