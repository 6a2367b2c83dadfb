#include "query/regex_bit_nfa.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <vector>

#include "query/regex_text.h"

namespace zarvel::regex_detail {
namespace {

// The states reached from `pc` without consuming, when the assertions of `context` hold.
std::uint64_t closure(const Program& program, const BitNfa& nfa, const std::vector<int>& bit_of,
                      std::uint32_t pc, unsigned context) {
  std::uint64_t states = 0;
  walk_without_consuming(program, pc, [&](std::uint32_t at, const Inst& inst) {
    switch (inst.op) {
      case Op::kAssert: {
        auto kind = std::find(nfa.kinds.begin(), nfa.kinds.end(), inst.assertion);
        bool holds = ((context >> (kind - nfa.kinds.begin())) & 1) != 0;
        return holds ? Walk::kNext : Walk::kEnd;
      }
      case Op::kMatch:
        states |= BitNfa::kMatchBit;
        return Walk::kEnd;
      default:
        states |= std::uint64_t{1} << bit_of[at];
        return Walk::kEnd;
    }
  });
  return states;
}

unsigned context_at(const BitNfa& nfa, const TextPoint& at, std::size_t size) noexcept {
  unsigned context = 0;
  for (std::size_t j = 0; j < nfa.kinds.size(); ++j) {
    if (assertion_holds(nfa.kinds[j], at, size)) context |= 1U << j;
  }
  return context;
}

}  // namespace

std::optional<BitNfa> build_bit_nfa(const Program& program) {
  BitNfa nfa;
  std::vector<int> bit_of(program.insts.size(), -1);
  for (std::uint32_t pc = 0; pc < program.insts.size(); ++pc) {
    const Inst& inst = program.insts[pc];
    switch (inst.op) {
      case Op::kLook:
        return std::nullopt;
      case Op::kAssert:
        if (std::find(nfa.kinds.begin(), nfa.kinds.end(), inst.assertion) == nfa.kinds.end()) {
          if (nfa.kinds.size() == BitNfa::kMaxKinds) return std::nullopt;
          nfa.kinds.push_back(inst.assertion);
        }
        break;
      case Op::kChar:
      case Op::kSet:
      case Op::kAnyChar:
      case Op::kAnyButNewline:
        if (nfa.state_pcs.size() == 63) return std::nullopt;
        bit_of[pc] = static_cast<int>(nfa.state_pcs.size());
        nfa.state_pcs.push_back(pc);
        break;
      default:
        break;
    }
  }
  unsigned contexts = 1U << nfa.kinds.size();
  nfa.start.resize(contexts);
  nfa.follow.resize(std::size_t{contexts} * 64);
  for (unsigned context = 0; context < contexts; ++context) {
    nfa.start[context] = closure(program, nfa, bit_of, 0, context);
    for (std::size_t i = 0; i < nfa.state_pcs.size(); ++i) {
      nfa.follow[std::size_t{context} * 64 + i] =
          closure(program, nfa, bit_of, nfa.state_pcs[i] + 1, context);
    }
  }
  for (char32_t c = 0; c < 128; ++c) {
    for (std::size_t i = 0; i < nfa.state_pcs.size(); ++i) {
      if (program.consumes(program.insts[nfa.state_pcs[i]], c))
        nfa.ascii[c] |= std::uint64_t{1} << i;
    }
  }
  return nfa;
}

bool run_bit_nfa(const Program& program, std::string_view text, bool anywhere) noexcept {
  const BitNfa& nfa = *program.bit_nfa;
  const std::size_t size = text.size();
  const bool contextual = !nfa.kinds.empty();
  std::size_t pos = 0;
  // Without assertions every closure is that of context 0, and no neighbour needs decoding.
  unsigned context = contextual ? context_at(nfa, {0, kNoChar, decode_at(text, 0).c}, size) : 0;
  std::uint64_t states = 0;  // carried to `pos`
  for (bool first = true;; first = false) {
    if (anywhere) {
      if (states == 0) {
        std::size_t next = program.next_start(text, pos);
        if (next == std::string_view::npos) return false;
        if (next != pos && contextual) {
          context = context_at(nfa, {next, char_before(text, next), decode_at(text, next).c}, size);
        }
        pos = next;
      }
      if (program.may_start_at(text, pos)) states |= nfa.start[context];
    } else if (first) {
      states = nfa.start[context];
    }
    if ((states & BitNfa::kMatchBit) != 0) return true;
    if (states == 0 && !anywhere) return false;
    if (pos >= size) return false;
    auto byte = static_cast<unsigned char>(text[pos]);
    std::uint64_t active = 0;
    std::int32_t c = byte;
    std::size_t length = 1;
    if (byte < 0x80) {
      active = states & nfa.ascii[byte];
    } else {
      Decoded d = decode_at(text, pos);
      c = d.c;
      length = d.length;
      for (std::uint64_t rest = states; rest != 0; rest &= rest - 1) {
        int i = std::countr_zero(rest);
        if (program.consumes(program.insts[nfa.state_pcs[i]], static_cast<char32_t>(c))) {
          active |= std::uint64_t{1} << i;
        }
      }
    }
    pos += length;
    if (contextual) context = context_at(nfa, {pos, c, decode_at(text, pos).c}, size);
    const std::uint64_t* follow = &nfa.follow[std::size_t{context} * 64];
    states = 0;
    for (; active != 0; active &= active - 1) states |= follow[std::countr_zero(active)];
  }
}

}  // namespace zarvel::regex_detail
