"""A first look at zarvel: open a store, make collections, list and drop them."""
import os
import tempfile

import zarvel

with tempfile.TemporaryDirectory() as parent:
    path = os.path.join(parent, "db")
    store = zarvel.Zarvel(path)  # creates the directory
    store.create_collection("users")
    store.create_collection("books")
    print("collections:", sorted(store.collections()))
    print("users.json holds:", open(os.path.join(path, "users.json")).read())

    store.drop_collection("books")
    print("after dropping books:", store.collections())

    store.drop_all()
    print("store directory left behind:", os.path.exists(path))
