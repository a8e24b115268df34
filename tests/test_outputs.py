"""Outputs under faults, as a user meets them: overwritten inputs, torn files, signals,
a full disk, closed or broken standard output."""

from __future__ import annotations

import os
import re
import resource
import signal
import stat
import subprocess
import time
from pathlib import Path

import pytest

from ntpepmap_cli.outputs.atomic_files import write_file
from helpers import (CODON, EXPECTED, PROTEINS, cds_of, cli_command, codon_row, fasta_text,
                     make_batch_locus, read_fasta,
                     run_cli, search_path, summary_counts, write_fasta)

OLD = "old content, kept whole\n"
ENV = dict(os.environ, PYTHONPATH=search_path())


def files_in(folder: Path) -> dict[str, bytes]:
    return {str(p.relative_to(folder)): p.read_bytes() for p in sorted(folder.rglob("*"))
            if p.is_file() and not p.is_symlink()}


def start(*args, **popen) -> subprocess.Popen:
    return subprocess.Popen(cli_command() + [str(a) for a in args], env=ENV, text=True,
                            stderr=subprocess.PIPE, **popen)


def one_line_error(stderr: str, pattern: str) -> None:
    assert re.fullmatch(rf"ntpepmap: error: [^\n]*{pattern}[^\n]*\n", stderr), stderr


# ---- refusals before any work --------------------------------------------------

@pytest.fixture
def single(tmp_path):
    pep = write_fasta(tmp_path / "pep.fa", PROTEINS)
    cds = write_fasta(tmp_path / "cds.fa", {name: cds_of(row) for name, row in PROTEINS.items()})
    (tmp_path / "code.json").write_text(json_code())
    (tmp_path / "ids.txt").write_text("".join(f"{name} {name}\n" for name in PROTEINS))
    (tmp_path / "link.fa").symlink_to(cds)
    os.link(cds, tmp_path / "hard.fa")
    return tmp_path


def json_code() -> str:
    return "{" + ", ".join(f'"{aa}": ["{codon}"]' for aa, codon in CODON.items()) + "}"


@pytest.mark.parametrize("args, redirected, pattern", [
    (["pep.fa", "cds.fa", "-o", "pep.fa"], None, "overwrite the input pep.fa"),
    (["pep.fa", "cds.fa", "-o", "link.fa"], None, "overwrite the input cds.fa"),
    (["pep.fa", "cds.fa", "-o", "hard.fa"], None, "overwrite the input cds.fa"),
    (["pep.fa", "cds.fa", "--report", "./sub/../cds.fa"], None, "overwrite the input cds.fa"),
    (["pep.fa", "cds.fa", "--gene-table", "code.json", "-o", "code.json"], None, "code.json"),
    (["pep.fa", "cds.fa", "--id-map", "ids.txt", "--report", "ids.txt"], None, "ids.txt"),
    (["-", "cds.fa", "-o", "pep.fa"], "stdin", "overwrite the input standard input"),
    (["pep.fa", "cds.fa", "-o", "new.fa", "--report", "./new.fa"], None, "same file as the output"),
    (["pep.fa", "cds.fa"], "stdout", "redirected onto the input pep.fa"),
])
def test_output_onto_an_input_is_refused_before_any_work(single, args, redirected, pattern):
    (single / "sub").mkdir()
    before = files_in(single)
    streams = {"stdin": subprocess.DEVNULL, "stdout": subprocess.PIPE}
    with open(single / "pep.fa", "a+") as pep:  # as '< pep.fa' or '>> pep.fa'
        if redirected:
            streams[redirected] = pep
        done = subprocess.run(cli_command() + args, cwd=single, env=ENV, text=True, timeout=60,
                              stderr=subprocess.PIPE, **streams)
    assert done.returncode == 2
    one_line_error(done.stderr, pattern)
    assert files_in(single) == before


