#include "base/utf8.h"

namespace zarvel {

bool is_valid_utf8(std::string_view bytes) noexcept {
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  const auto* end = p + bytes.size();
  while (p < end) {
    if (*p < 0x80) {
      ++p;
      continue;
    }
    int length = utf8_sequence_length(*p);
    if (length == 0 || end - p < length || !is_valid_utf8_sequence(p, length)) return false;
    p += length;
  }
  return true;
}

}  // namespace zarvel
