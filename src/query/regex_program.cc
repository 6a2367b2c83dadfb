#include "query/regex_program.h"

#include <algorithm>
#include <unordered_map>
#include <utility>

#include "base/utf8.h"
#include "query/regex_bit_nfa.h"

namespace zarvel::regex_detail {

CompiledSet::CompiledSet(const CharSet& set) {
  for (const CharSet::Range& r : set.ranges()) {
    for (char32_t c = r.lo; c <= r.hi && c < 0x80; ++c)
      ascii[c >> 6] |= std::uint64_t{1} << (c & 63);
    if (r.hi >= 0x80) ranges.push_back({std::max<char32_t>(r.lo, 0x80), r.hi});
  }
}

bool CompiledSet::contains_above_ascii(char32_t c) const noexcept {
  auto it = std::lower_bound(ranges.begin(), ranges.end(), c,
                             [](const CharSet::Range& r, char32_t v) { return r.hi < v; });
  return it != ranges.end() && it->lo <= c;
}

std::size_t Program::next_start(std::string_view text, std::size_t pos) const noexcept {
  if (!prefix.empty()) return text.find(prefix, pos);
  if (!use_first_bytes) return pos;
  while (pos < text.size() && !may_start_at(text, pos)) ++pos;
  return pos < text.size() ? pos : std::string_view::npos;
}

namespace {

constexpr std::uint64_t kInfiniteWidth = std::uint64_t{1} << 40;

struct Width {
  std::uint64_t lo;
  std::uint64_t hi;
};

std::uint64_t times(std::uint64_t width, std::uint32_t count) {
  if (width == 0) return 0;
  if (count == kUnbounded) return kInfiniteWidth;
  return std::min(width * count, kInfiniteWidth);
}

// The fewest and most code points a node can match, as Python's getwidth counts them.
Width width_of(const RegexNode& node) {
  switch (node.kind) {
    case RegexNode::Kind::kChar:
    case RegexNode::Kind::kSet:
    case RegexNode::Kind::kAnyChar:
    case RegexNode::Kind::kAnyButNewline:
      return {1, 1};
    case RegexNode::Kind::kConcat: {
      Width sum{0, 0};
      for (const RegexNode& child : node.children) {
        Width w = width_of(child);
        sum.lo = std::min(sum.lo + w.lo, kInfiniteWidth);
        sum.hi = std::min(sum.hi + w.hi, kInfiniteWidth);
      }
      return sum;
    }
    case RegexNode::Kind::kAlternate: {
      Width range{kInfiniteWidth, 0};
      for (const RegexNode& child : node.children) {
        Width w = width_of(child);
        range.lo = std::min(range.lo, w.lo);
        range.hi = std::max(range.hi, w.hi);
      }
      return range;
    }
    case RegexNode::Kind::kRepeat: {
      Width w = width_of(node.children[0]);
      return {times(w.lo, node.min), times(w.hi, node.max)};
    }
    default:
      return {0, 0};
  }
}

// Python checks every lookbehind, even one that a {0} repetition leaves out of the program.
Status check_lookbehinds(const RegexNode& node) {
  if (node.kind == RegexNode::Kind::kLook && node.behind) {
    Width w = width_of(node.children[0]);
    if (w.lo != w.hi) return Status::invalid_argument("look-behind requires fixed-width pattern");
  }
  for (const RegexNode& child : node.children) {
    if (Status s = check_lookbehinds(child); !s.ok()) return s;
  }
  return Status();
}

class Compiler {
 public:
  Result<Program> compile(const RegexNode& root) {
    if (Status s = check_lookbehinds(root); !s.ok()) return s;
    emit(root);
    push({Op::kMatch, {}, 0, 0});
    // Bodies of lookarounds follow the pattern; compiling one may queue more.
    for (std::size_t i = 0; i < look_bodies_.size() && status_.ok(); ++i) {
      program_.looks[i].start = static_cast<std::uint32_t>(program_.insts.size());
      emit(*look_bodies_[i]);
      push({Op::kMatch, {}, 0, 0});
    }
    if (!status_.ok()) return std::move(status_);
    return std::move(program_);
  }

 private:
  std::uint32_t push(Inst inst) {
    if (program_.insts.size() >= kMaxProgramSize && status_.ok()) {
      status_ = Status::invalid_argument("pattern too large");
    }
    program_.insts.push_back(inst);
    return static_cast<std::uint32_t>(program_.insts.size() - 1);
  }
  std::uint32_t here() const { return static_cast<std::uint32_t>(program_.insts.size()); }