@pytest.mark.parametrize("outputs, args, pattern", [
    (("a/x.fa", "./a/../a/x.fa"), ["m.tsv"], "same file as the output"),
    (("{tmp}/a/x.fa", "a/x.fa"), ["m.tsv"], "same file as the output"),
    (("a/x.fa", "cds/l1.fna"), ["m.tsv"], "overwrite the input"),
    (("a/x.fa", "a/y.fa"), ["m.tsv", "--report", "m.tsv"], "overwrite the input"),
    (("a/x.fa", "a/y.fa"), ["m.tsv", "--status", "./a/y.fa"], "same file as the output"),
    (("a/x.fa", "a/y.fa"), ["pep", "cds", "-O", "./cds"], "read for inputs"),
    (("a/x.fa", "a/y.fa"), ["pep", "cds", "-O", "pep/out"], "read for inputs"),
])
def test_batch_outputs_onto_inputs_or_each_other_are_refused(tmp_path, outputs, args, pattern):
    manifest = ""
    for stem, out in zip(("l1", "l2"), outputs):
        make_batch_locus(tmp_path, stem)
        manifest += f"pep/{stem}.fasta\tcds/{stem}.fna\t{out.format(tmp=tmp_path)}\n"
    (tmp_path / "m.tsv").write_text(manifest)
    before = files_in(tmp_path)
    done = run_cli("batch", *args, cwd=tmp_path)  # the manifest named by a relative path
    assert done.returncode == 2
    one_line_error(done.stderr, pattern)
    assert files_in(tmp_path) == before


@pytest.mark.parametrize("old_output, pattern", [
    ("hard link to cds/l07.fna", "overwrite the input cds/l07.fna"),
    ("symlink to pep/l03.fasta", "overwrite the input pep/l03.fasta"),
    ("plain file", None),
])
def test_a_full_output_folder_still_refuses_outputs_onto_inputs(tmp_path, old_output, pattern):
    """Enough loci that the output folder is listed rather than looked up per file."""
    for number in range(12):
        make_batch_locus(tmp_path, f"l{number:02}")
    out = tmp_path / "out"
    out.mkdir()
    for number in range(12):  # other files in the folder, inputs of nothing
        (out / f"old{number:02}.txt").write_text(OLD)
    kind, _, target = old_output.partition(" to ")
    if kind == "hard link":
        os.link(tmp_path / target, out / "l07.fasta")
    elif kind == "symlink":
        (out / "l03.fasta").symlink_to(tmp_path / target)
    else:
        (out / "l05.fasta").write_text(OLD)
    before = files_in(tmp_path)
    done = run_cli("batch", "pep", "cds", "-O", "out", cwd=tmp_path)
    if pattern is None:
        assert done.returncode == 0 and summary_counts(done.stderr) == (12, 0, 0)
        assert (out / "l05.fasta").read_text() != OLD
        return
    assert done.returncode == 2
    one_line_error(done.stderr, pattern)
    assert files_in(tmp_path) == before


# ---- the file written, or the old one kept ---------------------------------------

def limit_file_size(size: int):
    def limit() -> None:
        signal.signal(signal.SIGXFSZ, signal.SIG_IGN)  # a write past the limit fails instead
        resource.setrlimit(resource.RLIMIT_FSIZE, (size, size))
    return limit


@pytest.mark.parametrize("args, file_size_limit", [
    (["cds.fa", "-o", "old.txt"], 40),
    (["bad.fa", "--report", "old.txt"], 40),  # beta's report is too large even to capture
    (["bad.fa", "-o", "old.txt", "--strict"], None),
    (["reversed.fa", "-o", "old.txt", "--pair-by-order", "--mismatch", "drop"], None),  # all left out
])
def test_a_failed_run_leaves_the_old_output_whole(single, args, file_size_limit):
    cds = (single / "cds.fa").read_text()
    beta = cds_of(PROTEINS["beta"])
    (single / "bad.fa").write_text(cds.replace(beta, beta.replace(CODON["F"], CODON["W"])))
    (single / "reversed.fa").write_text(">" + ">".join(reversed(cds.split(">")[1:])))
    (single / "old.txt").write_text(OLD)
    done = subprocess.run(cli_command() + ["pep.fa", *args], cwd=single, env=ENV, text=True,
                          capture_output=True, timeout=60,
                          preexec_fn=file_size_limit and limit_file_size(file_size_limit))
    assert done.returncode == 2 and "Traceback" not in done.stderr
    assert (single / "old.txt").read_text() == OLD
    assert not [name for name in os.listdir(single) if name.endswith(".tmp")]


