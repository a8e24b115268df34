"""One chunk of the workflow: `ntpepmap batch` over the chunk's loci, then a check of what it wrote.

Run by Snakemake's script directive, which supplies the `snakemake` object. The job
succeeds when the batch exits 0 or 1 (records padded or left out are told, not failures) and every
locus's alignment was written by this run; an alignment left from an earlier run
does not count, since the batch keeps the old file when a locus fails.
"""

import os
import shlex
import subprocess
import sys

PREFIX = "ntpepmap: "
ERROR = "error: "
SUMMARY_COLUMNS = ("locus", "status", "messages", "first_message")


def file_identity(path):
    """What changes when the file is written again, in place or by rename; None if absent."""
    try:
        info = os.stat(path)
    except FileNotFoundError:
        return None
    return info.st_dev, info.st_ino, info.st_mtime_ns, info.st_size


def write_sub_manifest(path, loci):
    """The chunk's loci, absolute paths, so that the manifest may live anywhere; no CDS
    column when the loci share the batch's CDS files."""
    with open(path, "w", encoding="utf-8", errors="surrogateescape") as manifest:
        manifest.write("# protein alignment\tCDS\toutput\n")
        for _, *paths in loci:
            manifest.write("\t".join(os.path.abspath(part) for part in paths if part) + "\n")


def messages_by_locus(output, loci):
    """The batch's lines for each locus: those that start with one of its files' paths."""
    owner = {os.path.abspath(path): index
             for index, (_, *paths) in enumerate(loci) for path in paths if path}
    found = [[] for _ in loci]
    for line in output.splitlines():
        text = line.removeprefix(PREFIX).removeprefix(ERROR)
        colon = text.find(": ")
        while colon > 0:
            index = owner.get(text[:colon])
            if index is not None:
                found[index].append(line)
                break
            colon = text.find(": ", colon + 1)
    return found


def first_message(lines):
    return lines[0].removeprefix(PREFIX) if lines else ""


def write_summary(path, loci, written, messages):
    with open(path, "w", encoding="utf-8", errors="surrogateescape") as summary:
        summary.write("\t".join(SUMMARY_COLUMNS) + "\n")
        for (key, *_), done, lines in zip(loci, written, messages):
            row = (key, "written" if done else "failed", str(len(lines)), first_message(lines))
            summary.write("\t".join(field.replace("\t", " ") for field in row) + "\n")


def verdict(chunk, loci, written, messages, status):
    """The log's last lines: counts, then each locus not written, with its first message."""
    failed = [(key, lines) for (key, *_), done, lines in zip(loci, written, messages) if not done]
    lines = [f"chunk {chunk}: {len(loci)} loci, {len(loci) - len(failed)} written, "
             f"{len(failed)} failed; ntpepmap batch exited {status}"]
    if status not in (0, 1):
        lines.append("the batch failed as a whole (exit 2: it could not run; other: interrupted)")
    if failed:
        lines.append("failed loci (no alignment written by this run):")
        lines += [f"  {key}: {first_message(found) or 'no message'}" for key, found in failed]
    return lines, bool(failed) or status not in (0, 1)


def main(job):
    loci = job.params.loci
    write_sub_manifest(job.log.manifest, loci)
    before = [file_identity(out) for *_, out in loci]
    command = [sys.executable, "-m", "ntpepmap_cli", "batch", job.log.manifest,
               *job.params.options, "-j", str(job.threads)]
    batch = subprocess.run(command, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                           stderr=subprocess.STDOUT, text=True, errors="replace")
    written = [file_identity(out) not in (None, old) for (*_, out), old in zip(loci, before)]
    messages = messages_by_locus(batch.stdout, loci)
    write_summary(job.log.summary, loci, written, messages)
    lines, failed = verdict(job.wildcards.chunk, loci, written, messages, batch.returncode)
    with open(job.log.log, "w", encoding="utf-8", errors="surrogateescape") as log:
        log.write(f"$ {shlex.join(command)}\n{batch.stdout}")
        log.write("".join(line + "\n" for line in lines))
    if failed:
        sys.stderr.write("".join(line + "\n" for line in lines))
        sys.exit(1)
    with open(job.output[0], "w", encoding="utf-8") as stamp:
        stamp.write(f"{len(loci)} loci written\n")


main(snakemake)  # noqa: F821 - supplied by Snakemake's script directive
