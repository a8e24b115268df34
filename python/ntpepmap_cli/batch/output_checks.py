"""A batch's outputs before any work: each one's format, from its name or --out-format;
none onto an input or another output; every folder and file able to take them."""

from __future__ import annotations

import os
import sys

from ..command.options import PROG
from ..command.safeguards import check_outputs, option_inputs
from ..errors import name_some
from ..outputs.writability import check_writable
from ..outputs.formats import output_format
from ..outputs.status_table import batch_page_path

TYPE_CHECKING = False
if TYPE_CHECKING:
    import argparse

    from .run import Loci


def set_output_formats(args: argparse.Namespace, parser: argparse.ArgumentParser,
                       loci: Loci) -> None:
    """Each locus's format: --out-format's, else the one its output's name asks for; one
    warning for the names --out-format overrides."""
    overridden = []
    for job in loci.jobs:
        job.out_format, named = output_format(job.out_path, args.out_format)
        if named is not None:
            overridden.append(job.out_path)
        if args.keep_short and job.out_format != "fasta":
            parser.error(f"--keep-short needs FASTA outputs: {job.out_path} is {job.out_format}; "
                         f"other formats need equal rows")
    if overridden:
        print(f"{PROG} batch: warning: written as {args.out_format} (--out-format) though "
              f"named otherwise: {name_some(overridden)}", file=sys.stderr)


def check_batch_outputs(args: argparse.Namespace, loci: Loci, writable: bool = True) -> None:
    """Refuses a batch whose outputs would overwrite an input, each other, or land in
    a folder read for inputs."""
    folder_mode = len(args.inputs) == 2 or os.path.isdir(args.inputs[0])
    inputs = [path for job in loci.jobs for path in (job.pep_path, job.cds_path) if path]
    inputs += args.cds or []
    inputs += [job.kept_path for job in loci.jobs if job.kept_path is not None]
    inputs += [outcome.job.pep_path for outcome in loci.unmatched] + option_inputs(args)
    outputs = [path for job in loci.jobs for path in (job.out_path, job.partitions_path,
                                                       job.names_path, job.html_path) if path]
    outputs += [path for path in (args.report, args.status, batch_page_path(args.html))
                if path and path != "-"]
    check_outputs(outputs, inputs if folder_mode else inputs + args.inputs,
                  listed_folders=[*args.inputs, *([args.kept_columns] if args.kept_columns else [])]
                  if folder_mode else ())
    if not writable:  # planning only (a dry run changes nothing): the batch tries them
        return
    # Before any work: a folder that cannot take the outputs would fail every locus.
    check_writable([path for path in (args.report, args.status, batch_page_path(args.html)) if path],
                   folders_of=outputs)