@pytest.mark.parametrize("old, umask, mode", [
    ("none", 0o027, 0o640),
    ("file 0604", 0o077, 0o604),
    ("link to a file elsewhere", 0o022, 0o600),
])
def test_the_new_file_takes_the_old_ones_place(single, old, umask, mode):
    elsewhere = single / "elsewhere"
    elsewhere.mkdir()
    target = single / "out.fa"
    if old != "none":
        real = elsewhere / "real.fa" if old.startswith("link") else target
        real.write_text(OLD)
        real.chmod(0o600 if old.startswith("link") else 0o604)
        if old.startswith("link"):
            target.symlink_to(real)
    done = subprocess.run(cli_command() + ["pep.fa", "cds.fa", "-o", "out.fa"], cwd=single,
                          env=ENV, capture_output=True, text=True, timeout=60,
                          preexec_fn=lambda: os.umask(umask))
    assert done.returncode == 0, done.stderr
    assert target.is_symlink() == old.startswith("link")
    assert read_fasta(target.read_text()) == EXPECTED
    assert stat.S_IMODE(target.stat().st_mode) == mode


def test_writers_racing_to_make_the_output_folder_all_write(tmp_path):
    """Processes that find the output folder missing at once, as a batch's workers do:
    each makes it or finds it made, and writes."""
    writers = range(16)
    for round_number in range(30):
        folder = tmp_path / f"round{round_number}" / "out"
        start_read, start_write = os.pipe()
        pids = []
        for writer in writers:
            pid = os.fork()
            if pid == 0:
                status = 1
                try:
                    os.close(start_write)
                    os.read(start_read, 1)  # all start at once, when the pipe closes
                    write_file(str(folder / f"{writer}.fa"), b">a\nATG\n")
                    status = 0
                finally:
                    os._exit(status)
            pids.append(pid)
        os.close(start_read)
        os.close(start_write)
        statuses = [os.waitstatus_to_exitcode(os.waitpid(pid, 0)[1]) for pid in pids]
        assert statuses == [0] * len(writers), f"round {round_number}"
        assert sorted(os.listdir(folder)) == sorted(f"{writer}.fa" for writer in writers)


# ---- standard output -------------------------------------------------------------

def big_locus(folder: Path, stem: str, repeat: int) -> tuple[Path, Path, str]:
    """A locus whose alignment is about 100 * repeat bytes, and that alignment."""
    proteins = {name: row * repeat for name, row in PROTEINS.items()}
    (folder / "pep").mkdir(exist_ok=True)
    (folder / "cds").mkdir(exist_ok=True)
    pep = write_fasta(folder / "pep" / f"{stem}.fa", proteins)
    cds = write_fasta(folder / "cds" / f"{stem}.fa",
                      {name: cds_of(row) for name, row in proteins.items()})
    return pep, cds, fasta_text({name: codon_row(row) for name, row in proteins.items()})


