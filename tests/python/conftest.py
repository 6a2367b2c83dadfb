import collections.abc
import json
import math
import os
import subprocess
import sys

import pytest

import zarvel

PanicException = zarvel.PanicException
UNWRAP = "called `Result::unwrap()` on an `Err` value: "  # what an internal failure's message starts with
NONE = "called `Option::unwrap()` on a `None` value"


class Seq(collections.abc.Sequence):
    """A sequence whose length and items the test decides; it has four items at most."""

    def __init__(self, size, item=lambda seq, i: i):
        self.size, self.item = size, item

    def __len__(self):
        return self.size

    def __getitem__(self, i):
        if i >= 4:
            raise IndexError(i)
        return self.item(self, i)


class Mapped:
    """A mapping only by registration, seen through items() and len(): items() is replaceable by
    hostile code, and len() says whatever the test wants, so a conversion must take as many pairs
    as items() gives; `calls` records which of the two ran."""

    def __init__(self, items=lambda: [("a", 1)], length=None):
        self.calls, self.length = [], length
        self.items = lambda: (self.calls.append("items"), items())[1]

    def __len__(self):
        self.calls.append("len")
        return 1 if self.length is None else self.length


collections.abc.Mapping.register(Mapped)


class SealedInt(int):
    """An int whose own comparisons and __index__ fail: a conversion must read it as int does."""

    def _refuse(self, *args):
        raise AssertionError("an operator of an int subclass ran")

    __index__ = __lt__ = __le__ = __gt__ = __ge__ = _refuse


@pytest.fixture
def store_dir(tmp_path):
    return tmp_path / "db"


@pytest.fixture
def store(store_dir):
    return zarvel.Zarvel(str(store_dir))


def file_tree(root="."):
    """Every directory and file below `root`: links by target, files over 1 MiB by size, others by content."""
    tree = {}
    for folder, dirs, files in os.walk(root):
        tree.update({os.path.join(folder, d): "dir" for d in dirs})
        for name in files:
            path = os.path.join(folder, name)
            if os.path.islink(path):
                tree[path] = os.readlink(path)
            elif os.path.getsize(path) > 2**20:
                tree[path] = os.path.getsize(path)
            else:
                with open(path, "rb") as f:
                    tree[path] = f.read()
    return tree


def run_python(code, cwd=None, *args):
    """Runs code in a fresh interpreter; returns (returncode, stdout bytes, stderr text)."""
    done = subprocess.run([sys.executable, "-c", code, *map(str, args)], capture_output=True, cwd=cwd, timeout=120)
    return done.returncode, done.stdout, done.stderr.decode("utf-8", "replace")


def run_child(code, cwd=None, *args):
    """Runs code that must succeed in a fresh interpreter; returns its last line of output, read as JSON."""
    rc, out, err = run_python(code, cwd, *args)
    assert rc == 0, err
    return json.loads(out.splitlines()[-1])


def replace_by_directory(path):
    """Puts an empty directory where the file was: unlink(2) and rename(2) refuse it, even to root."""
    path.unlink()
    path.mkdir()


def raises(error, message, call, *args):
    """Calls `call` and checks the exception's exact type and message; returns the exception."""
    with pytest.raises(error) as info:
        call(*args)
    assert type(info.value) is error and str(info.value) == message, repr(info.value)
    return info.value


def silently(call, *args, **options):
    """Runs an update with file descriptor 1 pointed away: it writes two trace lines per condition."""
    saved = os.dup(1)
    with open(os.devnull, "w") as devnull:
        os.dup2(devnull.fileno(), 1)
        try:
            return call(*args, **options)
        finally:
            os.dup2(saved, 1)
            os.close(saved)


def identical(a, b):
    """Equal values of equal types all the way down, keys in the same order, floats bit for bit
    (1 == 1.0 == True and 0.0 == -0.0 would hide a wrong number form)."""
    if type(a) is not type(b):
        return False
    if isinstance(a, list):
        return len(a) == len(b) and all(identical(x, y) for x, y in zip(a, b, strict=True))
    if isinstance(a, dict):
        return list(a) == list(b) and all(identical(a[k], b[k]) for k in a)
    if isinstance(a, float) and math.isnan(a):
        return math.isnan(b)
    return a == b and (not isinstance(a, float) or math.copysign(1, a) == math.copysign(1, b))


def normalised(value):
    """What a document reads back as: keys in byte order (recursively), tuples as lists."""
    if isinstance(value, dict):
        return {k: normalised(value[k]) for k in sorted(value, key=lambda k: k.encode())}
    if isinstance(value, (list, tuple)):
        return [normalised(v) for v in value]
    return value
