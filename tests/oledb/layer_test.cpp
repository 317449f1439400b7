// The layer's objects, property sets and the error-record reader.

#include <gtest/gtest.h>

#include <thread>

#include "oledb/data_source.h"
#include "oledb/errors.h"
#include "oledb/fake_provider.h"
#include "oledb/properties.h"

namespace migrator::oledb {
namespace {

using testing::FakeConnection;
using testing::FakeDataSource;
using testing::FakeWorld;

TEST(PropertySet, AddSetFindRemoveKeepOrderAndTypes) {
  PropertySet p(PropertySetId::DBInit);
  p.Add(DBPROP_AUTH_PASSWORD, Variant::Bstr("pw"));
  p.Add(DBPROP_INIT_MODE, Variant::I4(16));
  p.Add(DBPROP_INIT_PROMPT, Variant::I2(4));
  p.Set(DBPROP_INIT_PROVIDERSTRING, Variant::Bstr("first"));
  p.Set(DBPROP_INIT_PROVIDERSTRING, Variant::Bstr("second"));  // replaced, not appended
  ASSERT_EQ(p.size(), 4u);
  EXPECT_EQ(p.properties()[3].id, DBPROP_INIT_PROVIDERSTRING);
  EXPECT_EQ(p.FindText(DBPROP_INIT_PROVIDERSTRING), "second");
  EXPECT_EQ(p.FindI4(DBPROP_INIT_MODE), 16);
  EXPECT_EQ(p.FindI2(DBPROP_INIT_PROMPT), 4);
  // A typed read of another type finds nothing.
  EXPECT_FALSE(p.FindText(DBPROP_INIT_MODE));
  EXPECT_FALSE(p.FindBool(DBPROP_INIT_PROMPT));
  EXPECT_EQ(p.Remove(DBPROP_AUTH_PASSWORD), 1u);
  EXPECT_FALSE(p.Has(DBPROP_AUTH_PASSWORD));
  EXPECT_EQ(p.Find(DBPROP_INIT_MODE)->value.vt(), VT_I4);
}

TEST(PropertySet, StandardRowsetPropertiesInOrder) {
  PropertySet p = StandardRowsetProperties();
  EXPECT_EQ(p.set(), PropertySetId::Rowset);
  ASSERT_EQ(p.size(), 2u);
  EXPECT_EQ(p.properties()[0].id, 0x7Eu);
  EXPECT_EQ(p.properties()[0].value, Variant::Bool(true));
  EXPECT_EQ(p.properties()[1].id, 0x75u);
  EXPECT_EQ(p.properties()[1].value, Variant::I4(7));
  PropertySet q = StandardRowsetProperties(true);
  ASSERT_EQ(q.size(), 3u);
  EXPECT_EQ(q.properties()[1].id, 0x7Fu);
  EXPECT_EQ(q.properties()[1].value.vt(), VT_BOOL);
}

TEST(ErrorReader, UnknownErrorWithoutObjectSupportOrRecords) {
  EXPECT_EQ(ErrorDescription(nullptr, Iid::ICommand), "Unknown Error!");
  FakeWorld w;
  DataSource ds("Fake", std::make_unique<FakeDataSource>(w));
  PropertySet p;
  p.Add(DBPROP_AUTH_PASSWORD, Variant::Bstr("wrong"));
  ASSERT_EQ(ds.SetProperties(p), hr::S_OK);
  EXPECT_EQ(ds.Initialize(), hr::DB_SEC_E_AUTH_FAILED);
  // Only the first record's description.
  EXPECT_EQ(ErrorDescription(&ds, Iid::IDBInitialize), "Access denied for user");
  // A data source gives no error information for a rowset's interface.
  EXPECT_EQ(ErrorDescription(&ds, Iid::IRowset), "Unknown Error!");
  ASSERT_TRUE(ds.ErrorObject());
  EXPECT_EQ(ds.ErrorObject()->size(), 2u);
}

TEST(ErrorReader, RecordsBelongToTheFailingThreadAndTheNextCallClearsThem) {
  FakeWorld w;
  DataSource ds("Fake", std::make_unique<FakeDataSource>(w));
  PropertySet p;
  p.Add(DBPROP_AUTH_PASSWORD, Variant::Bstr("wrong"));
  ASSERT_EQ(ds.SetProperties(p), hr::S_OK);
  ASSERT_TRUE(hr::Failed(ds.Initialize()));
  std::string seenElsewhere;
  std::thread([&] { seenElsewhere = ErrorDescription(&ds, Iid::IDBInitialize); }).join();
  EXPECT_EQ(seenElsewhere, "Unknown Error!");
  EXPECT_EQ(ErrorDescription(&ds, Iid::IDBInitialize), "Access denied for user");
  // A successful call on the object clears the thread's records.
  p.Set(DBPROP_AUTH_PASSWORD, Variant::Bstr("right"));
  ASSERT_EQ(ds.SetProperties(p), hr::S_OK);
  EXPECT_EQ(ErrorDescription(&ds, Iid::IDBInitialize), "Unknown Error!");
}

TEST(DataSourceObject, FollowsTheInitialisationRules) {
  FakeWorld w;
  DataSource ds("Fake", std::make_unique<FakeDataSource>(w));
  std::shared_ptr<Session> s;
  EXPECT_EQ(ds.CreateSession(s), hr::E_UNEXPECTED);
  EXPECT_FALSE(s);
  PropertySet rowsetSet = StandardRowsetProperties();
  EXPECT_EQ(ds.SetProperties(rowsetSet), hr::DB_E_ERRORSOCCURRED);
  PropertySet a, b;
  a.Add(DBPROP_INIT_CATALOG, Variant::Bstr("one"));
  b.Add(DBPROP_INIT_CATALOG, Variant::Bstr("two"));
  ASSERT_EQ(ds.SetProperties(a), hr::S_OK);
  ASSERT_EQ(ds.SetProperties(b), hr::S_OK);
  EXPECT_EQ(ds.InitProperties().FindText(DBPROP_INIT_CATALOG), "two");
  ASSERT_EQ(ds.Initialize(), hr::S_OK);
  EXPECT_EQ(ds.Initialize(), hr::DB_E_ALREADYINITIALIZED);
  EXPECT_EQ(ds.SetProperties(a), hr::DB_E_ALREADYINITIALIZED);
  std::string name;
  EXPECT_EQ(ds.GetInfo(DBPROP_DBMSNAME, name), hr::S_OK);
  EXPECT_EQ(name, "Fake");
  EXPECT_EQ(ds.CreateSession(s), hr::S_OK);
  EXPECT_TRUE(s);
}

TEST(CommandAndRowset, MisuseFailsWithTheOleDbCodes) {
  FakeConnection c;
  c.world.Set("select", testing::RowsOf(2, {{"a", "b"}}));
  auto s = c.slot.Get();
  std::unique_ptr<Command> cmd;
  ASSERT_EQ(s->CreateCommand(cmd), hr::S_OK);
  std::unique_ptr<Rowset> rs;
  EXPECT_EQ(cmd->Execute(StandardRowsetProperties(), rs), hr::DB_E_NOCOMMAND);
  ASSERT_EQ(cmd->SetCommandText("select"), hr::S_OK);
  ASSERT_EQ(cmd->Execute(StandardRowsetProperties(), rs), hr::S_OK);
  ASSERT_TRUE(rs);
  TextRow row;
  EXPECT_EQ(rs->GetData(row), hr::DB_E_BADACCESSORHANDLE);
  EXPECT_EQ(rs->CreateAccessor(3), hr::DB_E_BADORDINAL);
  EXPECT_NE(ErrorDescription(rs.get(), Iid::IAccessor), "Unknown Error!");
  ASSERT_EQ(rs->CreateAccessor(std::vector<DBORDINAL>{2, 1}), hr::S_OK);
  EXPECT_EQ(rs->CreateAccessor(1), hr::DB_E_BADACCESSORHANDLE);
  EXPECT_EQ(rs->GetData(row), hr::DB_E_BADROWHANDLE);  // no current row yet
  ASSERT_EQ(rs->GetNextRow(), hr::S_OK);
  ASSERT_EQ(rs->GetData(row), hr::S_OK);
  EXPECT_EQ(row.values, (std::vector<std::string>{"b", "a"}));  // slot order, not column order
  EXPECT_EQ(rs->GetNextRow(), hr::DB_S_ENDOFROWSET);
}

TEST(CommandAndRowset, ObjectsOutliveTheSlotThatHeldTheSession) {
  FakeConnection c;
  c.world.Set("select", testing::RowsOf(1, {{"x"}, {"y"}}));
  std::unique_ptr<Rowset> rs;
  {
    auto s = c.slot.Get();
    std::unique_ptr<Command> cmd;
    ASSERT_EQ(s->CreateCommand(cmd), hr::S_OK);
    ASSERT_EQ(cmd->SetCommandText("select"), hr::S_OK);
    ASSERT_EQ(cmd->Execute(StandardRowsetProperties(), rs), hr::S_OK);
  }
  c.slot.Reset();  // the side is closed while a reader still works
  c.dataSource.reset();
  ASSERT_EQ(rs->CreateAccessor(1), hr::S_OK);
  TextRow row;
  ASSERT_EQ(rs->GetNextRow(), hr::S_OK);
  ASSERT_EQ(rs->GetData(row), hr::S_OK);
  EXPECT_EQ(row.Value(0), "x");
}

}  // namespace
}  // namespace migrator::oledb
