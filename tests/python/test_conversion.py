"""Python objects into documents and back, as insert_many and find show them: the type mapping, the
integer range, user containers, nesting limits. Refused values are in test_hostile_input.py;
reference counts and memory are test_soak.py's."""
import collections
import enum
import sys

import pytest

from conftest import UNWRAP, Mapped, PanicException, SealedInt, Seq, identical, normalised


def round_trip(store, values):
    """Each value stored as the member of a document, and read back."""
    store.insert_many("c", [{"v": v} for v in values])
    return [document["v"] for document in store.find("c")]


def conversion_error(store, document, method="insert_many"):
    """The debug form that a failing conversion puts after the unwrap text."""
    with pytest.raises(PanicException) as info:
        store.insert_many("c", [document]) if method == "insert_many" else store.insert("c", document)
    assert str(info.value).startswith(UNWRAP)
    return str(info.value)[len(UNWRAP):]


@pytest.mark.parametrize(
    "given, expected",
    [
        # scalars keep their kind: True is not 1, 1 is not 1.0
        (None, None), (True, True), (False, False), (0, 0), (-1, -1), (1.0, 1.0), (-0.0, -0.0),
        ("", ""), ("é€😀\x00\n", "é€😀\x00\n"),
        # edges of the two integer forms
        (2**63 - 1, 2**63 - 1), (2**63, 2**63), (2**64 - 1, 2**64 - 1), (-(2**63), -(2**63)),
        # non-finite floats silently become null
        (float("nan"), None), (float("inf"), None),
        # every sequence and set becomes a list
        ([], []), ([1, "a", None], [1, "a", None]), ((1, 2), [1, 2]), ({3}, [3]),
        ({}, {}), ({"k": [1, {"n": (2.5,)}]}, {"k": [1, {"n": [2.5]}]}),
        # keys come back in byte order
        ({"b": 1, "é": 2, "ab": 3, "B": 4, "a\0": 5, "": 6}, {"": 6, "B": 4, "a\0": 5, "ab": 3, "b": 1, "é": 2}),
        # subclasses convert as their base type and come back as plain built-ins
        (enum.IntEnum("Color", {"RED": 7}).RED, 7), (type("Meters", (float,), {})(2.5), 2.5), (type("Name", (str,), {})("n"), "n"),
        (type("Items", (list,), {})([1, 2]), [1, 2]), (collections.namedtuple("Point3", "x y z")(1, 2, 3), [1, 2, 3]), (type("Tags", (set,), {})({5}), [5]),
        (collections.OrderedDict([("b", 1), ("a", 2)]), {"a": 2, "b": 1}), ({type("Key", (str,), {})("k"): 1}, {"k": 1}),
        (SealedInt(2**64 - 1), 2**64 - 1),
        # abstract-base-class containers
        (Seq(3, lambda seq, i: 3 - i), [3, 2, 1]),
    ],
)
def test_type_mapping(store, given, expected):
    [found] = round_trip(store, [given])
    assert identical(found, expected), (given, found)


class ReorderedKeys(dict):
    """A dict subclass whose keys() disagrees with its values() on the order."""

    def keys(self):
        return list(reversed(list(super().keys())))


@pytest.mark.parametrize("length", [3, 0, 1, 5], ids=["true", "zero", "under", "over"])
def test_mappings_convert_by_their_items(store, length):
    # Each key with its own value, as many as items() gives, whatever len() says.
    record = Mapped(lambda: [("b", 1), ("a", 2), ("c", [3])], length)
    assert round_trip(store, [record, ReorderedKeys(x=1, y=2)]) == [{"a": 2, "b": 1, "c": [3]}, {"x": 1, "y": 2}]
    assert record.calls == ["items"]


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


def test_key_objects_shared_and_reused_across_documents_keep_their_own_text(store):
    # Many more distinct keys than a converter remembers, the same str objects used again by later
    # documents, keys freed and their memory reused between calls, and str subclasses.
    shared = ["k%d" % i for i in range(300)]
    documents = [{shared[(i * 7 + j) % 300]: i for j in range(5)} for i in range(200)]
    documents.append({SameText("k1"): 1, "k1x": 2})
    documents.append({"long key beyond sixteen bytes %d" % i: i for i in range(3)})
    expected = [{str(k): v for k, v in d.items()} for d in documents]
    assert round_trip(store, documents) == expected
    for i in range(50):
        store.insert_many("c", [{"t%d" % i + "x" * (i % 3): i}])
    assert store.find("c")[-50:] == [{"t%d" % i + "x" * (i % 3): i} for i in range(50)]


def test_exceptions_that_cannot_be_shown_or_raised_go_to_the_unraisable_hook(store, monkeypatch):
    reported = []
    monkeypatch.setattr(sys, "unraisablehook", reported.append)

    class Unprintable(Exception):
        def __repr__(self):
            raise RuntimeError("no repr")

    class Raising(Seq):
        def __len__(self):
            raise Unprintable()

    debug_form = conversion_error(store, Raising(0))
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
    # A document nests at most 126 levels, whether insert or insert_many brings it.
    for method in ("insert_many", "insert"):
        assert conversion_error(store, {"k": nested(126, kinds)}, method) == 'Message("Document nested too deeply")'
    store.insert_many("c", [{"k": nested(125, kinds)}])
    store.insert("q", {"k": nested(125, kinds)})
    assert store.find("c") == store.find("q") == [normalised({"k": nested(125, kinds)})]
    # A query is never stored, so it may nest one level more: enough to name any stored value.
    assert store.find("q", {"k": {"$eq": nested(125, kinds)}}) == [normalised({"k": nested(125, kinds)})]
    with pytest.raises(PanicException, match="Document nested too deeply"):
        store.find("q", {"k": {"$eq": nested(126, kinds)}})


def test_dict_changed_by_code_run_during_its_walk(store):
    """The entries are those the dict held when its conversion began."""
    outer = {}

    class Meddler(Seq):
        def __len__(self):
            outer.clear()
            outer["late"] = 3
            return 1

    outer.update({"first": 1, "seq": Meddler(1, lambda seq, i: "m"), "after": [2]})
    assert round_trip(store, [outer]) == [{"after": [2], "first": 1, "seq": ["m"]}]
