"""Shared fixtures: the programs the package is checked against, and their
example inputs."""

import os
import subprocess

import pytest

import taviron

EXAMPLES = os.environ.get("TAVIRON_EXAMPLES_DIR", "examples")
COMPOUNDS = os.path.join(EXAMPLES, "compounds.qtr")
NCI = os.path.join(EXAMPLES, "nci.qtr")


def run(env_name, *args, stdin=None):
    """Output of one of the programs (its path in the environment)."""
    program = os.environ.get(env_name)
    if not program:
        pytest.skip(f"{env_name} not set")
    done = subprocess.run([program, *args], input=stdin, capture_output=True, check=True)
    return done.stdout.decode()


@pytest.fixture(scope="session")
def compounds():
    return {c.id: c for c in taviron.read_qtr(COMPOUNDS)}


@pytest.fixture(scope="session")
def nci():
    return taviron.read_qtr(NCI)
