#include "query/regex_vm.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <vector>

#include "base/utf8.h"
#include "query/regex_unicode.h"

namespace zarvel::regex_detail {
namespace {

constexpr std::int32_t kNone = -1;  // no character: before the start, or at the end

// A byte that does not start a well-formed sequence reads as a lone surrogate, which no character
// of a valid text is.
constexpr std::int32_t kBadByteBase = 0xDC00;

struct Decoded {
  std::int32_t c;
  std::uint32_t length;
};

Decoded decode_at(std::string_view text, std::size_t pos) noexcept {
  if (pos >= text.size()) return {kNone, 0};
  auto byte = static_cast<unsigned char>(text[pos]);
  if (byte < 0x80) return {byte, 1};
  char32_t c = 0;
  std::size_t length = decode_utf8(text.substr(pos), c);
  if (length == 0) return {kBadByteBase + byte, 1};
  return {static_cast<std::int32_t>(c), static_cast<std::uint32_t>(length)};
}

std::int32_t char_before(std::string_view text, std::size_t pos) noexcept {
  if (pos == 0) return kNone;
  std::size_t start = pos - 1;
  while (start > 0 && pos - start < 4 && is_continuation(static_cast<unsigned char>(text[start]))) {
    --start;
  }
  Decoded d = decode_at(text, start);
  if (start + d.length == pos) return d.c;
  return kBadByteBase + static_cast<unsigned char>(text[pos - 1]);
}

// The states of one step, deduplicated by stamping each instruction with the step's number.
struct Scratch {
  std::vector<std::uint32_t> stamps;
  std::uint32_t stamp = 0;
  std::vector<std::uint32_t> current;
  std::vector<std::uint32_t> next;
  std::vector<std::uint32_t> stack;

  void new_step() {
    if (++stamp == 0) {
      std::fill(stamps.begin(), stamps.end(), 0);
      stamp = 1;
    }
  }
};

// One scratch per nesting level of lookarounds, kept by each thread across calls.
Scratch& scratch_at(std::size_t depth) {
  thread_local std::vector<std::unique_ptr<Scratch>> levels;
  while (levels.size() <= depth) levels.push_back(std::make_unique<Scratch>());
  return *levels[depth];
}

class Matcher {
 public:
  Matcher(const Program& program, std::string_view text) noexcept
      : program_(program), text_(text) {}

  bool run(std::uint32_t start, std::size_t from, bool anywhere, std::size_t depth) {
    Scratch& s = scratch_at(depth);
    if (s.stamps.size() < program_.insts.size()) s.stamps.resize(program_.insts.size(), 0);
    Decoded cur = decode_at(text_, from);
    Context ctx{from, char_before(text_, from), cur.c};
    s.current.clear();
    s.new_step();
    if (add(s, s.current, start, ctx, depth)) return true;
    // Skipping to the next occurrence of the prefix only pays in the outer search.
    bool skip = anywhere && depth == 0 && !program_.prefix.empty();
    while (ctx.pos < text_.size()) {
      if (s.current.empty()) {
        if (!anywhere) return false;
        if (skip) {
          std::size_t found = text_.find(program_.prefix, ctx.pos + cur.length);
          if (found == std::string_view::npos) return false;
          cur = decode_at(text_, found);
          ctx = {found, char_before(text_, found), cur.c};
          s.new_step();
          if (add(s, s.current, start, ctx, depth)) return true;
          continue;
        }
      }
      Decoded after = decode_at(text_, ctx.pos + cur.length);
      Context next_ctx{ctx.pos + cur.length, cur.c, after.c};
      s.next.clear();
      s.new_step();
      auto c = static_cast<char32_t>(cur.c);
      for (std::uint32_t pc : s.current) {
        const Inst& inst = program_.insts[pc];
        bool consumed = false;
        switch (inst.op) {
          case Op::kChar:
            consumed = c == inst.arg;
            break;
          case Op::kSet:
            consumed = program_.sets[inst.arg].contains(c);
            break;
          case Op::kAnyChar:
            consumed = true;
            break;
          case Op::kAnyButNewline:
            consumed = c != '\n';
            break;
          default:
            break;
        }
        if (consumed && add(s, s.next, pc + 1, next_ctx, depth)) return true;
      }
      if (anywhere && add(s, s.next, start, next_ctx, depth)) return true;
      std::swap(s.current, s.next);
      ctx = next_ctx;
      cur = after;
    }
    return false;
  }

