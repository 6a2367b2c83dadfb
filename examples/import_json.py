"""Importing JSON files into zarvel: a file naming its collections, a file holding one array, a
file that is not valid JSON, and the written collections read back by the json module."""
import json
import os
import tempfile

import zarvel

with tempfile.TemporaryDirectory() as parent:
    store = zarvel.Zarvel(os.path.join(parent, "library"))

    # An object whose members name collections: arrays append each element, anything else is one
    # document. Missing collections are created.
    catalogue = os.path.join(parent, "catalogue.json")
    with open(catalogue, "w", encoding="utf-8") as f:
        json.dump({
            "authors": [{"name": "Austen", "born": 1775}, {"name": "Herbert", "born": 1920}],
            "books": [
                {"title": "Emma", "author": "Austen", "year": 1815, "price": 7.5},
                {"title": "Dune", "author": "Herbert", "year": 1965, "price": 9.0},
            ],
            "meta": {"source": "catalogue.json", "version": 3},
        }, f)
    store.load_from_document(catalogue)
    print("collections:", sorted(store.collections()))
    print("meta:", store.find("meta"))

    # A file holding one array appends to the collection named in the call.
    more_books = os.path.join(parent, "more_books.json")
    with open(more_books, "w", encoding="utf-8") as f:
        f.write('[{"title": "Persuasion", "author": "Austen", "year": 1817, "price": 6.25}]')
    store.insert_many_from_document("books", more_books)
    austen = store.find("books", {"author": "Austen"})
    print("by Austen:", [b["title"] for b in austen])
    assert [b["year"] for b in austen] == [1815, 1817]

    # Files that cannot be imported raise and change nothing.
    broken = os.path.join(parent, "broken.json")
    with open(broken, "w", encoding="utf-8") as f:
        f.write('[{"title": "Sanditon",}]')  # a trailing comma is not JSON
    for path in (broken, catalogue, os.path.join(parent, "missing.json")):
        try:
            store.insert_many_from_document("books", path)
        except (OSError, ValueError) as error:
            print(f"{os.path.basename(path)}: {type(error).__name__}: {error}")
    assert len(store.find("books")) == 3

    # Written files are plain JSON arrays with integers and floats kept apart.
    store.write_all()
    with open(os.path.join(parent, "library", "books.json"), encoding="utf-8") as f:
        on_disk = json.load(f)
    print("books.json:", [(b["title"], b["price"]) for b in on_disk])
    assert on_disk == store.find("books")
    assert type(on_disk[1]["price"]) is float and type(on_disk[1]["year"]) is int

    # A store opened on the directory later finds everything again.
    reopened = zarvel.Zarvel(os.path.join(parent, "library"))
    print("authors born after 1800:", reopened.find("authors", {"born": {"$gt": 1800}}))
