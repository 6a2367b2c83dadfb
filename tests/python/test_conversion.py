"""Python objects into documents and back, as insert_many and find show them: the type mapping, the
integer range, user containers, nesting limits, reference counts. Refused values are in
test_hostile_input.py."""
import collections
import collections.abc
import enum
import random
import sys

import pytest

import zarvel
from conftest import PanicException, identical, normalised

UNWRAP = "called `Result::unwrap()` on an `Err` value: "


def round_trip(store, values):
    store.insert_many("c", list(values))
    return store.find("c")


def conversion_error(store, document, method="insert_many"):
    """The debug form that a failing conversion puts after the unwrap text."""
    with pytest.raises(PanicException) as info:
        store.insert_many("c", [document]) if method == "insert_many" else store.insert("c", document)
    assert str(info.value).startswith(UNWRAP)
    return str(info.value)[len(UNWRAP):]


class Color(enum.IntEnum):
    RED = 7


Point3 = collections.namedtuple("Point3", "x y z")


class Countdown(collections.abc.Sequence):
    def __init__(self, n):
        self.n = n

    def __len__(self):
        return self.n

    def __getitem__(self, i):
        if not 0 <= i < self.n:
            raise IndexError(i)
        return self.n - i


class Record:
    """A mapping only by registration: the conversion must use keys() and values()."""

    def __init__(self, **fields):
        self.fields = fields
        self.calls = []

    def keys(self):
        self.calls.append("keys")
        return list(self.fields)

    def values(self):
        self.calls.append("values")
        return list(self.fields.values())

    def __len__(self):
        self.calls.append("len")
        return len(self.fields)


collections.abc.Mapping.register(Record)


@pytest.mark.parametrize(
    "given, expected",
    [
        # scalars keep their kind: True is not 1, 1 is not 1.0
        (None, None),
        (True, True),
        (False, False),
        (0, 0),
        (1, 1),
        (-1, -1),
        (1.0, 1.0),
        (-0.0, -0.0),
        (1.5e300, 1.5e300),
        (5e-324, 5e-324),
        ("", ""),
        ("é€😀\x00\n", "é€😀\x00\n"),
        # edges of the two integer forms
        (2**63 - 1, 2**63 - 1),
        (2**63, 2**63),
        (2**64 - 1, 2**64 - 1),
        (-(2**63), -(2**63)),
        # non-finite floats silently become null
        (float("nan"), None),
        (float("inf"), None),
        (float("-inf"), None),
        # every sequence and set becomes a list
        ([], []),
        ([1, "a", None], [1, "a", None]),
        ((1, 2), [1, 2]),
        ({3}, [3]),
        (frozenset({4}), [4]),
        ({}, {}),
        ({"k": [1, {"n": (2.5,)}]}, {"k": [1, {"n": [2.5]}]}),
        # keys come back in byte order
        ({"b": 1, "é": 2, "ab": 3, "B": 4, "a\0": 5, "": 6}, {"": 6, "B": 4, "a\0": 5, "ab": 3, "b": 1, "é": 2}),
        # subclasses convert as their base type and come back as plain built-ins
        (Color.RED, 7),
        (type("Meters", (float,), {})(2.5), 2.5),
        (type("Name", (str,), {})("n"), "n"),
        (type("Items", (list,), {})([1, 2]), [1, 2]),
        (type("Pair", (tuple,), {})((1, 2)), [1, 2]),
        (Point3(1, 2, 3), [1, 2, 3]),
        (type("Tags", (set,), {})({5}), [5]),
        (collections.OrderedDict([("b", 1), ("a", 2)]), {"a": 2, "b": 1}),
        (collections.defaultdict(int, {"x": 1}), {"x": 1}),
        ({type("Key", (str,), {})("k"): 1}, {"k": 1}),
        # abstract-base-class containers
        (Countdown(3), [3, 2, 1]),
        (Record(z=1, a=[2]), {"a": [2], "z": 1}),
    ],
)
def test_type_mapping(store, given, expected):
    [found] = round_trip(store, [given])
    assert identical(found, expected), (given, found)


def test_registered_mapping_is_read_through_keys_and_values(store):
    record = Record(b=1, a=2)
    assert round_trip(store, [record]) == [{"a": 2, "b": 1}]
    assert record.calls == ["keys", "values", "len"]


class SameText(str):
    """Equal texts that a dict keeps apart."""

    __hash__ = object.__hash__

    def __eq__(self, other):
        return self is other


@pytest.mark.parametrize("later", [2, [2]], ids=["scalar-values", "container-values"])
def test_keys_with_equal_text_keep_the_last(store, later):
    document = {SameText("a"): 1, "m": 0, SameText("a"): later}
    assert len(document) == 3
    assert round_trip(store, [document]) == [{"a": later, "m": 0}]


