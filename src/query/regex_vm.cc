#include "query/regex_vm.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <vector>

#include "base/utf8.h"
#include "query/regex_text.h"

namespace zarvel::regex_detail {
namespace {

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
    TextPoint at{from, char_before(text_, from), cur.c};
    s.current.clear();
    s.new_step();
    for (bool first = true;; first = false) {
      // s.current holds the states carried to `at`, their step's stamp still in force. A new
      // match may start here: always at the first position, and anywhere the prefix or the first
      // bytes allow when searching; with nothing carried, the search skips to the next such place.
      if (anywhere) {
        if (s.current.empty()) {
          std::size_t next = program_.next_start(text_, at.pos);
          if (next == std::string_view::npos) return false;
          if (next != at.pos) {
            cur = decode_at(text_, next);
            at = {next, char_before(text_, next), cur.c};
            s.new_step();
          }
        }
        if (program_.may_start_at(text_, at.pos) && add(s, s.current, start, at, depth)) {
          return true;
        }
      } else if (first) {
        if (add(s, s.current, start, at, depth)) return true;
      } else if (s.current.empty()) {
        return false;
      }
      if (at.pos >= text_.size()) return false;
      Decoded after = decode_at(text_, at.pos + cur.length);
      TextPoint next{at.pos + cur.length, cur.c, after.c};
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
        if (consumed && add(s, s.next, pc + 1, next, depth)) return true;
      }
      std::swap(s.current, s.next);
      at = next;
      cur = after;
    }
  }

 private:
  // Adds the consuming states reachable from `pc` without consuming to `list`; true when the
  // final state is among them, which ends the search.
  bool add(Scratch& s, std::vector<std::uint32_t>& list, std::uint32_t pc, const TextPoint& ctx,
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
          if (assertion_holds(inst.assertion, ctx, text_.size())) s.stack.push_back(at + 1);
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
