"""What the tests of the Python module share: the real zuba-cli, the example maps, a run of the
command line whose files are read back."""
import os
import pathlib
import subprocess

import pytest

SOURCE = pathlib.Path(os.environ.get("ZUBA_SOURCE_DIR", pathlib.Path(__file__).parents[2]))
EXAMPLES = SOURCE / "examples"
CLI = os.environ.get("ZUBA_CLI", str(SOURCE / "build/ci/cli/zuba-cli"))

# Short runs of the example maps (energies cut down to keep the suite quick).
RING = {"ParticleName": "p", "m0": 1.007276466812, "Q": 1, "Frf": 50.65, "H": 6, "N": 8,
        "EkBegin": 72, "EkEnd": 590, "dEk": 74}


def cli(*args, check=True):
    """Runs zuba-cli; returns the completed process (text output)."""
    done = subprocess.run([CLI, *map(str, args)], capture_output=True, text=True)
    if check and done.returncode != 0:
        raise AssertionError(f"zuba-cli {' '.join(map(str, args))}: {done.returncode}\n{done.stderr}")
    return done


def sets(changes):
    """The --set options of a dict of changes."""
    out = []
    for name, value in changes.items():
        out += ["--set", f"{name}={value}"]
    return out


@pytest.fixture
def tvk():
    import zuba
    return zuba.read_map(str(EXAMPLES / "tvk310-p.sdf"))
