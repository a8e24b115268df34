"""Every option of a locus run, each defined once: its flags, default, choices and help; its
keyword in codon_align, its key in the workflow's config, its field in LocusOptions, the
name the engine reads it by, and the commands that have it.

The two commands' parsers, LocusOptions, EngineSettings, codon_align's checks and the
Snakefile's config keys are all made from this table. Plain classes and tuples: typing
or dataclasses would cost every run more start-up time than a small locus's work.
"""

from __future__ import annotations

from ._native import CHOICES

TYPE_CHECKING = False
if TYPE_CHECKING:
    from collections.abc import Mapping

# The kinds of option, by what their flags do.
SWITCH = "switch"          # --flag sets True (default False)
NEGATED = "negated"        # --no-flag sets False (default True)
ON_OFF = "on/off"          # --flag and --no-flag (default True)
NUMBER = "number"          # an int
CHOICE = "choice"          # one of choices_of(name)
FLAG_CHOICE = "flag choice"  # one of choices_of(name), each set by a flag of its own
TEXT = "text"              # a str
IN_FILE = "input file"     # a file read (for a batch's per-locus files: a folder)
OUT_FILE = "output file"   # a file written (for a batch's per-locus files: a folder, or beside)

SINGLE, BATCH = "single", "batch"
BOTH = (SINGLE, BATCH)

# In a batch, a per-locus output option given without a folder: beside each output.
BESIDE = ""

_SAME = "="  # the option's own name


class Option:
    """One option, as every part of the tool knows it."""

    __slots__ = ("name", "kind", "flags", "help", "default", "metavar", "group", "exclusive",
                 "commands", "field", "api", "config", "engine", "least", "most", "per_locus")

    def __init__(self, name: str, kind: str, flags: tuple[str, ...], help: str | tuple[str, ...],
                 group: str, default: object = None, metavar: str | None = None,
                 exclusive: str | None = None, commands: tuple[str, ...] = BOTH,
                 field: str | None = _SAME, api: str | None = _SAME, config: str | None = _SAME,
                 engine: str | None = None, least: int | None = None,
                 most: int | None = None, per_locus: str | None = None) -> None:
        self.name = name
        self.kind = kind
        self.flags = flags  # FLAG_CHOICE: one flag per choice, in their order
        self.help = help    # FLAG_CHOICE: one help per flag
        self.group = group  # the --help section (GROUPS), "" for the command's own
        self.default = default
        self.metavar = metavar
        self.exclusive = exclusive  # options of one exclusive set: at most one given
        self.commands = commands
        self.field = name if field == _SAME else field      # LocusOptions' attribute
        self.api = name if api == _SAME else api            # codon_align's keyword
        self.config = name if config == _SAME else config    # the workflow's config key
        self.engine = engine  # the name the engine reads it by, None: not read by the engine
        self.least = least    # NUMBER: the smallest value taken
        self.most = most      # NUMBER: the largest (the engine reads it into a machine word)
        # A per-locus file: in a batch, the suffix of each locus's file in the folder given
        self.per_locus = per_locus

    def spelling(self) -> str:
        """How messages name the option on the command line."""
        return self.flags[-1]

    def __repr__(self) -> str:
        return f"Option({self.name!r})"


# The --help sections in order: title, and the words under it.
GROUPS = (
    ("genetic code", None),
    ("formats", None),
    ("preparation of the input", None),
    ("trimmed alignments",
     "Give the untrimmed protein alignment and the columns the trimmer kept: every\n"
     "codon is checked over the whole row, only the kept columns' codons are written."),
    ("letters of the codon alignment",
     "Codons are checked in upper case, with U read as T; the alignment carries\n"
     "the CDS's own letters (case, ambiguity letters, U) unless told otherwise."),
    ("reports and failures", None),
    ("files for the next programs",
     "For one locus each names a FILE; in a batch, a folder DIR where each locus's\n"
     "file is named after its output without extension (STEM.partitions,\n"
     "STEM.names.tsv), or, given without DIR, beside each output (OUT.partitions,\n"
     "OUT.names.tsv)."),
)

CODE, FORMATS, PREPARATION, TRIMMED, LETTERS, REPORTS, NEXT_PROGRAMS = (title for title, _ in GROUPS)

def choices_of(name: str) -> tuple[object, ...]:
    """The values an option takes; () where any of its kind. The policies' names are the
    engine's own."""
    if name in CHOICES:  # mismatch, frameshifts, stops: named by the engine, which parses them
        return CHOICES[name]
    if name == "letter_case":
        return ("keep", "upper")
    if name == "table":
        from .codes import CODES_BY_NUMBER
        return tuple(sorted(CODES_BY_NUMBER))
    if name == "in_format":
        from .reading.input_files import IN_FORMATS
        return IN_FORMATS
    if name == "out_format":
        from .outputs.formats import OUT_FORMATS
        return OUT_FORMATS
    return ()