def test_exceptions_that_cannot_be_shown_or_raised_go_to_the_unraisable_hook(store, monkeypatch):
    reported = []
    monkeypatch.setattr(sys, "unraisablehook", reported.append)

    class Unprintable(Exception):
        def __repr__(self):
            raise RuntimeError("no repr")

    class Raising(collections.abc.Sequence):
        def __len__(self):
            raise Unprintable()

        __getitem__ = None

    debug_form = conversion_error(store, Raising())
    assert debug_form.startswith("PyErr { type: <class '")
    assert ", value: <unprintable Unprintable object>, traceback: Some(" in debug_form

    class Elusive:  # its isinstance() checks raise: each is reported and counts as false
        @property
        def __class__(self):
            raise ValueError("no class")

    assert conversion_error(store, Elusive()) == f'UnsupportedType("{Elusive.__qualname__}")'
    assert [type(r.exc_value) for r in reported] == [RuntimeError, ValueError, ValueError]


def nested(depth, kinds=(dict, list, tuple)):
    """A value of `depth` containers, cycling through `kinds`, around the number 1."""
    value = 1
    for level in range(depth):
        kind = kinds[level % len(kinds)]
        value = {"k": value} if kind is dict else kind([value])
    return value


@pytest.mark.parametrize("kinds", [(dict,), (list,), (dict, list, tuple)], ids=["dicts", "lists", "mixed"])
def test_nesting_limit(store, kinds):
    # A document is the first level; insert_many's list adds one more around it.
    store.insert_many("c", [nested(125, kinds)])
    assert conversion_error(store, nested(126, kinds)) == 'Message("Document nested too deeply")'
    store.insert("c", {"k": nested(125, kinds)})
    assert conversion_error(store, {"k": nested(126, kinds)}, "insert") == 'Message("Document nested too deeply")'
    assert store.find("c") == [normalised(nested(125, kinds)), normalised({"k": nested(125, kinds)})]


def test_dict_changed_by_code_run_during_its_walk(store):
    """The entries are those the dict held when its conversion began."""
    outer = {}

    class Meddler(collections.abc.Sequence):
        def __len__(self):
            outer.clear()
            outer["late"] = 3
            return 1

        def __getitem__(self, i):
            return "m"

    outer.update({"first": 1, "seq": Meddler(), "after": [2]})
    assert round_trip(store, [outer]) == [{"after": [2], "first": 1, "seq": ["m"]}]


def random_value(rng, depth=0):
    choice = rng.randrange(12 if depth < 4 else 8)
    if choice == 0:
        return None
    if choice == 1:
        return rng.random() < 0.5
    if choice == 2:
        return rng.choice([0, 1, -1, 2**63 - 1, 2**63, 2**64 - 1, -(2**63), rng.randrange(-(2**63), 2**64)])
    if choice == 3:
        return rng.choice([0.0, -0.0, 1.0, -2.5, 1e308, 5e-324, rng.uniform(-1e6, 1e6)])
    if choice in (4, 5, 6, 7):
        alphabet = "abcXYZ _\x00\n\"\\é€😀"
        return "".join(rng.choice(alphabet) for _ in range(rng.randrange(0, 20 if choice == 4 else 3)))
    if choice in (8, 9):
        return [random_value(rng, depth + 1) for _ in range(rng.randrange(0, 5))]
    keys = ["a", "b", "B", "ab", "é", "", "long_key" * 3]
    return {rng.choice(keys): random_value(rng, depth + 1) for _ in range(rng.randrange(0, 6))}


def test_random_documents_round_trip_through_memory_and_files(store, store_dir):
    rng = random.Random(20240611)
    documents = [{"v": random_value(rng), "i": i} for i in range(400)]
    found = round_trip(store, documents)
    store.write("c")
    reopened = zarvel.Zarvel(str(store_dir)).find("c")
    assert len(found) == len(documents)
    for original, back, read in zip(documents, found, reopened):
        assert identical(back, normalised(original)), original
        assert identical(read, back), original


def test_no_reference_leaks_and_flat_memory(store):
    def resident_bytes():
        with open("/proc/self/statm") as f:
            return int(f.read().split()[1]) * 4096

    key = "".join(["shared", "_key"])  # built at run time: not interned, so its count is real
    inner = [1, "x", 2.5]
    document = {key: inner, "n": {"deep": inner}, "o": {"f": 1 / 3}}
    failing = {key: inner, "z": b"bytes"}
    counts = sys.getrefcount(key), sys.getrefcount(inner), sys.getrefcount(document)
    for round_ in range(60):
        if round_ == 10:
            before = resident_bytes()  # after warm-up
        store.insert_many("m", [document] * 2000)
        assert len(store.find("m")) == 2000 and store.find("m", {"o.f": {"$gte": 0}})[0] == document
        with pytest.raises(PanicException):
            store.insert("m", failing)
        store.drop_collection("m")
    assert (sys.getrefcount(key), sys.getrefcount(inner), sys.getrefcount(document)) == counts
    assert resident_bytes() - before < 16 * 2**20
