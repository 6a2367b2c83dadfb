"""A fast embedded JSON document store.

A store is a directory; each collection is one JSON file in it (``<directory>/<name>.json``).
Documents live in memory and reach disk only through :meth:`Zarvel.write`,
:meth:`Zarvel.write_all` and leaving a ``with`` block; creating a collection writes its empty file.

Internal failures raise :class:`PanicException`, a ``BaseException`` subclass: ``except
Exception`` does not catch it, ``except zarvel.PanicException`` does, and the store stays usable
afterwards.
"""

from os import PathLike
from types import TracebackType
from typing import Any, Literal, Self, final, overload

__all__ = ["Zarvel", "PanicException"]

class PanicException(BaseException):
    """Raised when native code called from Python fails.

    Like SystemExit, it derives from BaseException, so that it typically propagates up the stack
    and makes the interpreter exit.
    """

# A document as it comes back: a dict with str keys, its keys in ascending byte order, holding
# None, bool, int, float, str, list and dict. Going in, tuples, sets and mappings are accepted too.
_Document = dict[str, Any]

@final
class Zarvel:
    """A store opened on a directory."""

    def __new__(cls, name: str | PathLike[str], *, trace: bool = True) -> Self:
        """Opens the store on directory ``name``.

        With ``trace=False``, :meth:`update` writes no trace lines.

        When nothing exists at ``name`` the directory is created (one level; a failure to create
        it is not reported here). Otherwise every ``*.json`` file in it is loaded as a collection
        named after the file without ``.json``.

        Raises ``OSError`` when ``name`` is not a directory ("Not a directory (os error 20)"),
        ``ValueError`` "Error deserializing JSON" for a collection file that is not JSON, and
        ``PanicException`` for a ``.json`` file that is not a collection file.
        """

    def __enter__(self) -> Self:
        """Returns the store itself."""

    def __exit__(
        self,
        exc_type: type[BaseException] | None,
        exc_value: BaseException | None,
        traceback: TracebackType | None,
    ) -> Literal[False]:
        """Leaving the block without an exception writes every collection changed since it was
        loaded, created or last written, as :meth:`write_all` would (every one tried, the first
        failure raised); leaving with one writes nothing. Never suppresses the exception.
        """

    def load_from_document(self, document_path: str | PathLike[str]) -> None:
        """Imports a JSON file holding one object whose members name collections.

        An array member appends each of its elements, any other member is appended as one
        document; missing collections are created. All or nothing: a failed import appends no
        document and leaves no new collection behind.

        Raises ``OSError`` "Error opening document ..." and ``ValueError`` "Error deserializing
        JSON" for the file, ``ValueError`` "Invalid collection name '...'" for a member name, and
        ``PanicException`` when the file does not hold an object.
        """

    def create_collection(self, collection_name: str) -> None:
        """Creates an empty collection and its file ``{ "<name>":[] }``.

        Does nothing when anything, even a dangling link, is already at the file's path. The file
        is written through a temporary file and synced, so it is whole even after a crash.

        Raises ``ValueError`` "Invalid collection name '...'" for an empty name, one holding "/"
        or one longer than 228 bytes, and an ``OSError`` subclass when the file cannot be created
        (``FileNotFoundError`` when the store directory is gone).
        """

    def insert(self, collection_name: str, document: _Document) -> None:
        """Appends one document to a collection.

        A collection that is not in memory is loaded from its file, or created when it has none.

        Raises ``TypeError`` when ``document`` is not a dict, ``ValueError`` for an invalid
        collection name, an ``OSError`` subclass when a new collection's file cannot be created,
        and ``PanicException`` for a value that cannot be stored (bytes, an integer outside 64
        bits, a key that is not a str, ...); nothing is appended then.
        """

    def insert_many(self, collection_name: str, documents: list[_Document]) -> None:
        """Appends every element of ``documents``, in order, to a collection.

        Fails as :meth:`insert` does (``TypeError`` when ``documents`` is not a list); one value
        that cannot be stored fails the whole call before anything is appended.
        """

    def insert_many_from_document(
        self, collection_name: str, document_name: str | PathLike[str]
    ) -> None:
        """Appends the documents of a JSON file that holds one array to a collection.

        ``document_name`` is a file path, used as given.

        Raises ``OSError`` "Error opening document ...", ``ValueError`` "Error deserializing
        JSON" and ``ValueError`` "Document is not an array"; nothing is appended then.
        """

    def find(
        self,
        collection_name: str,
        maybe_query: _Document | None = None,
        *,
        sort: str | list[tuple[str, int]] | None = None,
        skip: int = 0,
        limit: int | None = None,
        fields: list[str] | None = None,
    ) -> list[_Document]:
        """Returns copies of the collection's documents, all of them or those matching the query.

        Documents come back in insertion order. Answers to queries are cached (100 entries); a
        change to the collection drops its cached answers.

        The keyword-only options apply in this order: ``sort`` (a dotted path, ascending, or a
        list of ``(path, direction)`` pairs with direction ``1`` or ``-1``; a missing field
        first, then null, numbers by value, strings by UTF-8 bytes, dicts, lists, booleans; ties
        keep insertion order), ``skip`` (an int >= 0), ``limit`` (``None`` or an int >= 0), then
        ``fields`` (``None`` or a list of dotted paths: each document keeps only those it has,
        nested as in the document). A limit without a sort stops the scan once enough documents
        matched, so an evaluation error further on is not raised.

        Raises ``ValueError`` "Collection with name '...' not found on disk" for an unknown
        collection, ``ValueError`` "Malformed query, non-numeric value found for operator ..."
        when an ordering operator meets a non-number, and ``PanicException`` for a malformed
        query (unknown operator, null or a list without an operator, an empty nested dict, a NaN
        or an infinity anywhere). A wrong option raises ``TypeError`` or ``ValueError`` naming
        it, before the collection is looked up.
        """

    @overload
    def update(
        self,
        collection_name: str,
        update_query: _Document,
        maybe_query: _Document | None = None,
        return_result: Literal[False] = False,
    ) -> None:
        """Changes the fields of every document, or of those matching ``maybe_query``.

        The update document names the field first and the operator second:
        ``{"n": {"$inc": 1}}``. No field is ever created. Empties the whole result cache. Each
        condition writes two trace lines to standard output (file descriptor 1), unless the store
        was opened with ``trace=False``.

        Returns ``None``, or with ``return_result=True`` every document of the collection
        afterwards. Any failure (unknown collection, malformed update or query, a non-numeric
        ordering comparison, a ``$set`` that would nest a document deeper than 126 levels)
        raises ``PanicException`` and changes no document.
        """

    @overload
    def update(
        self,
        collection_name: str,
        update_query: _Document,
        maybe_query: _Document | None,
        return_result: Literal[True],
    ) -> list[_Document]: ...
    @overload
    def update(
        self,
        collection_name: str,
        update_query: _Document,
        maybe_query: _Document | None = None,
        *,
        return_result: Literal[True],
    ) -> list[_Document]: ...
    @overload
    def update(
        self,
        collection_name: str,
        update_query: _Document,
        maybe_query: _Document | None = None,
        return_result: bool = False,
    ) -> list[_Document] | None: ...
    def collections(self) -> list[str]:
        """Returns the names of the entries of the store directory, in listing order.

        Each entry counts once, without its extension: the directory is listed, the collections
        in memory are not consulted. Temporary files of writes and names that are not UTF-8 are
        left out. Raises ``FileNotFoundError`` when the directory is gone.
        """

    def drop_collection(self, collection_name: str) -> None:
        """Deletes the collection's file (a missing file is no error) and forgets the collection.

        Raises ``ValueError`` for an invalid collection name, and an ``OSError`` when the file
        cannot be deleted; the collection is then kept.
        """

    def drop_all(self) -> None:
        """Drops every collection listed in the directory, then removes the directory if empty.

        Tries every collection, then raises the first ``OSError`` of a file that could not be
        deleted. Raises ``PanicException`` when the directory cannot be listed.
        """

    def write(self, collection_name: str) -> None:
        """Writes a collection to its file, atomically and durably.

        The file holds either its old or its new content, never a mixture, and has reached the
        disk when this returns.

        Raises ``ValueError`` "Collection '...' not found in stored collections" for a
        collection not in memory, ``OSError`` "Problem creating temporary file: ..." or "Error
        renaming file: ...", and ``ValueError`` "Error serializing JSON"; the old file is then
        unchanged.
        """

    def write_all(self) -> None:
        """Writes every collection in memory, as :meth:`write` does.

        Tries every collection, then raises the first error, if any.
        """

    def clear_cache(self) -> None:
        """Empties the result cache."""

    def delete(self, collection_name: str, query: _Document) -> int:
        """Removes the documents matching ``query`` (``{}`` matches every dict) and returns how
        many.

        All or nothing: every document is tested first, so a failure removes none; the others
        keep their order. Changes memory only, as :meth:`insert` does; :meth:`write` persists
        it. The collection's cached answers are dropped. Raises what :meth:`find` raises.
        """

    def count(self, collection_name: str, maybe_query: _Document | None = None) -> int:
        """Returns ``len(self.find(collection_name, maybe_query))`` without building the dicts.

        May answer from the result cache and fill it. Raises what :meth:`find` raises.
        """
