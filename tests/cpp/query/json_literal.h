// Test helper: document values from JSON text written in the test, so tables read like the
// documents they describe (1 is an integer, 1.0 a float). Malformed text fails the current test.
#pragma once

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <string_view>

#include "value/json_reader.h"
#include "value/json_writer.h"
#include "value/value.h"

namespace zarvel::testing {

inline Value json(std::string_view text) {
  std::optional<Value> value = parse_json(text);
  if (!value) {
    ADD_FAILURE() << "bad JSON literal: " << text;
    return Value();
  }
  return std::move(*value);
}

// The object of an object literal; an empty object (and a test failure) for anything else.
inline Object json_object(std::string_view text) {
  Value v = json(text);
  if (!v.is_object()) {
    ADD_FAILURE() << "not an object literal: " << text;
    return Object();
  }
  return std::move(v.as_object());
}

// Compact text of a value for failure messages.
inline std::string show(const Value& v) { return to_json(v); }
inline std::string show(const Object& o) { return to_json(Value(Object(o))); }

}  // namespace zarvel::testing
