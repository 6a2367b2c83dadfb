// Test helper: a document value from JSON text written in the test, so tables read like the
// documents they describe. Integers without "." or exponent become integers, others floats.
// Malformed text fails the current test and yields null.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "value/value.h"

namespace zarvel::testing {

class JsonLiteral {
 public:
  explicit JsonLiteral(std::string_view text) : text_(text) {}

  Value parse() {
    Value v = value();
    skip_space();
    if (pos_ != text_.size()) fail();
    return v;
  }

 private:
  void fail() {
    if (!failed_) ADD_FAILURE() << "bad JSON literal at " << pos_ << ": " << text_;
    failed_ = true;
    pos_ = text_.size();
  }
  void skip_space() {
    while (pos_ < text_.size() && std::string_view(" \t\r\n").find(text_[pos_]) != std::string_view::npos) ++pos_;
  }
  bool eat(char c) {
    skip_space();
    if (pos_ < text_.size() && text_[pos_] == c) {
      ++pos_;
      return true;
    }
    return false;
  }
  bool eat_word(std::string_view w) {
    if (text_.substr(pos_, w.size()) != w) return false;
    pos_ += w.size();
    return true;
  }

  Value value() {
    skip_space();
    if (pos_ >= text_.size()) {
      fail();
      return Value();
    }
    char c = text_[pos_];
    if (c == '{') return object();
    if (c == '[') return array();
    if (c == '"') return Value(string());
    if (eat_word("null")) return Value();
    if (eat_word("true")) return Value(true);
    if (eat_word("false")) return Value(false);
    return number();
  }

  Value object() {
    ++pos_;
    std::vector<Object::Member> members;
    if (!eat('}')) {
      do {
        skip_space();
        std::string key = string();
        if (!eat(':')) fail();
        members.push_back({std::move(key), value()});
      } while (eat(','));
      if (!eat('}')) fail();
    }
    return Value(Object::from_members(std::move(members)));
  }

  Value array() {
    ++pos_;
    Array elements;
    if (!eat(']')) {
      do elements.push_back(value());
      while (eat(','));
      if (!eat(']')) fail();
    }
    return Value(std::move(elements));
  }

  // Escapes: \" \\ \/ \n \t \r \b \f and \uXXXX (BMP code points only).
  std::string string() {
    std::string out;
    if (pos_ >= text_.size() || text_[pos_] != '"') {
      fail();
      return out;
    }
    ++pos_;
    while (pos_ < text_.size() && text_[pos_] != '"') {
      char c = text_[pos_++];
      if (c != '\\') {
        out += c;
        continue;
      }
      if (pos_ >= text_.size()) break;
      char e = text_[pos_++];
      switch (e) {
        case 'n': out += '\n'; break;
        case 't': out += '\t'; break;
        case 'r': out += '\r'; break;
        case 'b': out += '\b'; break;
        case 'f': out += '\f'; break;
        case 'u': {
          unsigned cp = std::stoul(std::string(text_.substr(pos_, 4)), nullptr, 16);
          pos_ += 4;
          if (cp < 0x80) {
            out += static_cast<char>(cp);
          } else if (cp < 0x800) {
            out += static_cast<char>(0xC0 | (cp >> 6));
            out += static_cast<char>(0x80 | (cp & 0x3F));
          } else {
            out += static_cast<char>(0xE0 | (cp >> 12));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
          }
          break;
        }
        default: out += e;
      }
    }
    if (pos_ >= text_.size()) {
      fail();
      return out;
    }
    ++pos_;
    return out;
  }

  Value number() {
    std::size_t start = pos_;
    bool is_float = false;
    while (pos_ < text_.size() && std::string_view("+-0123456789.eE").find(text_[pos_]) != std::string_view::npos) {
      if (std::string_view(".eE").find(text_[pos_]) != std::string_view::npos) is_float = true;
      ++pos_;
    }
    std::string digits(text_.substr(start, pos_ - start));
    if (digits.empty()) {
      fail();
      return Value();
    }
    if (is_float) return Value(Number::from_float(std::strtod(digits.c_str(), nullptr)));
    if (digits[0] == '-') return Value(Number::from_int64(std::strtoll(digits.c_str(), nullptr, 10)));
    return Value(Number::from_unsigned(std::strtoull(digits.c_str(), nullptr, 10)));
  }

  std::string_view text_;
  std::size_t pos_ = 0;
  bool failed_ = false;
};

inline Value json(std::string_view text) { return JsonLiteral(text).parse(); }

// The object of an object literal; an empty object (and a test failure) for anything else.
inline Object json_object(std::string_view text) {
  Value v = json(text);
  if (!v.is_object()) {
    ADD_FAILURE() << "not an object literal: " << text;
    return Object();
  }
  return std::move(v.as_object());
}

// Compact text of a value for failure messages; floats carry a "." or exponent so 1 and 1.0 differ.
inline std::string show(const Value& v) {
  switch (v.kind()) {
    case Kind::kNull:
      return "null";
    case Kind::kBool:
      return v.as_bool() ? "true" : "false";
    case Kind::kNumber: {
      Number n = v.as_number();
      if (n.form() == Number::Form::kUnsigned) return std::to_string(n.as_unsigned());
      if (n.form() == Number::Form::kNegative) return std::to_string(n.as_negative());
      char buffer[32];
      std::snprintf(buffer, sizeof buffer, "%.17g", n.as_float());
      std::string text = buffer;
      if (text.find_first_of(".en") == std::string::npos) text += ".0";
      return text;
    }
    case Kind::kString:
      return "\"" + std::string(v.as_string()) + "\"";
    case Kind::kArray: {
      std::string out = "[";
      for (const Value& e : v.as_array()) out += (out.size() > 1 ? "," : "") + show(e);
      return out + "]";
    }
    case Kind::kObject: {
      std::string out = "{";
      for (const auto& m : v.as_object()) {
        out += (out.size() > 1 ? "," : "") + ("\"" + m.key + "\":") + show(m.value);
      }
      return out + "}";
    }
  }
  return "?";
}

inline std::string show(const Object& o) { return show(Value(Object(o))); }

}  // namespace zarvel::testing
