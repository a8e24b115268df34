"""One chunk of the workflow: `ntpepmap batch` over the chunk's loci, and the fate of each.

Run by Snakemake's script directive, which supplies the `snakemake` object. The
batch's status table (--status) says what became of every locus; the chunk keeps
it, each locus named as the workflow's manifest writes its output; what the batch
wrote to its console is kept for people to read (the log, and a file beside the
table that outlives a retry), never read for a locus's fate. The job
succeeds when every locus was written. A retry of a chunk whose batch ran to its
end fails at once: its loci failed on their inputs, and would fail again; only a
chunk that was interrupted or killed runs again.
"""

import os
import shlex
import subprocess
import sys

from ntpepmap_cli.outputs.status_table import COLUMNS, FAILED, INTERRUPTED, NOT_WRITTEN

LOCUS, FATE, MESSAGE = COLUMNS.index("locus"), COLUMNS.index("fate"), COLUMNS.index("message")


def write_atomically(path, lines):
    temporary = f"{path}.{os.getpid()}.tmp"
    with open(temporary, "w", encoding="utf-8", errors="surrogateescape") as file:
        file.writelines(lines)
    os.replace(temporary, path)


def remove(path):
    try:
        os.remove(path)
    except FileNotFoundError:
        pass


def read_status(path):
    """The status table's rows, split in fields; None if the batch left none."""
    try:
        with open(path, encoding="utf-8", errors="surrogateescape") as table:
            return [line.rstrip("\n").split("\t") for line in table][1:]
    except FileNotFoundError:
        return None


def write_sub_manifest(path, loci):
    """The chunk's loci, absolute paths, so that the manifest may live anywhere; no CDS
    column when the loci share the batch's CDS files."""
    write_atomically(path, ["# protein alignment\tCDS\toutput\tkept columns\n"] + [
        "\t".join(os.path.abspath(part) for part in paths if part) + "\n"
        for _, *paths in loci])


def rows_without_status(loci, returncode, console):
    """Each locus's row when the batch wrote no table: it could not run, or was killed.
    Why is in its console output, pointed at rather than read: the status table is the
    batch's one word that a program reads."""
    if returncode == 2:
        fate, message = FAILED, f"ntpepmap batch could not run (exit status 2; see {console})"
    else:
        fate, message = INTERRUPTED, f"ntpepmap batch stopped (exit status {returncode})"
    counts = ["0"] * (len(COLUMNS) - 4)
    return [[key, out, fate, *counts, message] for key, _, _, out, *_ in loci]


def keyed(rows, loci):
    """The rows named as the workflow's manifest writes each output, not by absolute path."""
    key_of = {os.path.abspath(out): key for key, _, _, out, *_ in loci}
    for row in rows:
        row[LOCUS] = key_of.get(row[LOCUS], row[LOCUS])
    return rows


def verdict(chunk, rows, returncode):
    """The log's last lines: counts, then each locus not written, with its message."""
    failed = [row for row in rows if row[FATE] in NOT_WRITTEN]
    lines = [f"chunk {chunk}: {len(rows)} loci, {len(rows) - len(failed)} written, "
             f"{len(failed)} failed; " + (f"ntpepmap batch exited {returncode}" if returncode
                                          is not None else "not retried: its batch ran to its "
                                          "end last time, so its loci failed on their inputs")]
    if returncode not in (0, 1, None):
        lines.append("the batch failed as a whole (exit 2: it could not run; other: interrupted)")
    if failed:
        lines.append("failed loci (no alignment written by this run):")
        lines += [f"  {row[LOCUS]}: {row[MESSAGE] or row[FATE]}"
                  for row in failed]
    return lines, bool(failed) or returncode not in (0, 1)


def tell(job, lines, failed, output=""):
    """Writes the log; fails the job, saying why, or writes its stamp."""
    with open(job.log[0], "w", encoding="utf-8", errors="surrogateescape") as log:
        log.write(output + "".join(line + "\n" for line in lines))
    if failed:
        sys.stderr.write("".join(line + "\n" for line in lines))
        sys.exit(1)
    write_stamp(job.output[0], lines[0])


def failed_on_its_inputs(rows):
    """Whether the batch ran to its end and failed some locus: running it again would
    fail it again."""
    fates = {row[FATE] for row in rows or ()}
    return FAILED in fates and INTERRUPTED not in fates


def main(job):
    loci, status = job.params.loci, job.params.status
    if job.params.redo and all(os.path.exists(out) for _, _, _, out, *_ in loci):
        write_stamp(job.output[0], "nothing missing: the chunk ran again before")
        return
    rows = read_status(status)
    if job.resources.attempt > 1 and failed_on_its_inputs(rows):
        tell(job, *verdict(job.wildcards.chunk, rows, None))
        return
    remove(status)
    if not job.params.redo:  # the summary, made again after the chunk, stands for a complete run
        remove(job.params.summary)
    write_sub_manifest(job.params.manifest, loci)
    command = [sys.executable, "-m", "ntpepmap_cli", "batch", job.params.manifest,
               *job.params.options, "-j", str(job.threads), "--status", status]
    with open(job.params.console, "w") as console:
        batch = subprocess.run(command, stdin=subprocess.DEVNULL, stdout=console,
                               stderr=subprocess.STDOUT)
    with open(job.params.console, encoding="utf-8", errors="replace") as console:
        said = console.read()
    rows = read_status(status) or rows_without_status(loci, batch.returncode, job.params.console)
    rows = keyed(rows, loci)
    write_atomically(status, ["\t".join(COLUMNS) + "\n"] + ["\t".join(row) + "\n" for row in rows])
    tell(job, *verdict(job.wildcards.chunk, rows, batch.returncode),
         f"$ {shlex.join(command)}\n{said}")


def write_stamp(path, text):
    with open(path, "w", encoding="utf-8") as stamp:
        stamp.write(text + "\n")


main(snakemake)  # noqa: F821 - supplied by Snakemake's script directive
