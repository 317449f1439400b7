// The UTF-8 to UTF-16 conversion of cell text: ASCII runs are copied a word at
// a time, so characters and faults are checked at every place against the
// word boundaries.

#include "xls/unicode.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace migrator::xls {
namespace {

TEST(Utf8ToUtf16, ConvertsAndFindsFaultsWhereverTheyFall) {
  struct Piece {
    std::string utf8;
    std::u16string utf16;  // empty: malformed
  };
  const std::vector<Piece> pieces = {
      {"\xC3\xA9", u"\u00E9"},
      {"\xE4\xB8\xAD", u"\u4E2D"},
      {"\xF0\x9F\x98\x80", u"\U0001F600"},
      {"\xFF", u""},
      {"\xC0\xAF", u""},          // overlong
      {"\xED\xA0\x80", u""},      // a surrogate
      {"\xF4\x90\x80\x80", u""},  // above U+10FFFF
      {"\xE4\xB8", u""},          // cut short
  };
  for (const Piece& piece : pieces) {
    for (std::size_t before = 0; before <= 17; ++before) {
      for (std::size_t after : {0, 1, 8, 9}) {
        const std::string text = std::string(before, 'a') + piece.utf8 + std::string(after, 'b');
        SCOPED_TRACE(testing::Message() << testing::PrintToString(piece.utf8) << " after " << before
                                        << " ASCII bytes, " << after << " after it");
        std::u16string out = u"left over";
        std::size_t bad = 12345;
        const bool ok = Utf8ToUtf16(text, out, &bad);
        if (piece.utf16.empty()) {
          EXPECT_FALSE(ok);
          EXPECT_EQ(bad, before);
          EXPECT_EQ(out, std::u16string(before, u'a'));
        } else {
          EXPECT_TRUE(ok);
          EXPECT_EQ(out, std::u16string(before, u'a') + piece.utf16 + std::u16string(after, u'b'));
          EXPECT_EQ(Utf16ToUtf8(out), text);
        }
      }
    }
  }
  std::u16string out = u"x";
  EXPECT_TRUE(Utf8ToUtf16("", out));
  EXPECT_TRUE(out.empty());
}

}  // namespace
}  // namespace migrator::xls
