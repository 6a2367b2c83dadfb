#include "query/regex_vm.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <vector>

#include "base/utf8.h"
#include "query/regex_text.h"

namespace zarvel::regex_detail {
namespace {

// Past this many bytes, a lookahead is answered for all positions at once (see ahead_table).
constexpr std::size_t kLongText = 128;

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
        if (program_.consumes(program_.insts[pc], c) && add(s, s.next, pc + 1, next, depth)) {
          return true;
        }
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
          if (look_holds(inst.arg, ctx, depth)) s.stack.push_back(at + 1);
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

  // Whether lookaround `index` holds at `at`. A lookbehind, and a lookahead in a short text, runs
  // its body anchored where it starts: the recursion is as deep as lookarounds nest in the
  // pattern, never deeper. In a long text, where a run from every position would take quadratic
  // time, a lookahead reads the table ahead_table fills for all positions at once.
  bool look_holds(std::uint32_t index, const TextPoint& at, std::size_t depth) {
    const LookAround& look = program_.looks[index];
    if (!look.behind && text_.size() > kLongText) {
      return (ahead_table(index, depth)[at.pos] != 0) != look.negate;
    }
    std::size_t from = at.pos;
    if (look.behind) {
      for (std::uint32_t i = 0; i < look.width; ++i) {
        if (from == 0) return look.negate;
        --from;
        while (from > 0 && is_continuation(static_cast<unsigned char>(text_[from]))) --from;
      }
    }
    return run(look.start, from, false, depth + 1) != look.negate;
  }

  // For lookahead `index`, whether its body matches from each offset of the text, by dynamic
  // programming from the end: a state is live at an offset when the final state can be reached
  // from it there. Each offset costs one pass over the body, so the table takes time linear in
  // the text. Filled the first time it is asked for; nested lookaheads fill theirs as they go.
  const std::vector<std::uint8_t>& ahead_table(std::uint32_t index, std::size_t depth) {
    if (tables_.empty()) tables_.resize(program_.looks.size());
    std::vector<std::uint8_t>& table = tables_[index];
    if (!table.empty()) return table;
    // The body runs from its start to its kMatch, which ends it.
    const std::uint32_t first = program_.looks[index].start;
    std::uint32_t last = first;
    while (program_.insts[last].op != Op::kMatch) ++last;
    const std::size_t count = last - first + 1;
    std::vector<std::vector<std::uint32_t>> before(count);  // predecessors without consuming
    for (std::uint32_t pc = first; pc < last; ++pc) {
      const Inst& inst = program_.insts[pc];
      if (inst.op == Op::kJump || inst.op == Op::kSplit) before[inst.arg - first].push_back(pc);
      if (inst.op == Op::kSplit) before[inst.alt - first].push_back(pc);
      if (inst.op == Op::kAssert || inst.op == Op::kLook) before[pc + 1 - first].push_back(pc);
    }
    std::vector<std::uint8_t> live(count);
    std::vector<std::uint8_t> live_after(count);  // at the offset after the next character
    std::vector<std::uint32_t> work;
    std::vector<std::uint8_t> result(text_.size() + 1);
    std::size_t pos = text_.size();
    while (true) {
      Decoded cur = decode_at(text_, pos);
      TextPoint at{pos, char_before(text_, pos), cur.c};
      std::fill(live.begin(), live.end(), 0);
      work.assign(1, last);
      live[last - first] = 1;
      for (std::uint32_t pc = first; pc < last && cur.c != kNoChar; ++pc) {
        if (live_after[pc + 1 - first] != 0 &&
            program_.consumes(program_.insts[pc], static_cast<char32_t>(cur.c))) {
          live[pc - first] = 1;
          work.push_back(pc);
        }
      }
      while (!work.empty()) {
        std::uint32_t pc = work.back();
        work.pop_back();
        for (std::uint32_t from : before[pc - first]) {
          if (live[from - first] != 0) continue;
          const Inst& inst = program_.insts[from];
          bool passes =
              inst.op == Op::kJump || inst.op == Op::kSplit ||
              (inst.op == Op::kAssert && assertion_holds(inst.assertion, at, text_.size())) ||
              (inst.op == Op::kLook && look_holds(inst.arg, at, depth + 1));
          if (passes) {
            live[from - first] = 1;
            work.push_back(from);
          }
        }
      }
      result[pos] = live[0];
      if (pos == 0) break;
      std::swap(live, live_after);
      do {
        --pos;
      } while (pos > 0 && is_continuation(static_cast<unsigned char>(text_[pos])));
    }
    // tables_ has its size from the first call, so the entry has not moved.
    tables_[index] = std::move(result);
    return tables_[index];
  }

  const Program& program_;
  std::string_view text_;
  std::vector<std::vector<std::uint8_t>> tables_;  // by lookaround; see ahead_table
};

}  // namespace

bool run_program(const Program& program, std::string_view text, std::size_t from,
                 bool anywhere) noexcept {
  return Matcher(program, text).run(0, from, anywhere, 0);
}

}  // namespace zarvel::regex_detail
