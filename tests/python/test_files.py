"""Collection files on disk: their exact bytes, reopening, loading on demand, failed writes."""
import json
import math
import os
import random
import struct

import pytest

import zarvel
from conftest import identical, normalised, run_python

DATA = os.path.join(os.path.dirname(__file__), "..", "..", "..", "shared", "testdata")
REAL = os.path.join(DATA, "nativejson-benchmark", "data")


def test_written_file_has_the_exact_compact_text_and_numbers_keep_their_form(store, store_dir):
    store.insert_many("c", [{"name": "Ann", "age": 30}, {"b": [1.5, None], "a": "x\ny"}])
    store.insert_many("c", [{"x": x} for x in (2.0, 2, -0.0, 2**64 - 1, -(2**63), 1e16, 1e-6)])
    store.write("c")
    assert (store_dir / "c.json").read_bytes() == (
        b'[{"age":30,"name":"Ann"},{"a":"x\\ny","b":[1.5,null]},{"x":2.0},{"x":2},{"x":-0.0},'
        b'{"x":18446744073709551615},{"x":-9223372036854775808},{"x":1e16},{"x":1e-6}]'
    )
    assert os.listdir(store_dir) == ["c.json"]
    found = zarvel.Zarvel(str(store_dir)).find("c")
    assert identical(found, store.find("c"))


def test_keyed_form_escapes_the_name_and_reopens(store, store_dir):
    store.create_collection('a"b')
    assert (store_dir / 'a"b.json').read_bytes() == b'{ "a\\"b":[] }'
    store.create_collection("plain")
    reopened = zarvel.Zarvel(str(store_dir))
    assert reopened.find('a"b') == [] and reopened.find("plain") == []


def test_start_up_load_takes_only_json_files(store_dir):
    store_dir.mkdir()
    (store_dir / "users.json").write_text('[{"a":1}]')
    for name in ("notes.txt", "USERS.JSON", "x.json.bak"):
        (store_dir / name).write_text("not json")
    (store_dir / "a.b.json").write_text("[2]")
    store = zarvel.Zarvel(str(store_dir))
    assert store.find("users") == [{"a": 1}]
    store.write_all()
    assert (store_dir / "a.b.json").read_bytes() == b"[2]"


def test_on_demand_load_reads_both_forms(store, store_dir):
    (store_dir / "arr.json").write_text('[{"a":1}]')
    (store_dir / "keyed.json").write_text('{"keyed":[{"b":2}],"other":1}')
    assert store.find("arr") == [{"a": 1}]
    assert store.find("keyed") == [{"b": 2}]


def test_insert_into_an_unregistered_collection_with_a_file_keeps_its_documents(store, store_dir):
    (store_dir / "c.json").write_text('[{"old":1}]')
    store.insert("c", {"new": 2})
    assert store.find("c") == [{"old": 1}, {"new": 2}]


def test_write_all_tries_every_collection_and_raises_the_first_error(store, store_dir):
    store.insert("a", {"a": 1})
    store.insert("c", {"c": 1})
    (store_dir / "c.json.tmp").mkdir()  # the temporary file cannot be created
    with pytest.raises(OSError) as info:
        store.write_all()
    assert str(info.value).startswith("Problem creating temporary file: Os { code: 21, kind: IsADirectory")
    assert (store_dir / "a.json").read_bytes() == b'[{"a":1}]'


def test_write_that_fails_part_way_keeps_the_old_file(tmp_path):
    db = tmp_path / "db"
    code = f"""
import resource, signal, zarvel
z = zarvel.Zarvel({str(db)!r})
z.insert_many("c", [{{"i": i}} for i in range(10)])
z.write("c")
z.insert_many("c", [{{"pad": "x" * 100}} for i in range(10000)])
signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
resource.setrlimit(resource.RLIMIT_FSIZE, (20000, 20000))
try:
    z.write("c")
except BaseException as e:
    print(type(e).__name__, e)
"""
    rc, out, err = run_python(code)
    assert rc == 0, err
    text = out.decode().strip()
    assert text in ("ValueError Error serializing JSON",) or "FileTooLarge" in text, text
    assert json.loads((db / "c.json").read_text()) == [{"i": i} for i in range(10)]
    assert os.listdir(db) == ["c.json"]


