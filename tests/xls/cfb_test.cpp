// The compound file container: layout of small and large streams, nested
// storages, the extended FAT of files over 7 MB, and damaged files.

#include <gtest/gtest.h>

#include "xls/biff/cfb.h"

namespace migrator::xls::cfb {
namespace {

Bytes Pattern(size_t n, uint8_t seed) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i)
    b[i] = static_cast<uint8_t>(seed + i * 7 + (i >> 9));
  return b;
}

// Root with a small stream, a large stream and a storage holding a stream.
std::vector<OutEntry> Tree(const Bytes& small, const Bytes& large, const Bytes& inner) {
  std::vector<OutEntry> e(5);
  e[0].name = u"Root Entry";
  e[0].type = EntryType::kRoot;
  e[0].children = {1, 2, 3};
  e[1].name = u"\x05SummaryInformation";
  e[1].data = small;
  e[2].name = u"Workbook";
  e[2].data = large;
  e[3].name = u"_VBA_PROJECT_CUR";
  e[3].type = EntryType::kStorage;
  e[3].clsid[0] = 0x42;
  e[3].children = {4};
  e[4].name = u"dir";
  e[4].data = inner;
  return e;
}

TEST(CompoundFile, SmallAndLargeStreamsAndStoragesRoundTrip) {
  Bytes small = Pattern(300, 1), large = Pattern(70000, 2), inner = Pattern(4096, 3);
  auto img = WriteToBytes(Tree(small, large, inner));
  ASSERT_TRUE(img) << img.message();
  EXPECT_EQ(img->size() % 512, 0u);
  auto cf = Parse(*img);
  ASSERT_TRUE(cf) << cf.message();
  long s = cf->FindChild(0, u"\x05summaryinformation");  // names compare without case
  long w = cf->FindChild(0, u"WORKBOOK");
  long v = cf->FindChild(0, u"_VBA_PROJECT_CUR");
  ASSERT_GE(s, 0);
  ASSERT_GE(w, 0);
  ASSERT_GE(v, 0);
  EXPECT_EQ(cf->entries[s].data, small);
  EXPECT_EQ(cf->entries[w].data, large);
  EXPECT_EQ(cf->entries[v].type, EntryType::kStorage);
  EXPECT_EQ(cf->entries[v].clsid[0], 0x42);
  long d = cf->FindChild(static_cast<size_t>(v), u"dir");
  ASSERT_GE(d, 0);
  EXPECT_EQ(cf->entries[d].data, inner);
}

TEST(CompoundFile, FilesOverSevenMegabytesUseTheExtendedFat) {
  Bytes big = Pattern(9 * 1024 * 1024 + 123, 9);
  std::vector<OutEntry> e(2);
  e[0].name = u"Root Entry";
  e[0].type = EntryType::kRoot;
  e[0].children = {1};
  e[1].name = u"Workbook";
  e[1].data = big;
  auto img = WriteToBytes(e);
  ASSERT_TRUE(img) << img.message();
  uint32_t fatSectors = Get32(img->data() + 44);
  uint32_t difatSectors = Get32(img->data() + 72);
  EXPECT_GT(fatSectors, 109u);
  EXPECT_GE(difatSectors, 1u);
  auto cf = Parse(*img);
  ASSERT_TRUE(cf) << cf.message();
  EXPECT_EQ(cf->entries[cf->FindChild(0, u"Workbook")].data, big);
}

TEST(CompoundFile, ManyChildrenFormAValidTree) {
  std::vector<OutEntry> e(1);
  e[0].name = u"Root Entry";
  e[0].type = EntryType::kRoot;
  std::vector<Bytes> store;
  store.reserve(37);
  for (int i = 0; i < 37; ++i) {
    OutEntry s;
    s.name = u"S" + std::u16string(1, static_cast<char16_t>(u'A' + i % 26)) +
             std::u16string(i / 26 + 1, u'x');
    store.push_back(Pattern(10 + i, static_cast<uint8_t>(i)));
    s.data = store.back();
    e[0].children.push_back(e.size());
    e.push_back(s);
  }
  auto img = WriteToBytes(e);
  ASSERT_TRUE(img);
  auto cf = Parse(*img);
  ASSERT_TRUE(cf) << cf.message();
  ASSERT_EQ(cf->entries[0].children.size(), 37u);
  for (size_t i = 1; i < e.size(); ++i) {
    long k = cf->FindChild(0, e[i].name);
    ASSERT_GE(k, 0);
    EXPECT_EQ(Bytes(e[i].data.begin(), e[i].data.end()), cf->entries[k].data);
  }
}

class Damaged : public ::testing::Test {
 protected:
  void SetUp() override {
    Bytes small = Pattern(300, 1), large = Pattern(20000, 2), inner = Pattern(100, 3);
    auto img = WriteToBytes(Tree(small, large, inner));
    ASSERT_TRUE(img);
    file = *img;
  }
  Bytes file;
};

TEST_F(Damaged, NotACompoundFile) {
  EXPECT_FALSE(Parse(Bytes(100, 0)));
  Bytes junk(2048, 0x41);
  auto r = Parse(junk);
  ASSERT_FALSE(r);
  EXPECT_NE(r.message().find("signature"), std::string::npos);
}

TEST_F(Damaged, TruncatedFileIsAnError) {
  file.resize(file.size() / 2);
  EXPECT_FALSE(Parse(file));
}

TEST_F(Damaged, FatCycleIsAnError) {
  // Point the first FAT entry of the large stream back at itself.
  uint32_t fatSector = Get32(file.data() + 76);
  uint8_t* fat = file.data() + 512 + 512 * fatSector;
  Put32(fat, 0);
  auto r = Parse(file);
  ASSERT_FALSE(r);
}

TEST_F(Damaged, DirectoryLoopIsAnError) {
  uint32_t dirSector = Get32(file.data() + 48);
  uint8_t* dir = file.data() + 512 + 512 * dirSector;
  // Make entry 1's left sibling the root's child, closing a loop.
  uint32_t child = Get32(dir + 76);
  Put32(dir + 128 * child + 68, child);
  EXPECT_FALSE(Parse(file));
}

TEST_F(Damaged, HugeFatCountIsAnError) {
  Put32(file.data() + 44, 0x7FFFFFFF);
  EXPECT_FALSE(Parse(file));
}

}  // namespace
}  // namespace migrator::xls::cfb