OPTIONS = (
    Option("table", NUMBER, ("-t", "--table"), group=CODE, default=1, metavar="N",
           exclusive="code", field="table_num", engine="code",
           help="built-in genetic code by NCBI number (default 1; see 'ntpepmap tables')"),
    Option("gene_table", IN_FILE, ("--gene-table",), group=CODE, metavar="FILE",
           exclusive="code", engine="code",
           help="own genetic code: a JSON object of letter to codon list (codons of A, C, G, T "
                "or U in either case; '*' lists the stop codons)"),
    Option("in_format", CHOICE, ("--in-format",), group=FORMATS, default="auto",
           help="protein alignment format (default: detected from the first line)"),
    # Not given (None), each output's format is the one its name asks for, else FASTA.
    Option("out_format", CHOICE, ("--out-format",), group=FORMATS, default=None, api=None,
           help="fasta; phylip (relaxed, as RAxML-NG and IQ-TREE read it); paml (as codeml "
                "reads it, names of digits too); clustal; nexus (the codon positions as sets, "
                "as IQ-TREE and Biopython read them). Default: the output's name asks, "
                ".phy/.phylip, .nex/.nexus/.nxs, .aln/.clustal/.clw, .fa/.fasta/.fas/.fna/"
                ".ffn (a trailing .gz writes gzip), else fasta; given, it wins over the name, "
                "with a warning"),
    Option("wrap", NUMBER, ("--wrap",), group=FORMATS, default=0, metavar="N", api=None,
           engine="wrap", least=0, most=1 << 30,
           help="FASTA line width; 0 writes each sequence on one line (default 0)"),
    Option("drop_gap_columns", SWITCH, ("--drop-gap-columns",), group=FORMATS, default=False,
           help="leave out every codon column that has a gap in any row written (as codeml's "
                "cleandata wants it)"),
    Option("pair_by_order", SWITCH, ("--pair-by-order",), group=PREPARATION, default=False,
           exclusive="pairing",
           help="pair the n-th CDS with the n-th aligned record instead of by identifier"),
    Option("id_map", IN_FILE, ("--id-map",), group=PREPARATION, metavar="FILE",
           exclusive="pairing",
           help="pair through a file of two whitespace-separated columns, protein identifier "
                "then CDS identifier; unlisted protein identifiers pair by their own name"),
    Option("id_pattern", TEXT, ("--id-pattern",), group=PREPARATION, metavar="REGEX",
           exclusive="pairing",
           help="pair by what the pattern's one capture group finds in the whole header line "
                "of each protein and CDS record, and by nothing else. Without it, a protein "
                "whose identifier names no CDS is looked for in the CDS headers: NCBI's "
                "[protein_id=X] and lcl|..._cds_X_N, its Ensembl transcript:ENST... (with or "
                "without version), the accession of db|ACC|NAME"),
    Option("trim_stop", ON_OFF, ("--trim-stop",), group=PREPARATION, default=True,
           engine="trim_stop",
           help="drop a final stop codon of the chosen code when the CDS is exactly one codon "
                "longer than its residues (on by default; codes 27, 28 and 31 use the codons "
                "that end genes there)"),
    Option("locate", NEGATED, ("--no-locate",), group=PREPARATION, default=True,
           engine="locate",
           help="do not search a CDS for its coding region: by default, a CDS whose length "
                "fits neither the residues nor the residues and a stop codon (an mRNA with "
                "UTRs, a partial first codon), or where more than half of the codons fail, is "
                "searched in its three frames for the one stretch that encodes the protein (at "
                "most max(2, 2 %%) residues mismatched), which is then used as the CDS"),
    Option("both_strands", SWITCH, ("--both-strands",), group=PREPARATION, default=False,
           engine="both_strands", help="search the reverse complement too"),
    Option("kept_columns", IN_FILE, ("--kept-columns",), group=TRIMMED, metavar="FILE",
           exclusive="trimming", field=None, config=None, per_locus="",
           help="the kept columns, known by content: trimAl's -colnumbering output "
                "('#ColumnsMap' line, 0-based), ClipKIT's log (-l, one line per column) or a "
                "list such as 1-120,131,140-300 (1-based). In a batch: a folder DIR, each "
                "alignment's file named after it (a manifest names them in a 4th column)"),
    Option("blocks", SWITCH, ("--blocks",), group=TRIMMED, default=False, exclusive="trimming",
           help="keep the columns that a line of '#' marks under each block of a CLUSTAL "
                "alignment (as Gblocks writes and PAL2NAL's -blockonly reads)"),
    Option("letter_case", FLAG_CHOICE, ("--keep-case", "--upper-case"), group=LETTERS,
           default="keep", engine="upper_case",
           help=("write the CDS's letters in their own case (the default)",
                 "write every letter in upper case")),
    Option("resolve_ambiguity", SWITCH, ("--resolve-ambiguity",), group=LETTERS, default=False,
           engine="resolve_ambiguity",
           help="write an ambiguous triplet (AAR, YTG, ...) as the codon it was resolved to "
                "for its residue"),
    Option("t_for_u", SWITCH, ("--t-for-u",), group=LETTERS, default=False, engine="t_for_u",
           help="write RNA's U as T"),
    Option("mismatch", CHOICE, ("--mismatch",), group=LETTERS, default="mask",
           engine="mismatch",
           help="a triplet that does not encode its residue, or a residue the code lacks: mask "
                "writes NNN in the triplet's case, keep writes the triplet, drop leaves the "
                "record out (default mask). A record where more than half of the residues fail "
                "is left out as a wrong pairing."),
    Option("frameshifts", CHOICE, ("--frameshifts",), group=LETTERS, default="mask",
           engine="frameshifts",
           help="a CDS that fits its protein only with a nucleotide or two gained or lost (at "
                "most max(2, 1 %%) frameshifts): mask writes each codon a frameshift breaks as "
                "NNN and leaves extra nucleotides out, drop leaves the record out (default "
                "mask). A digit inside a protein row (PAL2NAL's notation) is always read as "
                "that many nucleotides that encode no residue."),
    Option("stops", CHOICE, ("--stops",), group=LETTERS, default="keep", engine="stops",
           help="a stop codon the protein carries as '*': keep writes it as in the CDS, with a "
                "note for each one inside the protein; mask writes NNN in its case, terminal "
                "ones too (HyPhy and IQ-TREE's codon models refuse stop codons); drop-columns "
                "leaves its column out of every row (default keep)"),
    Option("strict", SWITCH, ("--strict",), group=REPORTS, default=False,
           help="treat any problem as fatal: write nothing, exit 2"),
    Option("keep_short", SWITCH, ("--keep-short",), group=REPORTS, default=False,
           engine="keep_short",
           help="write records whose CDS runs out of nucleotides, with a codon row shorter "
                "than the alignment (FASTA output only)"),
    Option("quiet", SWITCH, ("-q", "--quiet"), group=REPORTS, default=False, field=None,
           api=None, help="no line per problem on standard error (errors and the summary stay)"),
    # The run's one report, a batch's too; LocusOptions only asks whether it is kept.
    Option("report", OUT_FILE, ("--report",), group=REPORTS, metavar="FILE",
           field="keep_reports", api=None, config=None, engine="keep_reports",
           help="write the back-translation's framed report of each record with a problem to "
                "{file} (in a batch too: one report of every locus)"),
    Option("partitions", OUT_FILE, ("--partitions",), group=NEXT_PROGRAMS, metavar="FILE",
           field=None, api=None, per_locus=".partitions",
           help="write to {file} the three codon positions as partitions, in RAxML-NG's form "
                "(DNA, codon1 = 1-N\\3), which IQ-TREE's -p reads too"),
    Option("rename", OUT_FILE, ("--rename",), group=NEXT_PROGRAMS, metavar="MAP", api=None,
           per_locus=".names.tsv",
           help="write names every tree program reads ([A-Za-z0-9_.-], unique, at most 30 "
                "characters; t0001... where nothing is left), and a tab-separated map of new "
                "name and original identifier (where identifiers repeat, the whole header line "
                "that tells them apart) to restore them to {file}"),
    # Not a workflow key: every chunk's batch would write its own DIR/index.html.
    Option("html", OUT_FILE, ("--html",), group=REPORTS, metavar="FILE", per_locus=".html",
           config=None, engine="note_resolved",
           help="write to {file} a page of the locus, self-contained, for a browser: its "
                "counts, a map of every record's codons coloured by what became of them "
                "(masked, frameshift, stop codon, gap, column trimmed away, record left out) "
                "and a table of its records and their problems (a batch given DIR writes "
                "DIR/index.html too, every locus on one page)"),
    # A batch runs each locus on one thread: its workers (-j) already share the CPUs.
    Option("threads", NUMBER, ("--threads",), group="", default=0, metavar="N",
           commands=(SINGLE,), config=None, engine="threads", least=0, most=1024,
           help="read and back-translate a large locus on at most N threads (default 0: one "
                "per CPU this process may use; 8 at most)"),
)

