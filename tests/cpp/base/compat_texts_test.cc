#include "base/compat_texts.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>

namespace zarvel {
namespace {

TEST(CompatTextsTest, QuotesAsADebugFormShowsAString) {
  struct Case {
    std::string text;
    const char* quoted;
  };
  const Case cases[] = {
      {"", R"("")"},
      {"plain words", R"("plain words")"},
      {"a\"b\\c", R"("a\"b\\c")"},
      {std::string("\t\r\n\0", 4), R"("\t\r\n\0")"},
      {"\x01\x1f\x7f", R"("\u{1}\u{1f}\u{7f}")"},
      {"\xc2\x85", R"("\u{85}")"},  // a C1 control
      {"a\xe2\x80\x8b"
       "b",
       R"("a\u{200b}b")"},                // zero-width space: a format character
      {"\xef\xbb\xbf", R"("\u{feff}")"},  // byte order mark
      {"\xef\xbf\xbe", R"("\u{fffe}")"},  // a noncharacter
      {"\xee\x80\x80", R"("\u{e000}")"},  // private use
      {"\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80",
       "\"\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80\""},  // printable
      {"\xff\xc3", R"("\xff\xc3")"},                   // not UTF-8
      {"\xed\xa0\x80", R"("\xed\xa0\x80")"},           // an encoded surrogate
  };
  for (const Case& c : cases) EXPECT_EQ(debug_quoted(c.text), c.quoted) << c.quoted;
}

TEST(CompatTextsTest, ErrorForms) {
  EXPECT_EQ(os_short_form(ENOENT), "No such file or directory (os error 2)");
  EXPECT_EQ(os_debug_form(EACCES),
            R"(Os { code: 13, kind: PermissionDenied, message: "Permission denied" })");
  EXPECT_EQ(os_debug_form(EXDEV).substr(0, 37), "Os { code: 18, kind: CrossesDevices, ");
  EXPECT_EQ(os_debug_form(ECHILD).substr(0, 36), "Os { code: 10, kind: Uncategorized, ");
  EXPECT_EQ(pyerr_debug_form("<class 'ValueError'>", "ValueError('x')", std::nullopt),
            "PyErr { type: <class 'ValueError'>, value: ValueError('x'), traceback: None }");
  EXPECT_EQ(pyerr_debug_form("T", "V", std::string("<traceback>")),
            "PyErr { type: T, value: V, traceback: Some(<traceback>) }");
  EXPECT_EQ(variant_debug_form("UnsupportedType", "Odd\"Name\x01"),
            R"(UnsupportedType("Odd\"Name\u{1}"))");
}

}  // namespace
}  // namespace zarvel
