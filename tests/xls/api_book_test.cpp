// An .xls workbook made through the API is saved as the very bytes it was
// saved as before the engine held a second file format.

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <vector>

#include "api_book.h"

namespace migrator::xls {
namespace {

TEST(XlsBytes, AWorkbookMadeThroughTheApiSavesAsItAlwaysDid) {
  std::ifstream in(std::string(MIGRATOR_TEST_DATA_DIR) + "/xls/api_book.xls", std::ios::binary);
  const std::vector<uint8_t> golden{std::istreambuf_iterator<char>(in), {}};
  ASSERT_FALSE(golden.empty());
  auto bytes = MakeApiBook().Serialize();
  ASSERT_TRUE(bytes) << bytes.message();
  ASSERT_EQ(bytes->size(), golden.size());
  for (size_t i = 0; i < golden.size(); ++i)
    ASSERT_EQ((*bytes)[i], golden[i]) << "first difference at byte " << i;
  // And read back, saved again: the same.
  auto back = Workbook::Parse(*bytes);
  ASSERT_TRUE(back) << back.message();
  auto again = back->Serialize();
  ASSERT_TRUE(again);
  EXPECT_EQ(*again, golden);
}

}  // namespace
}  // namespace migrator::xls