BY_NAME = {option.name: option for option in OPTIONS}


def out_of_range(option: Option, value: int) -> str | None:
    """What is wrong with a NUMBER option's value, or None where it is taken."""
    if (option.least is not None and value < option.least) or \
            (option.most is not None and value > option.most):
        if option.most is None:
            return f"must be {option.least} or more, not {value}"
        return f"must be {option.least} to {option.most}, not {value}"
    return None


def options_of(command: str) -> list[Option]:
    return [option for option in OPTIONS if command in option.commands]


def shared_by_both(option: Option) -> bool:
    """An option both commands take alike: 'ntpepmap help options' tells it, once, and each
    command's --help its own options alone (a batch's per-locus files are folders)."""
    return option.commands == BOTH and option.per_locus is None


def locus_fields() -> tuple[str, ...]:
    """LocusOptions' attributes, in the table's order."""
    return tuple(option.field for option in OPTIONS if option.field)


def locus_defaults() -> dict[str, object]:
    """What LocusOptions holds where nothing is said: the options' defaults, a file-valued
    option's field being whether one was given."""
    return {option.field: False if option.kind == OUT_FILE else option.default
            for option in OPTIONS if option.field}


def engine_options() -> list[Option]:
    """The options the engine reads one by one (not the code, which it reads as one)."""
    return [option for option in OPTIONS if option.engine and option.engine != "code"]


