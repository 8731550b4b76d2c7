"""Shared fixtures: the program, the examples, and runs of the program."""

import os
import shutil
import subprocess

import pandas as pd
import pytest

EXAMPLES = os.environ.get(
    "IDENTIFY_EXAMPLES",
    os.path.join(os.path.dirname(__file__), "..", "..", "examples"),
)
BINARY = os.environ.get("IDENTIFY_BINARY", "identify")


@pytest.fixture
def theophylline(tmp_path):
    """A copy of examples/theophylline_pk; the path of its problem file."""
    folder = tmp_path / "theophylline_pk"
    shutil.copytree(os.path.join(EXAMPLES, "theophylline_pk"), folder)
    return folder / "problem.yaml"


def run_program(problem, *options):
    """Runs the program on `problem`; returns (exit code, stderr)."""
    done = subprocess.run(
        [BINARY, str(problem), "--no-pause", "-q", *options],
        cwd=os.path.dirname(str(problem)),
        capture_output=True,
        text=True,
        timeout=300,
    )
    return done.returncode, done.stderr


def read_tsv(path):
    """A TSV file the program wrote, every number read back as its double."""
    return pd.read_csv(path, sep="\t", float_precision="round_trip")
