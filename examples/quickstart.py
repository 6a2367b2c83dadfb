"""A first look at zarvel: documents in, queries, updates, files on disk, reopening."""
import json
import os
import tempfile

import zarvel

with tempfile.TemporaryDirectory() as parent:
    path = os.path.join(parent, "db")
    store = zarvel.Zarvel(path)  # creates the directory

    store.insert("users", {"name": "Ann", "age": 30, "address": {"city": "Lyon"}})
    store.insert_many("users", [
        {"name": "Bob", "age": 17, "address": {"city": "Oslo"}},
        {"name": "Cyd", "age": 45, "address": {"city": "Lyon"}},
    ])
    print("all users:", [u["name"] for u in store.find("users")])
    print("adults:", [u["name"] for u in store.find("users", {"age": {"$gte": 18}})])
    print("in Lyon:", [u["name"] for u in store.find("users", {"address.city": "Lyon"})])

    # Update documents prints two trace lines per condition on standard output.
    store.update("users", {"age": {"$inc": 1}}, {"name": "Bob"})
    print("Bob is now", store.find("users", {"name": "Bob"})[0]["age"])

    # Import documents from a JSON file holding one array.
    books = os.path.join(parent, "books.json")
    with open(books, "w") as f:
        json.dump([{"title": "Dune"}, {"title": "Emma"}], f)
    store.insert_many_from_document("books", books)

    # Nothing reaches disk until it is written.
    store.write_all()
    print("users.json:", open(os.path.join(path, "users.json")).read()[:60], "...")
    del store

    reopened = zarvel.Zarvel(path)
    print("collections after reopening:", sorted(reopened.collections()))
    print("books:", reopened.find("books"))

    reopened.drop_all()
    print("store directory left behind:", os.path.exists(path))
