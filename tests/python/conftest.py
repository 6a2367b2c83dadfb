import os
import subprocess
import sys
import tempfile

import pytest

import zarvel


def _panic_exception_class():
    """PanicException is not exported; take its class from a call that fails internally."""
    with tempfile.TemporaryDirectory() as parent:
        store = zarvel.Zarvel(os.path.join(parent, "db"))
        os.rmdir(os.path.join(parent, "db"))
        try:
            store.drop_all()
        except BaseException as error:  # noqa: BLE001 - the class is what we are after
            return type(error)
    raise AssertionError("drop_all on a missing directory did not fail")


PanicException = _panic_exception_class()


@pytest.fixture
def store_dir(tmp_path):
    return tmp_path / "db"


@pytest.fixture
def store(store_dir):
    return zarvel.Zarvel(str(store_dir))


def run_python(code, cwd=None):
    """Runs code in a fresh interpreter; returns (returncode, stdout bytes, stderr text)."""
    done = subprocess.run([sys.executable, "-c", code], capture_output=True, cwd=cwd, timeout=120)
    return done.returncode, done.stdout, done.stderr.decode("utf-8", "replace")
