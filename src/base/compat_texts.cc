#include "base/compat_texts.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <iterator>

#include "base/utf8.h"

namespace zarvel {

namespace {

const char* error_kind_name(int errnum) {
  switch (errnum) {
    case EPERM:
    case EACCES:
      return "PermissionDenied";
    case ENOENT:
      return "NotFound";
    case EEXIST:
      return "AlreadyExists";
    case ENOTDIR:
      return "NotADirectory";
    case EISDIR:
      return "IsADirectory";
    case ENOTEMPTY:
      return "DirectoryNotEmpty";
    case EROFS:
      return "ReadOnlyFilesystem";
    case ELOOP:
      return "FilesystemLoop";
    case ENAMETOOLONG:
      return "InvalidFilename";
    case EXDEV:
      return "CrossesDevices";
    case ENOSPC:
      return "StorageFull";
    case EDQUOT:
      return "FilesystemQuotaExceeded";
    case EFBIG:
      return "FileTooLarge";
    case EMLINK:
      return "TooManyLinks";
    case EBUSY:
      return "ResourceBusy";
    case ETXTBSY:
      return "ExecutableFileBusy";
    case EINVAL:
      return "InvalidInput";
    case EINTR:
      return "Interrupted";
    case ENOMEM:
      return "OutOfMemory";
    case EAGAIN:
      return "WouldBlock";
    case EPIPE:
      return "BrokenPipe";
    case ESPIPE:
      return "NotSeekable";
    case EDEADLK:
      return "Deadlock";
    case E2BIG:
      return "ArgumentListTooLong";
    case ESTALE:
      return "StaleNetworkFileHandle";
    case ENOSYS:
      return "Unsupported";
    default:
      return "Uncategorized";
  }
}

struct CodeRange {
  char32_t first;
  char32_t last;
};

// Inclusive, ascending, disjoint. The noncharacters U+FFFE and U+FFFF of every plane are caught by
// the bit test in is_printable.
constexpr CodeRange kNonPrintable[] = {
    {0x0000, 0x001F},   {0x007F, 0x00A0},   {0x00AD, 0x00AD},    {0x0600, 0x0605},
    {0x061C, 0x061C},   {0x06DD, 0x06DD},   {0x070F, 0x070F},    {0x0890, 0x0891},
    {0x08E2, 0x08E2},   {0x1680, 0x1680},   {0x180E, 0x180E},    {0x2000, 0x200F},
    {0x2028, 0x202F},   {0x205F, 0x2064},   {0x2066, 0x206F},    {0x3000, 0x3000},
    {0xD800, 0xF8FF},   {0xFDD0, 0xFDEF},   {0xFEFF, 0xFEFF},    {0xFFF0, 0xFFFB},
    {0x110BD, 0x110BD}, {0x110CD, 0x110CD}, {0x13430, 0x1343F},  {0x1BCA0, 0x1BCA3},
    {0x1D173, 0x1D17A}, {0x323B0, 0xE00FF}, {0xE01F0, 0x10FFFF},
};

bool is_printable(char32_t cp) noexcept {
  if ((cp & 0xFFFE) == 0xFFFE) return false;
  auto it = std::upper_bound(std::begin(kNonPrintable), std::end(kNonPrintable), cp,
                             [](char32_t c, const CodeRange& r) { return c < r.first; });
  return it == std::begin(kNonPrintable) || cp > std::prev(it)->last;
}

constexpr char kHexDigits[] = "0123456789abcdef";

void append_hex(std::string& out, std::uint32_t v) {
  char buffer[8];
  int n = 0;
  do {
    buffer[n++] = kHexDigits[v & 0xF];
    v >>= 4;
  } while (v != 0);
  while (n > 0) out += buffer[--n];
}

}  // namespace

std::string os_short_form(int errnum) {
  return std::string(std::strerror(errnum)) + " (os error " + std::to_string(errnum) + ")";
}

std::string os_debug_form(int errnum) {
  return "Os { code: " + std::to_string(errnum) + ", kind: " + error_kind_name(errnum) +
         ", message: " + debug_quoted(std::strerror(errnum)) + " }";
}

std::string pyerr_debug_form(std::string_view type_repr, std::string_view value_repr,
                             const std::optional<std::string>& traceback_repr) {
  std::string out = "PyErr { type: ";
  out += type_repr;
  out += ", value: ";
  out += value_repr;
  out += ", traceback: ";
  out += traceback_repr ? "Some(" + *traceback_repr + ")" : "None";
  out += " }";
  return out;
}

std::string variant_debug_form(std::string_view tag, std::string_view text) {
  std::string out(tag);
  out += '(';
  append_quoted(out, text);
  out += ')';
  return out;
}

void append_quoted(std::string& out, std::string_view text) {
  out += '"';
  while (!text.empty()) {
    char32_t cp;
    std::size_t length = decode_utf8(text, cp);
    if (length == 0) {
      auto byte = static_cast<std::uint8_t>(text.front());
      out += "\\x";
      out += kHexDigits[byte >> 4];
      out += kHexDigits[byte & 0xF];
      text.remove_prefix(1);
      continue;
    }
    switch (cp) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\n':
        out += "\\n";
        break;
      case 0:
        out += "\\0";
        break;
      default:
        if (is_printable(cp)) {
          out.append(text.data(), length);
        } else {
          out += "\\u{";
          append_hex(out, static_cast<std::uint32_t>(cp));
          out += '}';
        }
    }
    text.remove_prefix(length);
  }
  out += '"';
}

std::string debug_quoted(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 2);
  append_quoted(out, text);
  return out;
}

}  // namespace zarvel
