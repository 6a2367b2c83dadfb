// The fields option of find: each returned document cut down to the paths asked for.
#pragma once

#include <string>
#include <vector>

#include "value/packed.h"
#include "value/value.h"

namespace zarvel {

class Projection {
 public:
  // `paths` are dotted paths; a path inside another one asked for whole adds nothing.
  explicit Projection(const std::vector<std::string>& paths);

  // A new object holding the members of `document` that the paths name and that it has, nested
  // as in `document` (an object is kept only around a member it holds); a path that crosses a
  // non-object names nothing. A document that is not an object comes back as a copy.
  Value apply(const Value& document) const;
  // The same from a packed document: only what is kept is decoded.
  Value apply(PackedValue document) const;

 private:
  // One path segment; `whole` when a path ends here, so everything below is kept.
  struct Node {
    std::string key;
    bool whole = false;
    std::vector<Node> children;
  };

  template <class Document>
  static Value apply_to(const Document& document, const std::vector<Node>& roots);
  template <class ObjectView>
  static Object project(const ObjectView& object, const std::vector<Node>& children);

  std::vector<Node> roots_;
};

}  // namespace zarvel