  void emit(const RegexNode& node) {
    if (!status_.ok()) return;
    switch (node.kind) {
      case RegexNode::Kind::kEmpty:
        return;
      case RegexNode::Kind::kChar:
        push({Op::kChar, {}, node.ch, 0});
        return;
      case RegexNode::Kind::kSet:
        push({Op::kSet, {}, set_index(node), 0});
        return;
      case RegexNode::Kind::kAnyChar:
        push({Op::kAnyChar, {}, 0, 0});
        return;
      case RegexNode::Kind::kAnyButNewline:
        push({Op::kAnyButNewline, {}, 0, 0});
        return;
      case RegexNode::Kind::kAssert:
        push({Op::kAssert, node.assertion, 0, 0});
        return;
      case RegexNode::Kind::kLook: {
        std::uint32_t look = look_index(node);
        if (status_.ok()) push({Op::kLook, {}, look, 0});
        return;
      }
      case RegexNode::Kind::kConcat:
        for (const RegexNode& child : node.children) emit(child);
        return;
      case RegexNode::Kind::kAlternate:
        emit_alternate(node);
        return;
      case RegexNode::Kind::kRepeat:
        emit_repeat(node);
        return;
    }
  }

  void emit_alternate(const RegexNode& node) {
    std::vector<std::uint32_t> exits;
    for (std::size_t i = 0; i + 1 < node.children.size() && status_.ok(); ++i) {
      std::uint32_t split = push({Op::kSplit, {}, here() + 1, 0});
      emit(node.children[i]);
      exits.push_back(push({Op::kJump, {}, 0, 0}));
      program_.insts[split].alt = here();
    }
    emit(node.children.back());
    for (std::uint32_t exit : exits) program_.insts[exit].arg = here();
  }

  void emit_repeat(const RegexNode& node) {
    const RegexNode& body = node.children[0];
    if (node.max == kUnbounded) {
      if (node.min == 0) {
        std::uint32_t split = push({Op::kSplit, {}, here() + 1, 0});
        emit(body);
        push({Op::kJump, {}, split, 0});
        program_.insts[split].alt = here();
        return;
      }
      for (std::uint32_t i = 1; i < node.min && status_.ok(); ++i) emit(body);
      std::uint32_t loop = here();
      emit(body);
      push({Op::kSplit, {}, loop, here() + 1});
      return;
    }
    for (std::uint32_t i = 0; i < node.min && status_.ok(); ++i) emit(body);
    std::vector<std::uint32_t> skips;
    for (std::uint32_t i = node.min; i < node.max && status_.ok(); ++i) {
      skips.push_back(push({Op::kSplit, {}, here() + 1, 0}));
      emit(body);
    }
    for (std::uint32_t skip : skips) program_.insts[skip].alt = here();
  }

  // Equal sets share one entry, as do the copies of a node that counted repetition makes.
  std::uint32_t set_index(const RegexNode& node) {
    auto [it, added] = set_indexes_.emplace(&node, program_.sets.size());
    if (!added) return static_cast<std::uint32_t>(it->second);
    std::uint64_t hash = node.set.ranges().size();
    for (const CharSet::Range& r : node.set.ranges())
      hash = (hash * 0x100000001B3) ^ r.lo ^ (std::uint64_t{r.hi} << 21);
    std::vector<std::uint32_t>& same_hash = sets_by_hash_[hash];
    for (std::uint32_t index : same_hash) {
      if (*set_sources_[index] == node.set) {
        it->second = index;
        return index;
      }
    }
    set_ranges_ += node.set.ranges().size();
    if (set_ranges_ > kMaxSetRanges && status_.ok()) {
      status_ = Status::invalid_argument("pattern too large");
    }
    same_hash.push_back(static_cast<std::uint32_t>(program_.sets.size()));
    set_sources_.push_back(&node.set);
    program_.sets.emplace_back(node.set);
    return static_cast<std::uint32_t>(it->second);
  }

  std::uint32_t look_index(const RegexNode& node) {
    auto [it, added] = look_indexes_.emplace(&node, program_.looks.size());
    if (added) {
      std::uint32_t width = 0;
      if (node.behind) {
        Width w = width_of(node.children[0]);
        width = static_cast<std::uint32_t>(std::min<std::uint64_t>(w.lo, kUnbounded));
      }
      program_.looks.push_back({0, width, node.behind, node.negate});
      look_bodies_.push_back(&node.children[0]);
    }
    return static_cast<std::uint32_t>(it->second);
  }

