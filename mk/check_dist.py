"""Fails when the distributions in DIST lack a file that a user needs.

Usage: check_dist.py DIST VERSION... (one wheel is expected for each CPython VERSION, e.g. 3.13)
"""
import glob
import os
import sys
import tarfile
import zipfile

# What an sdist must hold to build and to be worth unpacking.
SDIST_FILES = ["pyproject.toml", "CMakeLists.txt", "README.md", "src/binding/exports.map",
               "src/binding/zarvel.pyi", "src/binding/module.cc", "src/lib/store.cc", "src/value/value.h",
               "examples/quickstart.py", "docs/query-language.md", "docs/file-format.md",
               "tests/data/json-test-suite/LICENSE", "tests/data/nativejson-benchmark/LICENSE"]
# What a wheel must hold besides its metadata.
WHEEL_FILES = ["zarvel.pyi", "zarvel-stubs/__init__.pyi"]


def main(dist, versions):
    missing = []
    (sdist,) = glob.glob(os.path.join(dist, "*.tar.gz"))
    names = {n.split("/", 1)[-1] for n in tarfile.open(sdist).getnames()}
    missing += [sdist + ": " + f for f in SDIST_FILES if f not in names]
    for version in versions:
        tag = "cp" + version.replace(".", "")
        wheels = glob.glob(os.path.join(dist, "zarvel-*-%s-%s-*.whl" % (tag, tag)))
        if len(wheels) != 1:
            missing.append("one wheel for CPython %s (found %d)" % (version, len(wheels)))
            continue
        names = set(zipfile.ZipFile(wheels[0]).namelist())
        missing += [wheels[0] + ": " + f for f in WHEEL_FILES if f not in names]
        if not any(n.startswith("zarvel.%s-" % ("cpython-" + tag[2:])) and n.endswith(".so") for n in names):
            missing.append(wheels[0] + ": the module for CPython " + version)
    sys.exit("missing from the distributions: " + ", ".join(missing) if missing else 0)


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2:])
