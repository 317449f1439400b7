// UTF-8 checks that skip ASCII a word at a time must find the same first bad
// byte as a byte-by-byte walk, wherever it falls against the word boundaries.

#include "platform/text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace migrator {
namespace {

std::size_t SlowInvalidAt(std::string_view s) {
  for (std::size_t i = 0; i < s.size();) {
    const std::size_t len = Utf8SequenceLength(s, i);
    if (len == 0) return i;
    i += len;
  }
  return std::string_view::npos;
}

TEST(Utf8Text, WordAtATimeScanAgreesWithByteByByteWalk) {
  const std::vector<std::string> pieces = {
      "\xC3\xA9",          // é
      "\xE4\xB8\xAD",      // 中
      "\xF0\x9F\x98\x80",  // an emoji
      "\xFF",              // never valid
      "\xC0\xAF",          // overlong
      "\xED\xA0\x80",      // a surrogate
      "\xE4\xB8",          // cut short (at the end of the text)
      "\x80",              // a stray continuation byte
  };
  for (const std::string& piece : pieces) {
    for (std::size_t before = 0; before <= 17; ++before) {
      for (std::size_t after : {0, 1, 7, 8, 9}) {
        const std::string text = std::string(before, 'a') + piece + std::string(after, 'b');
        SCOPED_TRACE(testing::Message() << "piece " << testing::PrintToString(piece) << " after "
                                        << before << " ASCII bytes, " << after << " after it");
        EXPECT_EQ(InvalidUtf8At(text), SlowInvalidAt(text));
        EXPECT_EQ(AsciiPrefixLength(text), before);
      }
    }
  }
  EXPECT_EQ(InvalidUtf8At(""), std::string_view::npos);
  EXPECT_EQ(AsciiPrefixLength(std::string(40, 'x')), 40u);
}

}  // namespace
}  // namespace migrator