@pytest.mark.parametrize("stdout, args, status, pattern", [
    ("/dev/full", [], 2, "standard output: No space left on device"),
    ("closed", [], 2, "standard output: closed"),
    ("closed", ["-o", "out.fa"], 0, None),
    ("pipe closed early", ["--rename", "map.tsv"], 141, ""),  # as '| head -c 1': no summary
    ("pipe closed at once", ["--out-format", "phylip"], 141, ""),  # as '| true'
    ("pipe closed at once", ["batch", "manifest.tsv", "--status", "-"], 141, None),
])
def test_standard_output_faults(tmp_path, stdout, args, status, pattern):
    pep, cds, alignment = big_locus(tmp_path, "big", 2000)
    (tmp_path / "map.tsv").write_text(OLD)
    (tmp_path / "manifest.tsv").write_text(f"{pep}\t{cds}\tout.fa\n")
    with open("/dev/full", "w") as full:
        target = {"/dev/full": {"stdout": full}, "closed": {"preexec_fn": lambda: os.close(1)}}
        process = start(*([] if "batch" in args else [pep, cds]), *args, cwd=tmp_path,
                        **target.get(stdout, {"stdout": subprocess.PIPE}))
        if stdout.startswith("pipe"):
            process.stdout.read(1 if stdout == "pipe closed early" else 0)
            process.stdout.close()
        assert process.wait(timeout=60) == status
    stderr = process.stderr.read()
    if pattern:
        one_line_error(stderr, pattern)
    assert stderr == "" if pattern == "" else "records written" not in stderr or status != 141
    if "-o" in args or "batch" in args:
        assert (tmp_path / "out.fa").read_text() == alignment
    assert (tmp_path / "map.tsv").read_text() == OLD and not any(
        name.endswith(".tmp") for name in os.listdir(tmp_path))


# ---- interrupts ------------------------------------------------------------------

def wait_for(condition, seconds: float = 30.0) -> None:
    deadline = time.monotonic() + seconds
    while not condition():
        assert time.monotonic() < deadline, "timed out"


@pytest.mark.parametrize("signum", [signal.SIGINT, signal.SIGTERM])
def test_a_signal_while_writing_leaves_the_old_output_whole(tmp_path, signum):
    pep, cds, _ = big_locus(tmp_path, "big", 200_000)  # 19 MB of alignment: time to catch it
    out = tmp_path / "out"
    out.mkdir()
    (out / "aln.fa").write_text(OLD)
    process = start(pep, cds, "-o", out / "aln.fa", stdout=subprocess.DEVNULL)
    writing = lambda: any(name.startswith(".aln.fa.") for name in os.listdir(out))  # noqa: E731
    wait_for(lambda: writing() or process.poll() is not None)
    process.send_signal(signal.SIGSTOP)  # caught writing: hold it there
    assert len(os.listdir(out)) == 2, "the run ended before it could be caught writing"
    process.send_signal(signum)
    process.send_signal(signal.SIGCONT)
    assert process.wait(timeout=10) == 128 + signum
    assert process.stderr.read() == f"ntpepmap: interrupted by {signum.name}\n"
    assert os.listdir(out) == ["aln.fa"] and (out / "aln.fa").read_text() == OLD


def many_loci(folder: Path, count: int) -> str:
    """count loci, all the same one under other names; their alignment."""
    pep, cds, alignment = big_locus(folder, "l000", 3000)
    for number in range(1, count):
        (folder / "pep" / f"l{number:03}.fa").symlink_to(pep)
        (folder / "cds" / f"l{number:03}.fa").symlink_to(cds)
    return alignment


def start_batch(folder: Path) -> subprocess.Popen:
    process = start("batch", folder / "pep", folder / "cds", "-O", folder / "out", "-j", "2",
                    "--status", folder / "status.tsv", start_new_session=True)  # its own group, as a terminal gives it
    wait_for(lambda: (folder / "out").exists() and len(os.listdir(folder / "out")) > 3)
    return process


