// The text pool: texts kept in one byte a character where they can be, read
// back equal in either form, equal texts found equal, and recurring short
// texts kept once among many that are met once.

#include <gtest/gtest.h>

#include <string>

#include "xls/text_pool.h"

namespace migrator::xls::detail {
namespace {

TEST(TextPool, TextsReadBackInTheirFormAndEqualTextsAreFound) {
  SharedStrings pool;
  const std::u16string texts[] = {
      u"plain", u"r\u00e9sum\u00e9 \u00ff", u"\u20ac 5", u"", u"\u65e5\u672c", u"plain"};
  std::vector<uint32_t> ids;
  for (const auto& t : texts) {
    auto id = pool.Add(t);
    ASSERT_TRUE(id);
    ids.push_back(*id);
  }
  // As a file's reader adds them: UTF-16 first, narrowed where it fits.
  for (const auto& t : {std::u16string(u"caf\u00e9"), std::u16string(u"\u0436x")}) {
    uint32_t off;
    char16_t* p = pool.BeginChars(t.size(), off);
    ASSERT_NE(p, nullptr);
    std::copy(t.begin(), t.end(), p);
    ids.push_back(pool.FinishEntry(off, static_cast<uint32_t>(t.size()), {}, {}));
  }
  auto after = pool.Add(u"after");
  ASSERT_TRUE(after);

  EXPECT_FALSE(pool.Text(ids[1]).wide());
  EXPECT_TRUE(pool.Text(ids[2]).wide());
  EXPECT_FALSE(pool.Text(ids[6]).wide());
  EXPECT_TRUE(pool.Text(ids[7]).wide());
  for (size_t i = 0; i < std::size(texts); ++i) {
    EXPECT_TRUE(pool.Text(ids[i]) == texts[i]) << i;
    std::u16string back;
    pool.Text(ids[i]).CopyTo(back);
    EXPECT_EQ(back, texts[i]) << i;
  }
  EXPECT_EQ(pool.Text(ids[1]).Utf8(), "r\xC3\xA9sum\xC3\xA9 \xC3\xBF");
  EXPECT_EQ(pool.Text(ids[2]).Utf8(), "\xE2\x82\xAC 5");
  EXPECT_TRUE(pool.Text(ids[6]) == u"caf\u00e9");
  EXPECT_TRUE(pool.Text(ids[7]) == u"\u0436x");
  EXPECT_TRUE(pool.Text(*after) == u"after");

  const auto& first = pool.FirstEqual();
  EXPECT_EQ(first[ids[5]], ids[0]);
  EXPECT_EQ(first[ids[1]], ids[1]);
  // Copied from pool to pool in its form.
  SharedStrings other;
  auto copied = other.Add(pool.Text(ids[2]));
  ASSERT_TRUE(copied);
  EXPECT_TRUE(other.Text(*copied) == texts[2]);
}

TEST(TextPool, RecurringShortTextsStayOnceAmongTextsMetOnce) {
  SharedStrings pool;
  auto city = pool.AddShared(u"City 7");
  ASSERT_TRUE(city);
  for (int i = 0; i < 300000; ++i) {
    const std::string key = std::to_string(i);
    ASSERT_TRUE(pool.AddShared(std::u16string(key.begin(), key.end())));
    if (i % 1000 == 0) {
      auto again = pool.AddShared(u"City 7");
      ASSERT_TRUE(again);
      EXPECT_EQ(*again, *city) << i;
    }
  }
  EXPECT_EQ(pool.size(), 300001u);
}

}  // namespace
}  // namespace migrator::xls::detail
