// UTF-8 validation: well-formed sequences only (no overlongs, no surrogates, nothing past U+10FFFF).
#pragma once

#include <string_view>

namespace zarvel {

bool is_valid_utf8(std::string_view bytes) noexcept;

}  // namespace zarvel