@pytest.mark.parametrize("signum, whom", [(signal.SIGINT, "group"), (signal.SIGTERM, "main")])
def test_a_batch_stops_cleanly_on_a_signal(tmp_path, signum, whom):
    alignment = many_loci(tmp_path, 300)
    process = start_batch(tmp_path)
    (os.killpg if whom == "group" else os.kill)(process.pid, signum)
    assert process.wait(timeout=10) == 128 + signum
    with pytest.raises(ProcessLookupError):  # no worker left behind
        os.killpg(process.pid, 0)
    stderr = process.stderr.read()
    written = sorted(os.listdir(tmp_path / "out"))
    assert "Traceback" not in stderr
    assert re.search(rf"interrupted by {signum.name}: {len(written)} of 300 loci finished; "
                     rf"not finished: \S+", stderr), stderr
    assert summary_counts(stderr) == (len(written), 0, 0)
    assert all((tmp_path / "out" / name).read_text() == alignment for name in written)
    fates = [line.split("\t")[:3:2] for line in (tmp_path / "status.tsv").open()][1:]
    assert fates == [[f"l{n:03}", "written" if f"l{n:03}.fasta" in written else "interrupted"]
                     for n in range(300)]


def test_a_killed_worker_fails_its_locus_alone(tmp_path):
    alignment = many_loci(tmp_path, 300)
    process = start_batch(tmp_path)
    children = Path(f"/proc/{process.pid}/task/{process.pid}/children")
    wait_for(lambda: children.read_text().split())  # the workers, once forked
    os.kill(int(children.read_text().split()[0]), signal.SIGKILL)
    assert process.wait(timeout=60) == 1
    stderr = process.stderr.read()
    failed = re.findall(r"^ntpepmap: error: \w+: (\S+): the worker process was stopped by SIGKILL$", stderr, re.M)
    assert len(failed) == 1 and summary_counts(stderr) == (299, 0, 1)
    # The kill may land after the worker renamed its output into place: that
    # output is then whole. Nothing else may be missing or torn.
    written = sorted(os.listdir(tmp_path / "out"))
    assert len(written) == 299 + (Path(failed[0]).stem + ".fasta" in written)
    assert all((tmp_path / "out" / name).read_text() == alignment for name in written)


# ---- batch: workers and counting -------------------------------------------------

@pytest.mark.parametrize("jobs, loci", [(1000, 3), (1000, 30), (1, 3)])
def test_workers_are_capped_at_the_loci_and_four_per_core(tmp_path, jobs, loci):
    for number in range(loci):
        make_batch_locus(tmp_path, f"l{number}")
    done = run_cli("batch", tmp_path / "pep", tmp_path / "cds", "-O", tmp_path / "out",
                   "-j", jobs)
    cores = len(os.sched_getaffinity(0))
    workers = min(jobs, loci, 4 * cores)
    warning = re.search(r"warning: (\d+) workers for (\d+) cores", done.stderr)
    assert done.returncode == 0 and summary_counts(done.stderr) == (loci, 0, 0)
    assert (warning and warning.groups()) == ((str(workers), str(cores)) if workers > cores
                                              else None)


@pytest.mark.parametrize("peps, cdss, status, counts", [
    (["a", "b", "c"], ["a", "b_cds", "c_cds"], 1, (1, 0, 2)),
    (["a", "b"], ["a", "b", "extra"], 0, (2, 0, 0)),
    (["a", "b"], ["x", "y"], 2, None),
])
def test_batch_counts_loci_not_files(tmp_path, peps, cdss, status, counts):
    for stem in set(peps) | set(cdss):
        pep, cds = make_batch_locus(tmp_path, stem)
        if stem not in peps:
            pep.unlink()
        if stem not in cdss:
            cds.unlink()
    done = run_cli("batch", tmp_path / "pep", tmp_path / "cds", "-O", tmp_path / "out",
                   "--report", tmp_path / "report.txt")
    assert done.returncode == status
    if counts is None:
        one_line_error(done.stderr, "no file name matches")
        assert not (tmp_path / "out").exists() and not (tmp_path / "report.txt").exists()
        return
    assert summary_counts(done.stderr) == counts
    failed = re.findall(r"^ntpepmap: error: \w+: (\S+): no matching file", done.stderr, re.MULTILINE)
    assert failed == [str(tmp_path / "pep" / f"{stem}.fasta") for stem in peps if stem not in cdss]
    assert done.stderr.rindex("failed loci") < done.stderr.rindex("loci done") if failed else True
    assert re.findall(r"^  \w+: (\S+): no matching", (tmp_path / "report.txt").read_text(),
                      re.MULTILINE) == failed


