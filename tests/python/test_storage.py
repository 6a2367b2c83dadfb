"""Documents rebuilt by updates and removed by deletes, enough of them that the store reclaims
their old space more than once: order, content and the written file stay what a list says."""
import json

import zarvel


def test_rebuilt_and_removed_documents_survive_reclaiming(tmp_path):
    store = zarvel.Zarvel(str(tmp_path / "db"), trace=False)
    expected = [{"i": i, "s": "x" * 100, "n": i} for i in range(3000)]
    store.insert_many("c", expected)
    for round in range(4):
        # A number changes in place; a string of another length rebuilds the document.
        store.update("c", {"n": {"$inc": 1}})
        text = "y" * (60 + round)
        store.update("c", {"s": text}, {"i": {"$gte": 500 * round}})
        assert store.delete("c", {"i": 7 * round + 1}) == 1
        expected = [d for d in expected if d["i"] != 7 * round + 1]
        for document in expected:
            document["n"] = float(document["n"] + 1)
            if document["i"] >= 500 * round:
                document["s"] = text
        assert store.find("c") == expected
        assert store.find("c", {"s": text}) == [d for d in expected if d["s"] == text]
    store.insert("c", {"i": -1})
    expected.append({"i": -1})
    store.write("c")
    assert json.loads((tmp_path / "db" / "c.json").read_text()) == expected
    assert zarvel.Zarvel(str(tmp_path / "db"), trace=False).find("c") == expected
