"""Where the main process's time goes as a batch reads its shared CDS files (--cds): the
steps of pairing/shared_cds.read_cds_source, each timed in CPU milliseconds, the median
of the rounds, in this one process.

    .venv/bin/python benchmarks/shared_cds_steps.py FILE... [--repeat 7]

The files are those given to --cds (bench_shared_cds.py --data DIR writes 8 species'
files, plain and gzip).
"""

from __future__ import annotations

import argparse
import os
import statistics
import time

from ntpepmap_cli.pairing.header_rules import CdsLookup
from ntpepmap_cli.pairing.identifiers import NUCLEOTIDE_LETTERS, check_nucleotide
from ntpepmap_cli.reading.input_files import read_records

STEPS = ("read (native)", "check", "identifiers", "test for repeats", "index", "lookup")


def one_round(paths: list[str]) -> dict[str, float]:
    """read_cds_source's steps, as it takes them."""
    spent = dict.fromkeys(STEPS, 0.0)
    clock = [time.process_time()]

    def lap(step: str) -> None:
        now = time.process_time()
        spent[step] += now - clock[0]
        clock[0] = now

    records = None
    index_of: dict[str, int] = {}
    sizes = [os.stat(path).st_size for path in paths]
    for number, path in enumerate(paths):
        before = len(records) if records is not None else 0
        reading = read_records(path, "fasta", NUCLEOTIDE_LETTERS, into=records,
                               room=sum(sizes[number:]))
        records = reading.records
        lap("read (native)")
        check_nucleotide(records, path, marked=[index for index in reading.marked if index >= before])
        lap("check")
        idents = records.identifiers(before) if before else records.identifiers()
        lap("identifiers")
        assert not index_of.keys() & set(idents)
        lap("test for repeats")
        index_of.update((ident, before + index) for index, ident in enumerate(idents))
        lap("index")
    assert records is not None
    CdsLookup(records, index_of)
    lap("lookup")
    return spent


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("paths", nargs="+")
    parser.add_argument("--repeat", type=int, default=7)
    args = parser.parse_args()
    rounds = [one_round(args.paths) for _ in range(args.repeat)]
    print("| step | CPU ms |\n|---|---|")
    for step in STEPS:
        print(f"| {step} | {1000 * statistics.median(r[step] for r in rounds):.1f} |")
    print(f"| total | {1000 * statistics.median(sum(r.values()) for r in rounds):.1f} |")


if __name__ == "__main__":
    main()