# ---- a run's outputs as one set, checked before any work ---------------------------

SET = ("aln.phy", "map.tsv", "parts.txt", "report.txt")


@pytest.mark.parametrize("fault, args, pattern", [
    ("map is a folder", ["--rename", "folder"], "folder: a folder; not written"),
    ("alignment on a full disk", ["-o", "/dev/full"], "/dev/full: No space left on device"),
    ("report on a mount that takes no file", ["--report", "/proc/report.txt"], "/proc/report.txt: "),
    ("a file where a folder should be", ["--partitions", "aln.phy/parts.txt"], "not a folder"),
    ("batch status on a mount that takes no file", ["--status", "/proc/status.tsv"], "/proc/status"),
    ("batch status is a folder", ["--status", "folder"], "folder: a folder"),
    ("batch side files under a file", ["--rename", "aln.phy/names"], "not a folder"),
])
def test_a_failed_output_leaves_every_target_as_it_was(single, fault, args, pattern):
    (single / "folder").mkdir()
    for name in SET:
        (single / name).write_text(OLD)
    command = ["pep.fa", "cds.fa", "-o", "aln.phy", "--rename", "map.tsv", "--partitions",
               "parts.txt", "--report", "report.txt"]
    if fault.startswith("batch"):
        (single / "manifest.tsv").write_text("pep.fa\tcds.fa\tout/a.phy\n")
        command = ["batch", "manifest.tsv"]
    done = run_cli(*command, *args, cwd=single)
    assert done.returncode == 2
    one_line_error(done.stderr, pattern)
    assert {name: (single / name).read_text() for name in SET} == dict.fromkeys(SET, OLD)
    assert not (single / "out").exists() and not [
        name for name in os.listdir(single) if name.startswith(".")]


def test_a_failed_locus_counts_no_record_written(tmp_path):
    make_batch_locus(tmp_path, "good"), make_batch_locus(tmp_path, "full")
    (tmp_path / "manifest.tsv").write_text("pep/good.fasta\tcds/good.fna\tgood.fa\n"
                                            "pep/full.fasta\tcds/full.fna\t/dev/full\n")
    done = run_cli("batch", "manifest.tsv", "--status", "status.tsv", cwd=tmp_path)
    rows = [line.split("\t") for line in (tmp_path / "status.tsv").read_text().splitlines()]
    written = {row[0]: row[3] for row in rows[1:]}
    assert done.returncode == 1 and written == {"good.fa": str(len(PROTEINS)), "/dev/full": "0"}
    assert re.search(rf"1 failed; {len(PROTEINS)} records written", done.stderr), done.stderr


@pytest.mark.parametrize("host, pid, removed", [
    ("own", "killed", True), ("own", "alive", False), ("other", "killed", False)])
def test_the_next_run_removes_what_a_killed_run_left(tmp_path, host, pid, removed):
    pep, cds, alignment = big_locus(tmp_path, "big", 30_000)
    out = tmp_path / "out"
    out.mkdir()
    process = start(pep, cds, "-o", out / "aln.fa", "--report", out / "report.txt")
    wait_for(lambda: os.listdir(out))  # the report's temporary file, made before any work
    if pid == "killed":
        process.kill()
    assert process.wait(timeout=60) == (-signal.SIGKILL if pid == "killed" else 0)
    assert all(name.startswith(".") for name in os.listdir(out)) == (pid == "killed")
    nodename = os.uname().nodename if host == "own" else "elsewhere"
    planted = f".aln.fa.{nodename}.{os.getpid() if pid == 'alive' else process.pid}.0123abcd.tmp"
    (out / planted).touch()
    assert run_cli(pep, cds, "-o", out / "aln.fa", "--report", out / "report.txt").returncode == 0
    assert (out / "aln.fa").read_text() == alignment
    assert sorted(os.listdir(out)) == sorted(["aln.fa", "report.txt"] + [planted] * (not removed))
