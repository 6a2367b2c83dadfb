#include "query/regex_parser.h"

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "base/utf8.h"
#include "query/regex_program.h"
#include "query/regex_unicode.h"

namespace zarvel::regex_detail {
namespace {

constexpr std::uint64_t kMaxRepeat = 4294967295;  // Python's MAXREPEAT: counts must stay below
// The most items (characters, classes, anchors, groups) a pattern may have: the program-size cap
// comes too late to bound the work of parsing, case folding above all.
constexpr std::size_t kMaxItems = 2 * kMaxProgramSize;

// The inline flag letters, as bits.
enum : unsigned {
  kFlagI = 1,
  kFlagM = 2,
  kFlagS = 4,
  kFlagX = 8,
  kFlagA = 16,
  kFlagU = 32,
  kFlagL = 64,
  kFlagT = 128,
  kTypeFlags = kFlagA | kFlagU | kFlagL,
  kGlobalOnlyFlags = kFlagT,
};

unsigned flag_bit(std::u32string_view token) {
  if (token.size() != 1) return 0;
  switch (token[0]) {
    case 'i':
      return kFlagI;
    case 'm':
      return kFlagM;
    case 's':
      return kFlagS;
    case 'x':
      return kFlagX;
    case 'a':
      return kFlagA;
    case 'u':
      return kFlagU;
    case 'L':
      return kFlagL;
    case 't':
      return kFlagT;
    default:
      return 0;
  }
}

// The flags in force at a point of the pattern.
struct Flags {
  bool ignore_case = false;
  bool multiline = false;
  bool dot_all = false;
  bool verbose = false;
  bool ascii = false;

