#include "query/regex.h"

#include <string>
#include <utility>

#include "base/utf8.h"
#include "query/regex_bit_nfa.h"
#include "query/regex_parser.h"
#include "query/regex_program.h"
#include "query/regex_vm.h"

namespace zarvel {
namespace {

using regex_detail::Program;

bool is_ascii(std::string_view text) noexcept {
  unsigned char any = 0;
  for (char c : text) any |= static_cast<unsigned char>(c);
  return any < 0x80;
}

bool folded_at(const Program& p, std::string_view text, std::size_t at) noexcept {
  for (std::size_t i = 0; i < p.folded.size(); ++i) {
    if ((text[at + i] | p.fold_mask[i]) != p.folded[i]) return false;
  }
  return true;
}

bool folded_search(const Program& p, std::string_view text) noexcept {
  if (text.size() < p.folded.size()) return false;
  std::size_t last = p.anchored ? 0 : text.size() - p.folded.size();
  for (std::size_t at = 0; at <= last; ++at) {
    if (folded_at(p, text, at)) return true;
  }
  return false;
}

}  // namespace

Result<Regex> Regex::compile(std::string_view pattern, RegexFlags flags) {
  if (!is_valid_utf8(pattern)) return Status::invalid_argument("the pattern is not valid UTF-8");
  std::u32string code_points;
  code_points.reserve(pattern.size());
  while (!pattern.empty()) {
    char32_t c = 0;
    std::size_t length = decode_utf8(pattern, c);
    code_points += c;
    pattern.remove_prefix(length);
  }
  Result<regex_detail::RegexNode> tree = regex_detail::parse_regex(code_points, flags);
  if (!tree.ok()) return std::move(tree).status();
  Result<Program> program = regex_detail::compile_program(tree.value());
  if (!program.ok()) return std::move(program).status();
  return Regex(std::make_shared<const Program>(std::move(program).value()));
}

bool Regex::search(std::string_view text) const noexcept {
  const Program& p = *program_;
  switch (p.shape) {
    case Program::Shape::kLiteral:
      return p.anchored ? text.starts_with(p.prefix) : text.find(p.prefix) != text.npos;
    case Program::Shape::kFoldedLiteral:
      if (!p.folded_needs_ascii_text || is_ascii(text)) return folded_search(p, text);
      break;
    case Program::Shape::kGeneral:
      break;
  }
  if (!p.required.empty() && text.find(p.required) == text.npos) return false;
  if (p.anchored && !text.starts_with(p.prefix)) return false;
  if (p.bit_nfa) return regex_detail::run_bit_nfa(p, text, !p.anchored);
  return regex_detail::run_program(p, text, 0, !p.anchored);
}

}  // namespace zarvel