@pytest.mark.parametrize("name", ["twitter.json", "citm_catalog.json", "canada.json"])
def test_real_documents_survive_write_and_reopen(tmp_path, name):
    with open(os.path.join(REAL, name), "rb") as f:
        expected = json.load(f)
    wrapped = tmp_path / "in.json"
    wrapped.write_bytes(b"[" + open(os.path.join(REAL, name), "rb").read() + b"]")
    store = zarvel.Zarvel(str(tmp_path / "db"))
    store.insert_many_from_document("c", str(wrapped))
    store.write("c")
    (found,) = zarvel.Zarvel(str(tmp_path / "db")).find("c")
    assert identical(found, normalised(expected))


def float_layout(x):
    """The store's float text, laid out from the shortest digits that repr() finds."""
    if x == 0:
        return "-0.0" if math.copysign(1, x) < 0 else "0.0"
    sign = "-" if x < 0 else ""
    digits, e = repr(abs(x)), 0
    if "e" in digits:
        digits, _, exp = digits.partition("e")
        e = int(exp)
    whole, _, frac = digits.partition(".")
    frac = frac.rstrip("0") if frac != "0" else ""
    digits = (whole + frac).lstrip("0")
    e += -len(frac)
    stripped = digits.rstrip("0")
    e += len(digits) - len(stripped)
    digits = stripped
    n = len(digits)
    p = n + e
    if e >= 0 and p <= 16:
        return sign + digits + "0" * e + ".0"
    if 1 <= p <= 16:
        return sign + digits[:p] + "." + digits[p:]
    if -4 <= p <= 0:
        return sign + "0." + "0" * -p + digits
    return sign + digits[0] + ("." + digits[1:] if n > 1 else "") + "e" + str(p - 1)


def test_float_text_matches_the_layout_of_the_shortest_digits(tmp_path):
    rng = random.Random(99)
    values = [struct.unpack("<d", struct.pack("<Q", rng.getrandbits(64)))[0] for _ in range(4000)]
    values += [rng.uniform(-1e6, 1e6) for _ in range(1000)]
    values += [10.0**k for k in range(-320, 309)] + [2.0**53 + k for k in range(-3, 4)]
    values += [1e16, 9999999999999998.0, 1e-5, 1.5e-5, 9.9999e-6, 5e-324, 2.2250738585072014e-308]
    values = [v for v in values if math.isfinite(v)]
    store = zarvel.Zarvel(str(tmp_path / "db"))
    store.insert_many("c", values)
    store.write("c")
    text = (tmp_path / "db" / "c.json").read_text()
    assert text == "[" + ",".join(float_layout(v) for v in values) + "]"
    found = zarvel.Zarvel(str(tmp_path / "db")).find("c")
    assert [struct.pack("<d", v) for v in found] == [struct.pack("<d", v) for v in values]


def test_decimal_texts_read_to_the_nearest_double(tmp_path):
    rng = random.Random(5)
    texts = []
    for _ in range(3000):
        digits = "".join(rng.choice("0123456789") for _ in range(rng.randrange(1, 25))).lstrip("0") or "0"
        frac = "".join(rng.choice("0123456789") for _ in range(rng.randrange(0, 20)))
        text = digits + ("." + frac if frac else "") + (f"e{rng.randrange(-330, 310)}" if rng.random() < 0.6 else "")
        if "." not in text and "e" not in text:
            text += ".0"
        if math.isfinite(float(text)):
            texts.append(rng.choice(["", "-"]) + text)
    path = tmp_path / "in.json"
    path.write_text("[" + ",".join(texts) + "]")
    store = zarvel.Zarvel(str(tmp_path / "db"))
    store.insert_many_from_document("c", str(path))
    found = store.find("c")
    assert [struct.pack("<d", v) for v in found] == [struct.pack("<d", float(t)) for t in texts]