def engine_value(option: Option, value: object) -> object:
    """An option's value as the engine reads it: a case as whether it is upper."""
    return value == "upper" if option.kind == FLAG_CHOICE else value


def api_options() -> list[Option]:
    return [option for option in OPTIONS if option.api]


def flag_meanings() -> dict[str, str]:
    """Each flag of an option that codon_align takes, as its keyword is written there
    ('--no-locate': 'locate=False', '--mismatch': 'mismatch=')."""
    meanings: dict[str, str] = {}
    for option in api_options():
        keyword = option.api
        if option.kind in (SWITCH, ON_OFF):
            meanings[option.flags[-1]] = f"{keyword}=True"
        if option.kind in (NEGATED, ON_OFF):
            meanings["--no-" + option.flags[-1].lstrip("-").removeprefix("no-")] = \
                f"{keyword}=False"
        if option.kind == FLAG_CHOICE:
            meanings.update((flag, f"{keyword}={value!r}")
                            for flag, value in zip(option.flags, choices_of(option.name)))
        if option.kind in (NUMBER, CHOICE, TEXT, IN_FILE):
            meanings[option.flags[-1]] = f"{keyword}="
    return meanings


def config_flags(config: Mapping[str, object]) -> list[str]:
    """The `ntpepmap batch` options that a workflow's config sets, in the table's order:
    a switch by true or false (YAML's booleans, or their words on the command line), any
    other option by its value; a per-locus file by a folder, or true for beside each output."""
    flags: list[str] = []
    for option in options_of(BATCH):
        key = option.config or ""
        value = config.get(key) if key else None
        if value is None:
            continue
        if option.kind in (SWITCH, NEGATED, ON_OFF) or (option.per_locus and _is_switch(value)):
            flags += _switch_flags(option, _truth(key, value))
        elif option.kind == FLAG_CHOICE:
            flags.append(dict(zip(choices_of(option.name), option.flags)).get(
                value, f"{option.flags[0]}={value}"))  # not a choice: the parser says so
        else:
            flags += [option.flags[-1], str(value)]
    return flags


def _is_switch(value: object) -> bool:
    return isinstance(value, bool) or str(value).lower() in ("true", "false")


def _truth(key: str, value: object) -> bool:
    if isinstance(value, str) and value.lower() in ("true", "false"):
        value = value.lower() == "true"
    if not isinstance(value, bool):
        raise ValueError(f"config {key}={value!r}: expected true or false")
    return value


def _switch_flags(option: Option, on: bool) -> list[str]:
    flag = option.flags[-1]
    if option.kind == NEGATED:
        return [] if on else [flag]
    if option.kind == ON_OFF:
        return [flag if on else "--no-" + flag[2:]]
    return [flag] if on else []


def keyword_help() -> str:
    """codon_align's keywords, each with its default and the help of its option."""
    from textwrap import fill

    lines = ["Keywords (default; the command's option):"]
    for option in api_options():
        words = " / ".join(option.help) if isinstance(option.help, tuple) else option.help
        words = words.replace("{file}", "the file given")  # a file an option writes
        lines.append(fill(f"{option.api} ({option.default!r}; {' '.join(option.flags)}): "
                          f"{words.replace('%%', '%')}", 76, initial_indent="    ",
                          subsequent_indent="        "))
    return "\n".join(lines) + "\n"