  void apply(unsigned add, unsigned del) {
    if ((add & kTypeFlags) != 0) ascii = (add & kFlagA) != 0;
    auto set = [&](bool& flag, unsigned bit) {
      if ((add & bit) != 0) flag = true;
      if ((del & bit) != 0) flag = false;
    };
    set(ignore_case, kFlagI);
    set(multiline, kFlagM);
    set(dot_all, kFlagS);
    set(verbose, kFlagX);
  }
};

bool is_digit(char32_t c) { return c >= '0' && c <= '9'; }
bool is_octal(char32_t c) { return c >= '0' && c <= '7'; }
bool is_hex(char32_t c) { return is_digit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }
bool is_ascii_letter(char32_t c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
// Python's WHITESPACE for VERBOSE: " \t\n\r\v\f".
bool is_verbose_space(char32_t c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
// str.isalpha: \w is the letters, the numerics and '_'.
bool is_alpha(std::u32string_view token) {
  if (token.size() != 1) return false;
  char32_t c = token[0];
  return is_ascii_letter(c) || (c >= 0x80 && is_word_char(c) && !is_numeric(c));
}

std::string utf8(std::u32string_view text) {
  std::string out;
  for (char32_t c : text) encode_utf8(out, c);
  return out;
}

// Python's repr of a str, as the messages about group names quote them.
std::string python_repr(std::u32string_view text) {
  bool has_single = text.find(U'\'') != std::u32string_view::npos;
  bool has_double = text.find(U'"') != std::u32string_view::npos;
  char quote = has_single && !has_double ? '"' : '\'';
  std::string out(1, quote);
  static constexpr char kHex[] = "0123456789abcdef";
  for (char32_t c : text) {
    if (c == '\\' || c == static_cast<char32_t>(quote)) {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c == '\t') {
      out += "\\t";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c < 0x20 || (c >= 0x7F && c < 0xA0) || (c >= 0xA0 && is_space(c))) {
      // Python prints other characters that do not print (spaces but ' ') as escapes too.
      int digits = c < 0x100 ? 2 : c < 0x10000 ? 4 : 8;
      out += digits == 2 ? "\\x" : digits == 4 ? "\\u" : "\\U";
      for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4) out += kHex[(c >> shift) & 0xF];
    } else {
      encode_utf8(out, c);
    }
  }
  out += quote;
  return out;
}

std::uint64_t parse_number(std::u32string_view digits, unsigned base) {
  std::uint64_t value = 0;
  for (char32_t c : digits) {
    unsigned d = is_digit(c) ? c - '0' : (c | 0x20) - 'a' + 10;
    value = value * base + d;
    if (value > kMaxRepeat) return kMaxRepeat + 1;  // saturates: every caller refuses it
  }
  return value;
}

RegexNode char_node(char32_t c) {
  RegexNode node;
  node.kind = RegexNode::Kind::kChar;
  node.ch = c;
  return node;
}

RegexNode set_node(CharSet set) {
  if (std::optional<char32_t> c = set.single()) return char_node(*c);
  RegexNode node;
  node.kind = RegexNode::Kind::kSet;
  node.set = std::move(set);
  return node;
}

RegexNode literal_node(char32_t c, const Flags& flags) {
  if (!flags.ignore_case) return char_node(c);
  CharSet set = CharSet::of(c);
  add_case_variants(set, flags.ascii);
  return set_node(std::move(set));
}

RegexNode assert_node(AssertKind kind) {
  RegexNode node;
  node.kind = RegexNode::Kind::kAssert;
  node.assertion = kind;
  return node;
}

// \d \D \s \S \w \W, or nothing for another letter.
std::optional<CharSet> category(char32_t letter, bool ascii) {
  std::optional<CharSet> set;
  switch (letter | 0x20) {
    case 'd':
      set = digit_set(ascii);
      break;
    case 's':
      set = space_set(ascii);
      break;
    case 'w':
      set = word_set(ascii);
      break;
    default:
      return std::nullopt;
  }
  if (letter >= 'A' && letter <= 'Z') set = set->complement();
  return set;
}

// The escapes that stand for one character: \a \f \n \r \t \v \\, and \b inside a class.
std::optional<char32_t> simple_escape(char32_t letter) {
  switch (letter) {
    case 'a':
      return 7;
    case 'f':
      return 12;
    case 'n':
      return 10;
    case 'r':
      return 13;
    case 't':
      return 9;
    case 'v':
      return 11;
    case '\\':
      return '\\';
    default:
      return std::nullopt;
  }
}

class Parser {
 public:
  Parser(std::u32string_view pattern, const RegexFlags& flags) : p_(pattern), end_(pattern.size()) {
    std::size_t trailing = 0;
    while (trailing < p_.size() && p_[p_.size() - 1 - trailing] == '\\') ++trailing;
    if (trailing % 2 == 1) end_ = p_.size() - 1;
    global_.ignore_case = flags.ignore_case;
    global_.multiline = flags.multiline;
    global_.dot_all = flags.dot_all;
    global_.verbose = flags.verbose;
  }

  Result<RegexNode> parse() {
    RegexNode root;
    if (Status s = parse_alternation(global_, 0, true, root); !s.ok()) return s;
    if (global_ascii_ && global_unicode_) {
      return Status::invalid_argument("ASCII and UNICODE flags are incompatible");
    }
    if (!at_end()) return error_here("unbalanced parenthesis");
    if (end_ < p_.size()) return bad_end();
    return root;
  }

 private:
  enum class ItemKind : std::uint8_t { kPlain, kAnchor, kRepeat };
  struct Item {
    RegexNode node;
    ItemKind kind;
  };
  // A class member: a character, or a category (\d, \W, ...) that cannot bound a range.
  struct ClassItem {
    char32_t ch = 0;
    std::optional<CharSet> category;
  };

  // A lone backslash at the end is no token: the pattern ends before it.
  bool at_end() const { return pos_ >= end_; }
  // Whether the next token is the plain character c.
  bool next_is(char32_t c) const { return !at_end() && p_[pos_] == c; }
  bool match(char32_t c) {
    if (!next_is(c)) return false;
    ++pos_;
    return true;
  }
  // The next token: one character, or a backslash with the character after it.
  std::u32string_view get() {
    std::size_t length = p_[pos_] == '\\' && pos_ + 1 < p_.size() ? 2 : 1;
    std::u32string_view token = p_.substr(pos_, length);
    pos_ += length;
    return token;
  }
  // Up to `count` plain characters that satisfy `accept`.
  template <typename Accept>
  std::u32string_view get_while(std::size_t count, Accept accept) {
    std::size_t start = pos_;
    while (pos_ - start < count && !at_end() && accept(p_[pos_])) ++pos_;
    return p_.substr(start, pos_ - start);
  }
  // The tokens up to `terminator`, which is consumed; `what` names them in the messages.
  Status get_until(char32_t terminator, const char* what, std::u32string& out) {
    out.clear();
    while (true) {
      if (at_end()) {
        if (out.empty()) return error_here(std::string("missing ") + what);
        std::string message = "missing ";
        encode_utf8(message, terminator);
        return error_here(message + ", unterminated name", out.size());
      }
      std::u32string_view token = get();
      if (token.size() == 1 && token[0] == terminator) {
        if (out.empty()) return error_here(std::string("missing ") + what, 1);
        return Status();
      }
      out += token;
    }
  }

  Status error(const std::string& message, std::size_t position) const {
    // Python's tokenizer refuses a lone backslash at the end as soon as it reaches it, before the
    // parser can find anything else wrong.
    if (pos_ >= end_ && end_ < p_.size()) return bad_end();
    return error_text(message, position);
  }
  Status bad_end() const { return error_text("bad escape (end of pattern)", end_); }
  Status error_text(const std::string& message, std::size_t position) const {
    std::string text = message + " at position " + std::to_string(position);
    if (p_.find(U'\n') != std::u32string_view::npos) {
      std::size_t line = 1;
      std::size_t line_start = 0;
      for (std::size_t i = 0; i < position && i < p_.size(); ++i) {
        if (p_[i] == '\n') {
          ++line;
          line_start = i + 1;
        }
      }
      text += " (line " + std::to_string(line) + ", column " +
              std::to_string(position - line_start + 1) + ")";
    }
    return Status::invalid_argument(std::move(text));
  }
  Status error_here(const std::string& message, std::size_t back = 0) const {
    return error(message, pos_ - back);
  }
  Status unsupported(const std::string& what, std::size_t position) const {
    return error(what + " not supported", position);
  }

  // a|b|c. `top` for the pattern itself, whose first branch may start with global flags.
  Status parse_alternation(Flags flags, int depth, bool top, RegexNode& out) {
    std::vector<RegexNode> branches;
    while (true) {
      RegexNode branch;
      Status s = parse_sequence(top ? global_ : flags, depth, top && branches.empty(), branch);
      if (!s.ok()) return s;
      branches.push_back(std::move(branch));
      if (!match('|')) break;
    }
    if (branches.size() == 1) {
      out = std::move(branches[0]);
    } else {
      out.kind = RegexNode::Kind::kAlternate;
      out.children = std::move(branches);
    }
    return Status();
  }

  Status parse_sequence(Flags flags, int depth, bool first, RegexNode& out) {
    std::vector<Item> items;
    while (!at_end() && p_[pos_] != '|' && p_[pos_] != ')') {
      std::size_t start = pos_;
      std::u32string_view token = get();
      char32_t c = token[0];
      if (++item_count_ > kMaxItems) return Status::invalid_argument("pattern too large");
      if (flags.verbose && is_verbose_space(c)) continue;
      if (flags.verbose && c == '#') {
        while (!at_end() && get() != U"\n") {
        }
        continue;
      }
      Status s;
      switch (c) {
        case '\\':
          s = parse_escape(token, start, flags, items);
          break;
        case '[': {
          RegexNode node;
          s = parse_class(start, flags, node);
          items.push_back({std::move(node), ItemKind::kPlain});
          break;
        }
        case '.': {
          RegexNode node;
          node.kind = flags.dot_all ? RegexNode::Kind::kAnyChar : RegexNode::Kind::kAnyButNewline;
          items.push_back({std::move(node), ItemKind::kPlain});
          break;
        }
        case '^':
          items.push_back(
              {assert_node(flags.multiline ? AssertKind::kBeginLine : AssertKind::kBeginText),
               ItemKind::kAnchor});
          break;
        case '$':
          items.push_back({assert_node(flags.multiline ? AssertKind::kEndLine : AssertKind::kEnd),
                           ItemKind::kAnchor});
          break;
        case '*':
        case '+':
        case '?':
        case '{':
          s = parse_repeat(c, start, flags, items);
          break;
        case '(':
          s = parse_group(start, flags, depth, first, items);
          break;
        default:
          items.push_back({literal_node(c, flags), ItemKind::kPlain});
          break;
      }
      if (!s.ok()) return s;
    }
    if (items.size() == 1) {
      out = std::move(items[0].node);
    } else if (!items.empty()) {
      out.kind = RegexNode::Kind::kConcat;
      for (Item& item : items) out.children.push_back(std::move(item.node));
    }
    return Status();
  }

  Status parse_repeat(char32_t c, std::size_t start, const Flags& flags, std::vector<Item>& items) {
    std::uint64_t min = c == '+' ? 1 : 0;
    std::uint64_t max = c == '?' ? 1 : kMaxRepeat;
    if (c == '{') {
      std::size_t here = pos_;
      if (next_is('}')) {
        items.push_back({literal_node(c, flags), ItemKind::kPlain});
        return Status();
      }
      std::u32string_view lo = get_while(p_.size(), is_digit);
      std::u32string_view hi = lo;
      if (match(',')) hi = get_while(p_.size(), is_digit);
      if (!match('}')) {
        items.push_back({literal_node(c, flags), ItemKind::kPlain});
        pos_ = here;
        return Status();
      }
      if (!lo.empty()) min = parse_number(lo, 10);
      if (!hi.empty()) max = parse_number(hi, 10);
      if (min >= kMaxRepeat || (!hi.empty() && max >= kMaxRepeat)) {
        return Status::invalid_argument("the repetition number is too large");
      }
      if (max < min) return error("min repeat greater than max repeat", here);
    }
    if (items.empty() || items.back().kind == ItemKind::kAnchor) {
      return error("nothing to repeat", start);
    }
    if (items.back().kind == ItemKind::kRepeat) return error("multiple repeat", start);
    // A lazy quantifier matches where the greedy one does: only the choice of match differs.
    if (!match('?') && next_is('+')) return unsupported("possessive quantifiers are", pos_);
    RegexNode node;
    node.kind = RegexNode::Kind::kRepeat;
    node.min = static_cast<std::uint32_t>(min);
    node.max = static_cast<std::uint32_t>(max);
    node.children.push_back(std::move(items.back().node));
    items.back() = {std::move(node), ItemKind::kRepeat};
    return Status();
  }

  Status parse_escape(std::u32string_view token, std::size_t start, const Flags& flags,
                      std::vector<Item>& items) {
    char32_t letter = token[1];
    switch (letter) {
      case 'A':
        items.push_back({assert_node(AssertKind::kBeginText), ItemKind::kAnchor});
        return Status();
      case 'Z':
        items.push_back({assert_node(AssertKind::kEndText), ItemKind::kAnchor});
        return Status();
      case 'b':
        items.push_back(
            {assert_node(flags.ascii ? AssertKind::kAsciiWordBoundary : AssertKind::kWordBoundary),
             ItemKind::kAnchor});
        return Status();
      case 'B':
        items.push_back({assert_node(flags.ascii ? AssertKind::kAsciiNotWordBoundary
                                                 : AssertKind::kNotWordBoundary),
                         ItemKind::kAnchor});
        return Status();
      default:
        break;
    }
    if (std::optional<CharSet> set = category(letter, flags.ascii)) {
      // Case is never folded for a category: (?i)\w is \w.
      items.push_back({set_node(std::move(*set)), ItemKind::kPlain});
      return Status();
    }
    char32_t value = 0;
    if (std::optional<char32_t> simple = simple_escape(letter)) {
      value = *simple;
    } else if (letter >= '1' && letter <= '9') {
      bool is_literal = false;
      if (Status s = parse_group_reference(letter, start, value, is_literal); !s.ok()) return s;
      if (!is_literal) return unsupported("backreferences are", start);
    } else if (Status s = parse_code_escape(token, start, false, value); !s.ok()) {
      return s;
    }
    items.push_back({literal_node(value, flags), ItemKind::kPlain});
    return Status();
  }

  // \1 to \99: a group reference, unless three octal digits make an octal escape.
  Status parse_group_reference(char32_t first, std::size_t start, char32_t& value,
                               bool& is_literal) {
    std::u32string digits(1, first);
    if (!at_end() && is_digit(p_[pos_])) {
      digits += p_[pos_++];
      if (is_octal(digits[0]) && is_octal(digits[1]) && !at_end() && is_octal(p_[pos_])) {
        digits += p_[pos_++];
        std::uint64_t code = parse_number(digits, 8);
        if (code > 0377) {
          return error("octal escape value \\" + utf8(digits) + " outside of range 0-0o377", start);
        }
        value = static_cast<char32_t>(code);
        is_literal = true;
        return Status();
      }
    }
    std::uint64_t group = parse_number(digits, 10);
    if (group >= group_count_) {
      return error("invalid group reference " + std::to_string(group), start + 1);
    }
    if (!closed_[group]) return error("cannot refer to an open group", start);
    return Status();
  }

  // The escapes with a code: \x \u \U \N and the octal escapes; a bad escape otherwise.
  Status parse_code_escape(std::u32string_view token, std::size_t start, bool in_class,
                           char32_t& value) {
    char32_t letter = token[1];
    std::size_t hex_digits = letter == 'x' ? 2 : letter == 'u' ? 4 : letter == 'U' ? 8 : 0;
    if (hex_digits != 0) {
      std::u32string_view digits = get_while(hex_digits, is_hex);
      std::string escape = "\\" + utf8(token.substr(1)) + utf8(digits);
      if (digits.size() != hex_digits) return error("incomplete escape " + escape, start);
      std::uint64_t code = 0;
      for (char32_t d : digits) code = code * 16 + (is_digit(d) ? d - '0' : (d | 0x20) - 'a' + 10);
      if (code > kMaxCodePoint) return error("bad escape " + escape, start);
      value = static_cast<char32_t>(code);
      return Status();
    }
    if (letter == 'N') {
      if (!match('{')) return error_here("missing {");
      std::u32string name;
      if (Status s = get_until('}', "character name", name); !s.ok()) return s;
      return unsupported("named Unicode escapes \\N{...} are", start);
    }
    if (letter == '0' || (in_class && is_octal(letter))) {
      std::u32string digits(1, letter);
      digits += get_while(2, is_octal);
      std::uint64_t code = parse_number(digits, 8);
      if (code > 0377) {
        return error("octal escape value \\" + utf8(digits) + " outside of range 0-0o377", start);
      }
      value = static_cast<char32_t>(code);
      return Status();
    }
    if (is_ascii_letter(letter) || is_digit(letter)) {
      return error("bad escape " + utf8(token), start);
    }
    value = letter;
    return Status();
  }

  Status parse_class(std::size_t start, const Flags& flags, RegexNode& out) {
    bool negate = match('^');
    CharSet members;
    CharSet categories;
    bool any = false;
    auto add = [&](const ClassItem& item) {
      if (item.category) {
        categories.add(*item.category);
      } else {
        members.add(item.ch, item.ch);
      }
    };
    while (true) {
      if (at_end()) return error("unterminated character set", start);
      std::size_t this_start = pos_;
      std::u32string_view this_token = get();
      if (this_token == U"]" && any) break;
      any = true;
      ClassItem first;
      if (Status s = class_item(this_token, this_start, flags, first); !s.ok()) return s;
      if (!match('-')) {
        add(first);
        continue;
      }
      if (at_end()) return error("unterminated character set", start);
      std::size_t that_start = pos_;
      std::u32string_view that_token = get();
      if (that_token == U"]") {
        add(first);
        members.add('-', '-');
        break;
      }
      ClassItem last;
      if (Status s = class_item(that_token, that_start, flags, last); !s.ok()) return s;
      if (first.category || last.category || last.ch < first.ch) {
        // Python counts back the lengths of the two tokens, short of the digits of an escape.
        return error_here("bad character range " + utf8(this_token) + "-" + utf8(that_token),
                          this_token.size() + 1 + that_token.size());
      }
      members.add(first.ch, last.ch);
    }
    // Case folds the characters and ranges of a class, never its categories.
    if (flags.ignore_case) add_case_variants(members, flags.ascii);
    members.add(categories);
    out = set_node(negate ? members.complement() : std::move(members));
    return Status();
  }

  Status class_item(std::u32string_view token, std::size_t start, const Flags& flags,
                    ClassItem& item) {
    if (token[0] != '\\' || token.size() != 2) {
      item.ch = token[0];
      return Status();
    }
    char32_t letter = token[1];
    if (letter == 'b') {
      item.ch = '\b';
    } else if (std::optional<char32_t> simple = simple_escape(letter)) {
      item.ch = *simple;
    } else if (std::optional<CharSet> set = category(letter, flags.ascii)) {
      item.category = std::move(set);
    } else {
      return parse_code_escape(token, start, true, item.ch);
    }
    return Status();
  }

  // A group, lookaround, comment or flags; global flags change `flags`, those of the sequence.
  Status parse_group(std::size_t start, Flags& flags, int depth, bool first,
                     std::vector<Item>& items) {
    Flags inner = flags;
    std::optional<std::u32string> name;
    bool capture = true;
    RegexNode look;
    bool is_look = false;
    if (match('?')) {
      if (at_end()) return error_here("unexpected end of pattern");
      std::u32string_view token = get();
      char32_t c = token.size() == 1 ? token[0] : 0;
      if (c == 'P') {
        if (match('<')) {
          name.emplace();
          if (Status s = get_until('>', "group name", *name); !s.ok()) return s;
          if (!is_identifier(*name)) {
            return error_here("bad character in group name " + python_repr(*name),
                              name->size() + 1);
          }
        } else if (match('=')) {
          return parse_named_reference(start);
        } else {
          if (at_end()) return error_here("unexpected end of pattern");
          std::u32string_view next = get();
          return error_here("unknown extension ?P" + utf8(next), next.size() + 2);
        }
      } else if (c == ':') {
        capture = false;
      } else if (c == '#') {
        while (true) {
          if (at_end()) return error("missing ), unterminated comment", start);
          if (get() == U")") return Status();
        }
      } else if (c == '=' || c == '!' || c == '<') {
        look.kind = RegexNode::Kind::kLook;
        if (c == '<') {
          if (at_end()) return error_here("unexpected end of pattern");
          std::u32string_view next = get();
          if (next != U"=" && next != U"!") {
            return error_here("unknown extension ?<" + utf8(next), next.size() + 2);
          }
          look.behind = true;
          c = next[0];
        }
        look.negate = c == '!';
        is_look = true;
        capture = false;
      } else if (c == '(') {
        return unsupported("conditional groups are", start);
      } else if (c == '>') {
        return unsupported("atomic groups are", start);
      } else if (flag_bit(token) != 0 || c == '-') {
        bool global = false;
        if (Status s = parse_flags(token, start, first && items.empty(), inner, global); !s.ok()) {
          return s;
        }
        if (global) {
          flags = inner;
          return Status();
        }
        capture = false;
      } else {
        return error_here("unknown extension ?" + utf8(token), token.size() + 1);
      }
    }
    std::size_t group = 0;
    if (capture) {
      group = group_count_++;
      closed_.push_back(false);
      if (name) {
        auto [it, added] = group_names_.emplace(*name, group);
        if (!added) {
          return error_here("redefinition of group name " + python_repr(*name) + " as group " +
                                std::to_string(group) + "; was group " + std::to_string(it->second),
                            name->size() + 1);
        }
      }
    }
    if (depth >= kMaxNesting) {
      return error("groups nested too deeply (more than " + std::to_string(kMaxNesting) + ")",
                   start);
    }
    RegexNode body;
    if (Status s = parse_alternation(inner, depth + 1, false, body); !s.ok()) return s;
    if (!match(')')) return error("missing ), unterminated subpattern", start);
    if (capture) closed_[group] = true;
    if (is_look) {
      look.children.push_back(std::move(body));
      body = std::move(look);
    }
    items.push_back({std::move(body), ItemKind::kPlain});
    return Status();
  }

  // (?P=name), after the '='.
  Status parse_named_reference(std::size_t start) {
    std::u32string name;
    if (Status s = get_until(')', "group name", name); !s.ok()) return s;
    if (!is_identifier(name)) {
      return error_here("bad character in group name " + python_repr(name), name.size() + 1);
    }
    auto it = group_names_.find(name);
    if (it == group_names_.end()) {
      return error_here("unknown group name " + python_repr(name), name.size() + 1);
    }
    if (!closed_[it->second]) return error_here("cannot refer to an open group", name.size() + 1);
    return unsupported("backreferences are", start);
  }

  // (?aiLmsux) sets global flags (`global` comes back true); (?flags-flags: opens a group with
  // `inner` changed. `token` is the first flag letter or '-'.
  Status parse_flags(std::u32string_view token, std::size_t start, bool first, Flags& inner,
                     bool& global) {
    unsigned add = 0;
    unsigned del = 0;
    if (token != U"-") {
      while (true) {
        unsigned bit = flag_bit(token);
        if (bit == kFlagL) {
          return error_here("bad inline flags: cannot use 'L' flag with a str pattern");
        }
        add |= bit;
        if ((bit & kTypeFlags) != 0 && (add & kTypeFlags) != bit) {
          return error_here("bad inline flags: flags 'a', 'u' and 'L' are incompatible");
        }
        if (at_end()) return error_here("missing -, : or )");
        token = get();
        if (token == U")" || token == U"-" || token == U":") break;
        if (flag_bit(token) == 0) {
          return error_here(is_alpha(token) ? "unknown flag" : "missing -, : or )", token.size());
        }
      }
    }
    if (token == U")") {
      if ((add & kFlagT) != 0) return unsupported("the 't' flag is", start);
      if (!first) return error("global flags not at the start of the expression", start);
      global_.apply(add, 0);
      inner.apply(add, 0);
      global_ascii_ = global_ascii_ || (add & kFlagA) != 0;
      global_unicode_ = global_unicode_ || (add & kFlagU) != 0;
      global = true;
      return Status();
    }
    if ((add & kGlobalOnlyFlags) != 0) {
      return error_here("bad inline flags: cannot turn on global flag", 1);
    }
    if (token == U"-") {
      if (at_end()) return error_here("missing flag");
      token = get();
      if (flag_bit(token) == 0) {
        return error_here(is_alpha(token) ? "unknown flag" : "missing flag", token.size());
      }
      while (true) {
        unsigned bit = flag_bit(token);
        if ((bit & kTypeFlags) != 0) {
          return error_here("bad inline flags: cannot turn off flags 'a', 'u' and 'L'");
        }
        del |= bit;
        if (at_end()) return error_here("missing :");
        token = get();
        if (token == U":") break;
        if (flag_bit(token) == 0) {
          return error_here(is_alpha(token) ? "unknown flag" : "missing :", token.size());
        }
      }
    }
    if ((del & kGlobalOnlyFlags) != 0) {
      return error_here("bad inline flags: cannot turn off global flag", 1);
    }
    if ((add & del) != 0) return error_here("bad inline flags: flag turned on and off", 1);
    inner.apply(add, del);
    return Status();
  }

  std::u32string_view p_;
  std::size_t end_;  // p_.size(), or one less for a lone backslash at the end
  std::size_t pos_ = 0;
  std::size_t item_count_ = 0;
  // The flags of the whole pattern: the caller's, then those of leading (?flags).
  Flags global_;
  bool global_ascii_ = false;
  bool global_unicode_ = false;
  // Groups as Python numbers them: group 0 is the whole match, closed from the start.
  std::uint64_t group_count_ = 1;
  std::vector<bool> closed_{true};
  std::map<std::u32string, std::size_t> group_names_;
};

}  // namespace

Result<RegexNode> parse_regex(std::u32string_view pattern, const RegexFlags& flags) {
  return Parser(pattern, flags).parse();
}

}  // namespace zarvel::regex_detail