 private:
  struct Context {
    std::size_t pos;
    std::int32_t prev;
    std::int32_t cur;
  };

  // Adds the consuming states reachable from `pc` without consuming to `list`; true when the
  // final state is among them, which ends the search.
  bool add(Scratch& s, std::vector<std::uint32_t>& list, std::uint32_t pc, const Context& ctx,
           std::size_t depth) {
    s.stack.clear();
    s.stack.push_back(pc);
    while (!s.stack.empty()) {
      std::uint32_t at = s.stack.back();
      s.stack.pop_back();
      if (s.stamps[at] == s.stamp) continue;
      s.stamps[at] = s.stamp;
      const Inst& inst = program_.insts[at];
      switch (inst.op) {
        case Op::kJump:
          s.stack.push_back(inst.arg);
          break;
        case Op::kSplit:
          s.stack.push_back(inst.alt);
          s.stack.push_back(inst.arg);
          break;
        case Op::kAssert:
          if (holds(inst.assertion, ctx)) s.stack.push_back(at + 1);
          break;
        case Op::kLook:
          if (look_holds(program_.looks[inst.arg], ctx.pos, depth)) s.stack.push_back(at + 1);
          break;
        case Op::kMatch:
          return true;
        default:
          list.push_back(at);
          break;
      }
    }
    return false;
  }

  bool holds(AssertKind kind, const Context& ctx) const noexcept {
    std::size_t size = text_.size();
    switch (kind) {
      case AssertKind::kBeginText:
        return ctx.pos == 0;
      case AssertKind::kBeginLine:
        return ctx.pos == 0 || ctx.prev == '\n';
      case AssertKind::kEndText:
        return ctx.pos == size;
      case AssertKind::kEnd:
        return ctx.pos == size || (ctx.pos + 1 == size && ctx.cur == '\n');
      case AssertKind::kEndLine:
        return ctx.pos == size || ctx.cur == '\n';
      case AssertKind::kWordBoundary:
        return size != 0 && word(ctx.prev) != word(ctx.cur);
      case AssertKind::kNotWordBoundary:
        return size != 0 && word(ctx.prev) == word(ctx.cur);
      case AssertKind::kAsciiWordBoundary:
        return size != 0 && ascii_word(ctx.prev) != ascii_word(ctx.cur);
      case AssertKind::kAsciiNotWordBoundary:
        return size != 0 && ascii_word(ctx.prev) == ascii_word(ctx.cur);
    }
    return false;
  }

  static bool word(std::int32_t c) noexcept {
    return c != kNone && is_word_char(static_cast<char32_t>(c));
  }
  static bool ascii_word(std::int32_t c) noexcept {
    return c != kNone && is_ascii_word_char(static_cast<char32_t>(c));
  }

  // Runs the body anchored where the lookaround starts; the recursion is as deep as lookarounds
  // nest in the pattern, never deeper.
  bool look_holds(const LookAround& look, std::size_t pos, std::size_t depth) {
    std::size_t from = pos;
    if (look.behind) {
      for (std::uint32_t i = 0; i < look.width; ++i) {
        if (from == 0) return look.negate;
        --from;
        while (from > 0 && is_continuation(static_cast<unsigned char>(text_[from]))) --from;
      }
    }
    return run(look.start, from, false, depth + 1) != look.negate;
  }

  const Program& program_;
  std::string_view text_;
};

}  // namespace

bool run_program(const Program& program, std::string_view text, std::size_t from,
                 bool anywhere) noexcept {
  return Matcher(program, text).run(0, from, anywhere, 0);
}

}  // namespace zarvel::regex_detail
