"""The workflow on a real one-node SLURM cluster with accounting, through the shipped profile.

Started by scripts/start_slurm.sh (root, Debian packages); run when NTPEPMAP_TEST_SLURM=1,
as .ci/run does, and skipped where the cluster cannot be started.
"""

from __future__ import annotations

import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
from pathlib import Path

import pytest

if sys.version_info < (3, 11):
    pytest.skip("Snakemake needs Python 3.11 or later", allow_module_level=True)
if os.environ.get("NTPEPMAP_TEST_SLURM") != "1":
    pytest.skip("set NTPEPMAP_TEST_SLURM=1 to run the workflow on a one-node SLURM cluster "
                "(as root; it starts one)", allow_module_level=True)
pytest.importorskip("snakemake_executor_plugin_slurm")

from helpers import make_batch_locus, run_cli, search_path
from test_workflow import SNAKEFILE, write_manifest

ROOT = Path(__file__).resolve().parent.parent
START = ROOT / "scripts" / "start_slurm.sh"
LOCI = 12
SKIPPED = 77  # start_slurm.sh's status where it cannot run


@pytest.fixture(scope="module")
def cluster():
    # Not pytest's own folder, which the daemons' users (munge, mysql) cannot enter.
    folder = Path(tempfile.mkdtemp(prefix="ntpepmap-slurm-"))
    started = subprocess.run(["bash", START, folder], capture_output=True, text=True, timeout=600)
    try:
        if started.returncode == SKIPPED:
            pytest.skip(started.stderr.strip())
        assert started.returncode == 0, started.stderr
        yield dict(os.environ, SLURM_CONF=str(folder / "etc/slurm.conf"), PYTHONPATH=search_path())
    finally:
        subprocess.run(["bash", START, "--stop", folder], check=True, timeout=120)
        shutil.rmtree(folder)


def run_on_slurm(folder: Path, env: dict, cancel_first_job: bool = False):
    command = [sys.executable, "-m", "snakemake", "--snakefile", str(SNAKEFILE),
               "--workflow-profile", str(folder / "profile"), "--keep-going",
               "--config", "manifest=manifest.tsv", "chunks=4", "log_dir=logs"]
    run = subprocess.Popen(command, cwd=folder, env=env, text=True,
                           stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    if cancel_first_job:
        job_id = wait_for_a_job(env)
        subprocess.run(["scancel", job_id], env=env, check=True)
    output, _ = run.communicate(timeout=600)
    return run.returncode, output


def wait_for_a_job(env: dict) -> str:
    for _ in range(600):
        queued = subprocess.run(["squeue", "-h", "-o", "%i"], env=env, capture_output=True,
                                text=True).stdout.split()
        if queued:
            return queued[0]
        time.sleep(0.1)
    raise AssertionError("no job reached the queue")


def test_the_workflow_on_slurm(cluster, tmp_path):
    write_manifest(tmp_path, {f"l{number}": "" for number in range(LOCI)})
    (tmp_path / "profile").mkdir()
    profile = (ROOT / "workflow/profiles/slurm/config.yaml").read_text()
    (tmp_path / "profile/config.yaml").write_text(
        profile.replace("your_account", "ntpepmap").replace("your_partition", "ci"))
    reference = tmp_path / "reference.tsv"
    reference.write_text((tmp_path / "manifest.tsv").read_text().replace("\tout/", "\tref/"))
    assert run_cli("batch", reference).returncode == 0

    # A chunk cancelled on its way is retried; every output as the batch writes it.
    status, output = run_on_slurm(tmp_path, cluster, cancel_first_job=True)
    assert status == 0, output
    assert re.search(r"SLURM-job '\d+' failed, SLURM status is: 'CANCELLED'", output), output
    outputs = sorted((tmp_path / "out").iterdir())
    assert [path.read_bytes() for path in outputs] == [
        (tmp_path / "ref" / path.name).read_bytes() for path in outputs]
    assert len(outputs) == LOCI
    status, output = run_on_slurm(tmp_path, cluster)
    assert status == 0 and "Nothing to be done" in output, output

    # A bad locus fails its chunk alone, at once, named on the console; nothing good goes.
    written = {path: path.read_bytes() for path in outputs}
    make_batch_locus(tmp_path, "l3", "unpaired")
    status, output = run_on_slurm(tmp_path, cluster)
    assert status != 0
    assert re.search(r"failed loci \(1;.*\n  out/l3\.fasta: .*l3\.fna: no identifier of", output)
    logs = "".join(path.read_text() for path in (tmp_path / "logs/chunks").glob("*.log"))
    assert "not retried: its batch ran to its end" in logs
    assert {path: path.read_bytes() for path in outputs} == written
    assert not (tmp_path / "logs/summary.tsv").exists()