  Program program_;
  Status status_;
  std::unordered_map<const RegexNode*, std::size_t> set_indexes_;
  std::unordered_map<std::uint64_t, std::vector<std::uint32_t>> sets_by_hash_;
  std::vector<const CharSet*> set_sources_;  // by set index
  std::size_t set_ranges_ = 0;
  std::unordered_map<const RegexNode*, std::size_t> look_indexes_;
  std::vector<const RegexNode*> look_bodies_;
};

void flatten(const RegexNode& node, std::vector<const RegexNode*>& atoms) {
  if (node.kind == RegexNode::Kind::kConcat) {
    for (const RegexNode& child : node.children) flatten(child, atoms);
  } else if (node.kind != RegexNode::Kind::kEmpty) {
    atoms.push_back(&node);
  }
}

bool is_char(const RegexNode* node) { return node->kind == RegexNode::Kind::kChar; }

// The lowercase ASCII letter a set stands for when its ASCII members are just that letter in both
// cases; 0 otherwise.
char folded_letter(const CompiledSet& set) {
  for (char letter = 'a'; letter <= 'z'; ++letter) {
    unsigned lower = static_cast<unsigned char>(letter);
    unsigned upper = lower - 0x20;
    std::uint64_t want[2] = {0, 0};
    want[lower >> 6] |= std::uint64_t{1} << (lower & 63);
    want[upper >> 6] |= std::uint64_t{1} << (upper & 63);
    if (set.ascii[0] == want[0] && set.ascii[1] == want[1]) return letter;
  }
  return 0;
}

void add_first_bytes(Program& program, char32_t lo, char32_t hi) {
  auto add = [&](unsigned byte) {
    program.first_bytes[byte >> 6] |= std::uint64_t{1} << (byte & 63);
  };
  for (char32_t c = lo; c <= std::min<char32_t>(hi, 0x7F); ++c) add(c);
  if (hi < 0x80) return;
  // The lead bytes of the non-ASCII part of the range: C2-DF, E0-EF and F0-F4 by length.
  std::string lead;
  encode_utf8(lead, std::max<char32_t>(lo, 0x80));
  std::string last;
  encode_utf8(last, hi);
  for (unsigned b = static_cast<unsigned char>(lead[0]); b <= static_cast<unsigned char>(last[0]);
       ++b) {
    add(b);
  }
}

// The bytes the first character of a match can start with: every consuming instruction reachable
// from the start without consuming, assertions and lookarounds taken to hold. None (and no
// filter) when the final state is reachable that way, or any byte can start a match.
void find_first_bytes(Program& program) {
  program.use_first_bytes =
      walk_without_consuming(program, 0, [&](std::uint32_t, const Inst& inst) {
        switch (inst.op) {
          case Op::kChar:
            add_first_bytes(program, inst.arg, inst.arg);
            return Walk::kEnd;
          case Op::kSet:
            for (const CharSet::Range& r : program.sets[inst.arg].ranges)
              add_first_bytes(program, r.lo, r.hi);
            for (unsigned c = 0; c < 0x80; ++c) {
              if (program.sets[inst.arg].contains(c)) add_first_bytes(program, c, c);
            }
            return Walk::kEnd;
          case Op::kAssert:
          case Op::kLook:
            return Walk::kNext;
          default:  // any character, or the end: every byte may start a match
            return Walk::kStop;
        }
      });
}

// Fills in what lets search skip the matcher or most of the text: the atoms of the top-level
// sequence, which every match goes through in order.
void analyze(const RegexNode& root, Program& program) {
  find_first_bytes(program);
  std::vector<const RegexNode*> atoms;
  flatten(root, atoms);
  std::size_t first = 0;
  if (!atoms.empty() && atoms[0]->kind == RegexNode::Kind::kAssert &&
      atoms[0]->assertion == AssertKind::kBeginText) {
    program.anchored = true;
    first = 1;
  }
  std::size_t end = first;
  while (end < atoms.size() && is_char(atoms[end])) encode_utf8(program.prefix, atoms[end++]->ch);
  if (end == atoms.size()) {
    program.shape = Program::Shape::kLiteral;
    return;
  }
  // A required literal: the longest run of characters after the prefix.
  std::size_t best_start = first;
  std::size_t best_length = 0;
  for (std::size_t i = end; i < atoms.size();) {
    std::size_t j = i;
    while (j < atoms.size() && is_char(atoms[j])) ++j;
    if (j - i > best_length) {
      best_start = i;
      best_length = j - i;
    }
    i = j == i ? i + 1 : j;
  }
  if (best_length > 0) {
    for (std::size_t i = best_start; i < best_start + best_length; ++i) {
      encode_utf8(program.required, atoms[i]->ch);
    }
  }
  // A literal with letters in either case, as (?i)ann is.
  std::string folded;
  std::string mask;
  bool needs_ascii = false;
  bool any_folded = false;
  for (std::size_t i = first; i < atoms.size(); ++i) {
    const RegexNode& atom = *atoms[i];
    if (atom.kind == RegexNode::Kind::kChar && atom.ch < 0x80) {
      folded += static_cast<char>(atom.ch);
      mask += '\0';
      continue;
    }
    if (atom.kind != RegexNode::Kind::kSet) return;
    CompiledSet set(atom.set);
    char letter = folded_letter(set);
    if (letter == 0) return;
    folded += letter;
    mask += static_cast<char>(0x20);
    needs_ascii = needs_ascii || !set.ranges.empty();
    any_folded = true;
  }
  if (!any_folded) return;
  program.shape = Program::Shape::kFoldedLiteral;
  program.folded = std::move(folded);
  program.fold_mask = std::move(mask);
  program.folded_needs_ascii_text = needs_ascii;
}

}  // namespace

Result<Program> compile_program(const RegexNode& root) {
  Result<Program> compiled = Compiler().compile(root);
  if (!compiled.ok()) return compiled;
  analyze(root, compiled.value());
  compiled.value().bit_nfa = build_bit_nfa(compiled.value());
  return compiled;
}

}  // namespace zarvel::regex_detail
