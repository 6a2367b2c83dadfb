// The compiled form of a regular expression: instructions for the matcher (regex_vm) and what the
// fast paths of Regex::search need to know.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/status.h"
#include "query/regex_ast.h"
#include "query/regex_charset.h"

namespace zarvel::regex_detail {

// The most instructions a program may have. Counted repetition copies its body, so this is what
// bounds the memory of a pattern and the work per character of text.
inline constexpr std::size_t kMaxProgramSize = 20000;
// The most ranges the distinct sets of a program may hold together (8 bytes each); \w alone has
// about 750.
inline constexpr std::size_t kMaxSetRanges = 1 << 17;

enum class Op : std::uint8_t {
  kChar,           // consumes the code point `arg`
  kSet,            // consumes a code point of sets[arg]
  kAnyChar,        // consumes any code point
  kAnyButNewline,  // consumes any code point but \n
  kJump,           // goes on at `arg`
  kSplit,          // goes on at both `arg` and `alt`
  kAssert,         // goes on if `assertion` holds here
  kLook,           // goes on if looks[arg] holds here
  kMatch,
};

struct Inst {
  Op op;
  AssertKind assertion;
  std::uint32_t arg;
  std::uint32_t alt;
};

// A set as the matcher reads it: a bitmap below U+0080, sorted ranges above.
struct CompiledSet {
  std::uint64_t ascii[2] = {0, 0};
  std::vector<CharSet::Range> ranges;

  explicit CompiledSet(const CharSet& set);
  bool contains(char32_t c) const noexcept {
    if (c < 0x80) return ((ascii[c >> 6] >> (c & 63)) & 1) != 0;
    return contains_above_ascii(c);
  }

 private:
  bool contains_above_ascii(char32_t c) const noexcept;
};

// A lookaround: its body runs from `start`, anchored, and ends in kMatch. A lookbehind starts
// `width` code points back; Python allows only bodies of one fixed width, so a match of the body
// from there ends exactly where the lookbehind stands.
struct LookAround {
  std::uint32_t start;
  std::uint32_t width;
  bool behind;
  bool negate;
};

// The program as a bit-parallel automaton, when it has at most 63 consuming instructions, no
// lookaround and at most kMaxKinds kinds of assertion: a set of states is one 64-bit word, and the
// states that follow are looked up, not searched for.
struct BitNfa {
  static constexpr std::uint64_t kMatchBit = std::uint64_t{1} << 63;
  static constexpr std::size_t kMaxKinds = 4;

  std::vector<std::uint32_t> state_pcs;  // the consuming instruction of each state bit
  // The assertion kinds of the program; bit j of a context says whether kinds[j] holds.
  std::vector<AssertKind> kinds;
  // By context: the states reached from the start, and (64 to a context) from each state once it
  // has consumed; kMatchBit when the final state is among them.
  std::vector<std::uint64_t> start;
  std::vector<std::uint64_t> follow;
  std::uint64_t ascii[128] = {};  // the states that consume each ASCII character
};

struct Program {
  // Whether the consuming instruction `inst` takes the code point c.
  bool consumes(const Inst& inst, char32_t c) const noexcept {
    switch (inst.op) {
      case Op::kChar:
        return c == inst.arg;
      case Op::kSet:
        return sets[inst.arg].contains(c);
      case Op::kAnyChar:
        return true;
      case Op::kAnyButNewline:
        return c != '\n';
      default:
        return false;
    }
  }

  // How search answers without the matcher.
  enum class Shape : std::uint8_t {
    kGeneral,
    kLiteral,        // the pattern is `prefix` (after `anchored`'s \A or ^)
    kFoldedLiteral,  // the pattern is `folded` with ASCII letters in either case
  };

  std::vector<Inst> insts;  // the pattern from 0
  std::vector<CompiledSet> sets;
  std::vector<LookAround> looks;

  Shape shape = Shape::kGeneral;
  bool anchored = false;  // every match starts at the start of the text
  std::string prefix;     // bytes that every match starts with
  std::string required;   // bytes that every match contains, other than the prefix
  // The bytes a match can start with; the outer search skips to the next of them. Not set when
  // a match can be empty or its start byte is anything.
  bool use_first_bytes = false;
  std::uint64_t first_bytes[4] = {0, 0, 0, 0};
  // kFoldedLiteral: the bytes with letters in lowercase, and 0x20 where case is ignored.
  std::string folded;
  std::string fold_mask;
  // Some folded letter also matches a non-ASCII character (k and the Kelvin sign K, s and long
  // s): the byte comparison holds only for an ASCII text.
  bool folded_needs_ascii_text = false;
  // Set when the program is small enough.
  std::optional<BitNfa> bit_nfa;

  // The first offset at or after `pos` where a match can start, by the prefix or the first bytes
  // (`pos` itself, even at the end, when neither is known); npos when there is none.
  std::size_t next_start(std::string_view text, std::size_t pos) const noexcept;
  // Whether a match can start at `pos`, by the first bytes.
  bool may_start_at(std::string_view text, std::size_t pos) const noexcept {
    if (!use_first_bytes) return true;
    if (pos >= text.size()) return false;
    auto byte = static_cast<unsigned char>(text[pos]);
    return ((first_bytes[byte >> 6] >> (byte & 63)) & 1) != 0;
  }
};

// What a walk of the instructions reachable without consuming does after visiting one.
enum class Walk { kEnd, kNext, kStop };  // go no further from it, go on at the next, end the walk

// Visits each instruction reachable from `start` without consuming, once: Jump and Split are
// followed here, every other instruction goes to `visit(pc, inst)`, which says how to go on.
// False when `visit` ended the walk.
template <class Visit>
bool walk_without_consuming(const Program& program, std::uint32_t start, Visit visit) {
  std::vector<bool> seen(program.insts.size());
  std::vector<std::uint32_t> stack = {start};
  while (!stack.empty()) {
    std::uint32_t pc = stack.back();
    stack.pop_back();
    if (seen[pc]) continue;
    seen[pc] = true;
    const Inst& inst = program.insts[pc];
    if (inst.op == Op::kJump) {
      stack.push_back(inst.arg);
    } else if (inst.op == Op::kSplit) {
      stack.push_back(inst.alt);
      stack.push_back(inst.arg);
    } else {
      Walk next = visit(pc, inst);
      if (next == Walk::kStop) return false;
      if (next == Walk::kNext) stack.push_back(pc + 1);
    }
  }
  return true;
}

// Compiles a parsed pattern. Fails with kInvalidArgument "look-behind requires fixed-width
// pattern" (Python's message), or "pattern too large" past kMaxProgramSize instructions or
// kMaxSetRanges ranges.
Result<Program> compile_program(const RegexNode& root);

}  // namespace zarvel::regex_detail
