// The Backup command and the backup steps: the command's decision table
// through the scripted frontend, names from a provider that would leave the
// backup directory or share a file, files that cannot be written, and a stop
// during a database backup.

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <ctime>
#include <map>
#include <sstream>

#include "adapters/excel/excel_adapter.h"
#include "app/output.h"
#include "oledb/memory_rowset.h"
#include "oledb/schema.h"
#include "workflow_fixture.h"
#include "workflows/backup.h"
#include "workflows/migration.h"

namespace migrator::testing {
namespace {

namespace fs = std::filesystem;
using Cell = oledb::MemoryRowset::Value;

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);)
    lines.push_back(line);
  return lines;
}

bool Has(const std::vector<std::string>& all, const std::string& one) {
  return std::find(all.begin(), all.end(), one) != all.end();
}

class BackupCommandTest : public ::testing::Test {
 protected:
  // No task functions: queued tasks stay waiting.
  BackupCommandTest() : ws(ui, dir.str(), QuickTiming(), TaskFunctionTable{}) {}

  std::string Path(const std::string& name) const { return (dir / name).string(); }

  // Connects the target side to a workbook of the directory.
  void ConnectBook(const std::string& name) {
    ConnectionSettings s;
    s.providerId = kJetProvider;
    s.sourceName = Path(name);
    ws.target.SetSettings(s);
    Connect(ws, DataSourceSide::Target);
    ASSERT_TRUE(ws.target.Connected());
  }

  NodeId Find(NodeKind kind) const {
    for (const auto& n : ws.target.tree.Nodes())
      if (n.kind == kind && n.id != kNoNode) return n.id;
    ADD_FAILURE() << "no node of kind " << static_cast<int>(kind);
    return kNoNode;
  }

  TempDir dir;
  ScriptedFrontend ui;
  Workspace ws;
};

TEST_F(BackupCommandTest, DecisionTableThroughTheScriptedFrontend) {
  // Without a target connection: the hint and the message, nothing else.
  EXPECT_FALSE(BackupCommand(ws));
  EXPECT_EQ(ui.Calls(), (std::vector<std::string>{
                            "hint: Please confirm your target Database connected SUCCESSFULLY!",
                            "ask Ok: No Target DataSource Connection!"}));
  EXPECT_FALSE(fs::exists(dir / "backup"));
  EXPECT_EQ(ws.State(), ControllerState::Idle);

  MakeTableBook(Path("shop.xls"), {{"orders", {"id", "name"}, {{"1", "a"}}}});
  ConnectBook("shop.xls");
  // The tree as the window shows it (a view included, which workbooks lack).
  std::vector<TreeNode> nodes;
  auto add = [&](NodeKind kind, std::string text, NodeId parent) {
    const auto id = static_cast<NodeId>(nodes.size());
    nodes.push_back(TreeNode{id, kind, std::move(text), parent, {}, false});
    if (parent != kNoNode) nodes[parent].children.push_back(id);
    return id;
  };
  const NodeId root = add(NodeKind::Root, Path("shop"), kNoNode);
  const NodeId database = add(NodeKind::Database, Path("shop"), root);
  const NodeId tables = add(NodeKind::TablesFolder, "Tables", database);
  const NodeId fields =
      add(NodeKind::FieldsFolder, "Fields", add(NodeKind::Table, "orders", tables));
  add(NodeKind::Column, "id", fields);
  add(NodeKind::View, "v", add(NodeKind::ViewsFolder, "Views", database));
  ws.target.tree.Replace(nodes);

  struct Case {
    NodeKind kind;
    int type;
    const char* object;
    const char* mode;
  };
  const Case cases[] = {{NodeKind::Database, 513, "", "A"},
                        {NodeKind::TablesFolder, 513, "", "T"},
                        {NodeKind::ViewsFolder, 513, "", "V"},
                        {NodeKind::Table, 514, "orders", "T"},
                        {NodeKind::View, 514, "v", "V"}};
  for (const auto& c : cases) {
    ws.target.tree.Select(Find(c.kind));
    ui.QueueFolder(Path("bk"));
    const auto id = BackupCommand(ws);
    ASSERT_TRUE(id) << c.type << c.mode;
    const auto t = ws.tasks.Find(*id);
    ASSERT_TRUE(t);
    EXPECT_EQ(t->kind, kBackupTask);
    EXPECT_EQ(t->typeCode, c.type);
    EXPECT_EQ(t->targetDatabase, Path("shop"));
    EXPECT_EQ(t->targetObject, c.object);
    EXPECT_EQ(t->mode, c.mode);
    EXPECT_EQ(t->stateText, "Waiting");
    EXPECT_EQ(t->targetDbms, ws.target.DbmsTitle());
    EXPECT_LE(std::abs(t->startStamp - static_cast<std::int32_t>(std::time(nullptr))), 5);
  }
  EXPECT_TRUE(fs::is_directory(dir / "backup"));
  EXPECT_TRUE(ws.Backup().chosen);
  EXPECT_EQ(ws.Backup().path, Path("bk"));
  EXPECT_EQ(ws.CurrentDirectory().path(), Path("bk"));
  EXPECT_EQ(ui.CallsStartingWith("folder: ").back(),
            "folder: Please choise your backup directory:");
  // The chooser opens in the program's backup directory.
  EXPECT_EQ(ui.LastFolderStart(), Path("backup"));

  // Another kind of node asks for the directory and queues nothing; so do a
  // cancelled chooser and an empty answer.
  ws.target.tree.Select(Find(NodeKind::Column));
  ui.QueueFolder(Path("bk"));
  EXPECT_FALSE(BackupCommand(ws));
  ws.target.tree.Select(Find(NodeKind::Table));
  ui.QueueFolder(std::nullopt);
  EXPECT_FALSE(BackupCommand(ws));
  ui.QueueFolder(std::string());
  EXPECT_FALSE(BackupCommand(ws));
  EXPECT_EQ(ws.tasks.Size(), 5u);

  // Nothing selected: hint, Tips tab and message, no chooser; the controller
  // is started all the same.
  ws.target.tree.Select(kNoNode);
  ui.ClearCalls();
  EXPECT_FALSE(BackupCommand(ws));
  const auto calls = ui.Calls();
  EXPECT_TRUE(Has(calls, "hint: Please select a Object in Target Databases Tree to backup!"));
  EXPECT_TRUE(Has(calls, "ask Ok: No selected Objects to backup!"));
  EXPECT_TRUE(ui.CallsStartingWith("folder: ").empty());
  EXPECT_EQ(ui.CurrentTab(), kTipsTab);
  EXPECT_NE(ws.State(), ControllerState::Idle);
  EXPECT_EQ(ws.tasks.Size(), 5u);
}

// Each queued backup lands in the directory chosen for it, whatever ran
// between the choice and the task: another choice, a migration entering the
// data cache.
TEST_F(BackupCommandTest, AQueuedBackupLandsInTheDirectoryChosenForIt) {
  MakeTableBook(Path("shop.xls"), {{"orders", {"id"}, {{"1"}}}});
  ConnectBook("shop.xls");
  TreeNode table;
  table.kind = NodeKind::Table;
  table.text = "orders";
  TreeNode database;
  database.kind = NodeKind::Database;
  database.text = Path("shop");
  ui.QueueFolder(Path("x"));
  const auto first = BackupCommand(ws, database);
  ui.QueueFolder(Path("y"));
  const auto second = BackupCommand(ws, table);
  ASSERT_TRUE(first && second);
  ASSERT_TRUE(EnterDataCache(ws));

  for (const auto id : {*first, *second}) {
    const Task t = *ws.tasks.Find(id);
    TaskContext ctx{ws,
                    id,
                    0,
                    t.sourceObject,
                    t.sourceDatabase,
                    t.targetObject,
                    t.targetDatabase,
                    t.mode,
                    &ws.source.session,
                    &ws.target.session,
                    t.directory};
    EXPECT_TRUE(t.typeCode == kBackupObject ? BackupObjectTask(ctx) : BackupDatabaseTask(ctx));
  }
  EXPECT_TRUE(fs::exists(dir / "x" / "shop" / "TABLES" / "orders.tbl"));
  EXPECT_EQ(FilesBelow(dir / "y"),
            (std::vector<std::string>{"DATA/orders.data", "TABLES/orders.tbl"}));
  EXPECT_EQ(FilesBelow(dir / "data_cache"), std::vector<std::string>{});
}

TEST_F(BackupCommandTest, ChosenDirectories) {
  // The root of the file system gets a directory of its own.
  const bool existed = fs::exists("/Backup.Script");
  ui.QueueFolder("/");
  const bool chosen = ChooseBackupDirectory(ws);
  if (::access("/", W_OK) == 0) {
    EXPECT_TRUE(chosen);
    EXPECT_EQ(ws.Backup().path, "/Backup.Script");
    EXPECT_TRUE(fs::is_directory("/Backup.Script"));
    if (!existed) fs::remove("/Backup.Script");
  } else {
    EXPECT_FALSE(chosen);
    EXPECT_NE(ui.Texts().back().find("[/Backup.Script]"), std::string::npos);
  }

  // A file given as the directory is refused and left alone.
  WriteFile(dir / "notes", "keep");
  ui.QueueFolder(Path("notes"));
  EXPECT_FALSE(ChooseBackupDirectory(ws));
  EXPECT_EQ(ReadFile(dir / "notes"), "keep");
  EXPECT_EQ(ui.Lines().back().textColour, kRed);

  // A new directory is made; the stored path is normal.
  ui.QueueFolder(Path("new/../made/"));
  ASSERT_TRUE(ChooseBackupDirectory(ws));
  EXPECT_EQ(ws.Backup().path, Path("made"));
  EXPECT_TRUE(fs::is_directory(dir / "made"));
}

// A provider whose tables and views carry any names: each table has one
// text column "c" and one row "v".
class NamesSession : public oledb::ProviderSession {
 public:
  // name -> TABLE_TYPE; views of schema "sys" are listed too.
  std::vector<std::pair<std::string, std::string>> objects;

  HRESULT Execute(std::string_view, const oledb::PropertySet&,
                  std::unique_ptr<oledb::ProviderRowset>& rowset, oledb::ErrorRecords&) override {
    oledb::ColumnInfo bookmark, c;
    bookmark.ordinal = 0;
    bookmark.type = oledb::DBTYPE_UI4;
    bookmark.flags = oledb::DBCOLUMNFLAGS_ISBOOKMARK;
    c.name = "c";
    c.ordinal = 1;
    c.type = oledb::DBTYPE_WSTR;
    auto rs = std::make_unique<oledb::MemoryRowset>(std::vector<oledb::ColumnInfo>{bookmark, c});
    rs->AddRow({{}, "v"});
    rowset = std::move(rs);
    return hr::S_OK;
  }
  HRESULT OpenSchemaRowset(oledb::Schema schema, const oledb::Restrictions& r,
                           std::unique_ptr<oledb::ProviderRowset>& rowset,
                           oledb::ErrorRecords&) override {
    const auto columns = oledb::SchemaColumnInfo(schema);
    auto rs = std::make_unique<oledb::MemoryRowset>(columns);
    if (schema == oledb::Schema::Tables) {
      const auto type = r.At(oledb::restriction::kTableType);
      for (const auto& [name, kind] : objects) {
        if (type && *type != kind) continue;
        std::vector<Cell> row(columns.size());
        row[1] = kind == "VIEW" && name.rfind("sys_", 0) == 0 ? "sys" : "db";
        row[2] = name;
        row[3] = kind;
        rs->AddRow(row);
      }
    } else if (schema == oledb::Schema::Columns) {
      std::vector<Cell> row(columns.size());
      row[3] = "c";
      row[9] = "106";
      row[11] = "130";
      row[13] = "255";
      rs->AddRow(row);
    }
    rowset = std::move(rs);
    return hr::S_OK;
  }
};

class NamesDataSource : public oledb::ProviderDataSource {
 public:
  explicit NamesDataSource(std::vector<std::pair<std::string, std::string>> objects)
      : objects_(std::move(objects)) {}
  HRESULT Initialize(const oledb::PropertySet&, oledb::ErrorRecords&) override { return hr::S_OK; }
  HRESULT GetInfo(oledb::DBPROPID, std::string& value, oledb::ErrorRecords&) override {
    value = "Names";
    return hr::S_OK;
  }
  HRESULT CreateSession(std::unique_ptr<oledb::ProviderSession>& session,
                        oledb::ErrorRecords&) override {
    auto s = std::make_unique<NamesSession>();
    s->objects = objects_;
    session = std::move(s);
    return hr::S_OK;
  }

 private:
  std::vector<std::pair<std::string, std::string>> objects_;
};

class BackupStepsTest : public BackupCommandTest {
 protected:
  void Open(std::vector<std::pair<std::string, std::string>> objects) {
    ConnectionSettings s;
    s.providerId = kJetProvider;
    ws.target.SetSettings(s);
    dataSource = std::make_shared<oledb::DataSource>(
        kJetProvider, std::make_unique<NamesDataSource>(std::move(objects)));
    ASSERT_EQ(dataSource->Initialize(), hr::S_OK);
    std::shared_ptr<oledb::Session> session;
    ASSERT_EQ(dataSource->CreateSession(session), hr::S_OK);
    slot.Set(session);
    ws.SetBackup(BackupSettings{true, Path("bk")});
  }
  ~BackupStepsTest() override { slot.Reset(); }

  std::shared_ptr<oledb::DataSource> dataSource;
  oledb::SessionSlot slot;
};

TEST_F(BackupStepsTest, NamesStayInsideTheBackupAndNeverShareAFile) {
  Open({{"../x", "TABLE"},
        {"a/b", "TABLE"},
        {"a_b", "TABLE"},
        {"c:d", "TABLE"},
        {".hidden", "TABLE"},
        {"order details", "TABLE"},
        {"x.", "TABLE"},
        {"..", "TABLE"},
        {"listed as a view", "VIEW"},
        {"v/1", "VIEW"},
        {"sys_v", "VIEW"}});
  fs::create_directory(dir / "bk");
  // A database named with a drive and a path gets the last component.
  EXPECT_TRUE(BackupTablesOfDatabase(ws, &slot, "C:\\data\\books.xls"));
  EXPECT_TRUE(BackupViewsOfDatabase(ws, &slot, "C:\\data\\books.xls"));

  // Everything is inside the database's directory, one pair of files per table.
  const fs::path db = dir / "bk" / "books.xls";
  EXPECT_EQ(FilesBelow(dir.path()), (std::vector<std::string>{
                                        "bk/books.xls/DATA/.hidden.data",
                                        "bk/books.xls/DATA/__.data",
                                        "bk/books.xls/DATA/___x.data",
                                        "bk/books.xls/DATA/a_b.data",
                                        "bk/books.xls/DATA/a_b~2.data",
                                        "bk/books.xls/DATA/c:d.data",
                                        "bk/books.xls/DATA/order details.data",
                                        "bk/books.xls/DATA/x_.data",
                                        "bk/books.xls/TABLES/.hidden.tbl",
                                        "bk/books.xls/TABLES/__.tbl",
                                        "bk/books.xls/TABLES/___x.tbl",
                                        "bk/books.xls/TABLES/a_b.tbl",
                                        "bk/books.xls/TABLES/a_b~2.tbl",
                                        "bk/books.xls/TABLES/c:d.tbl",
                                        "bk/books.xls/TABLES/order details.tbl",
                                        "bk/books.xls/TABLES/x_.tbl",
                                        "bk/books.xls/VIEWS/listed as a view.vw",
                                        "bk/books.xls/VIEWS/v_1.vw",
                                    }));
  // The files keep the real names; every changed name is reported.
  EXPECT_EQ(ReadFile(db / "TABLES" / "a_b.tbl"), "CREATE TABLE `a/b`(\n`c` TEXT )");
  EXPECT_EQ(ReadFile(db / "DATA" / "a_b~2.data"),
            std::string(kDataFileHeader) + "\ninsert into `a_b` values ('v')\n-- end: 1 rows\n");
  EXPECT_EQ(ReadFile(db / "TABLES" / "order details.tbl"),
            "CREATE TABLE `order details`(\n`c` TEXT )");
  const auto texts = ui.Texts();
  for (const char* line :
       {"[../x] is backed up in files named [___x]", "[a/b] is backed up in files named [a_b]",
        "[a_b] is backed up in files named [a_b~2]", "[x.] is backed up in files named [x_]",
        "[..] is backed up in files named [__]", "[v/1] is backed up in files named [v_1]"}) {
    EXPECT_TRUE(Has(texts, line)) << line;
  }
  // A view of a workbook has no text: its file stays empty, with no success line.
  EXPECT_EQ(ReadFile(db / "VIEWS" / "v_1.vw"), "");
  EXPECT_TRUE(Has(texts, "Bakcup View [C:\\data\\books.xls].[v/1]"));
  EXPECT_FALSE(Has(texts, "RESULT: The operation completed SUCCESSFULLY"));
}

TEST_F(BackupStepsTest, FilesThatCannotBeWrittenFailInRedAndTheNextObjectGoesOn) {
  Open({{"t", "TABLE"}, {"u", "TABLE"}, {"w", "TABLE"}});
  const fs::path db = dir / "bk" / "shop";
  // Directories where t's structure file and u's data file belong.
  fs::create_directories(db / "TABLES" / "t.tbl");
  fs::create_directories(db / "DATA" / "u.data");

  EXPECT_FALSE(BackupTablesOfDatabase(ws, &slot, "shop"));
  EXPECT_EQ(ReadFile(db / "TABLES" / "w.tbl"), "CREATE TABLE `w`(\n`c` TEXT )");
  EXPECT_EQ(ReadFile(db / "DATA" / "w.data"),
            std::string(kDataFileHeader) + "\ninsert into `w` values ('v')\n-- end: 1 rows\n");
  // Nothing is written for t and u, and what is in their places stays.
  EXPECT_FALSE(fs::exists(db / "DATA" / "t.data"));
  EXPECT_FALSE(fs::exists(db / "TABLES" / "u.tbl"));
  EXPECT_TRUE(fs::is_directory(db / "DATA" / "u.data"));
  std::vector<std::string> red;
  for (const auto& line : ui.Lines())
    if (line.textColour == kRed) red.push_back(line.text.substr(24));
  const std::string kept =
      " is not backed up: the files of an earlier backup of it, if any, are kept";
  EXPECT_EQ(red, (std::vector<std::string>{
                     "[" + (db / "TABLES" / "t.tbl").string() +
                         "] is a directory, not a file of the backup: it is left as it is",
                     "[t]" + kept,
                     "[" + (db / "DATA" / "u.data").string() +
                         "] is a directory, not a file of the backup: it is left as it is",
                     "[u]" + kept}));
  EXPECT_EQ(FilesBelow(db), (std::vector<std::string>{"DATA/w.data", "TABLES/w.tbl"}));

  // One object alone: the same codes.
  const WorkingDirectory here(db.string());
  EXPECT_EQ(BackupOneTable(ws, &slot, "shop", "t", here), -2);
  EXPECT_EQ(BackupOneTable(ws, &slot, "shop", "u", here), -2);
  EXPECT_EQ(BackupOneTable(ws, &slot, "shop", "w", here), 1);
  fs::create_directories(db / "VIEWS" / "v.vw");
  EXPECT_EQ(BackupOneView(ws, &slot, "shop", "v", here), -2);
}

// Stops the controller (as a confirmed click on the stop button) when a
// given line is written.
class StoppingFrontend : public ScriptedFrontend {
 public:
  Workspace* ws = nullptr;
  std::string stopAt;
  void AppendOutput(const OutputLine& line) override {
    ScriptedFrontend::AppendOutput(line);
    if (ws && line.text.size() > 24 && line.text.substr(24) == stopAt) {
      QueueAnswer(Answer::Ok);
      ws->controller().ButtonPressed();
    }
  }
};

TEST(BackupTask, AStopDuringADatabaseBackupEndsAfterTheCurrentObject) {
  TempDir dir;
  StoppingFrontend ui;
  Workspace ws(ui, dir.str(), QuickTiming());
  std::vector<TableSpec> tables;
  for (const char* name : {"ta", "tb", "tc"}) {
    TableSpec t{name, {"id"}, {}};
    for (int i = 1; i <= 2500; ++i)
      t.rows.push_back({std::to_string(i)});
    tables.push_back(std::move(t));
  }
  const std::string book = (dir / "shop.xls").string();
  MakeTableBook(book, tables);
  ConnectionSettings s;
  s.providerId = kJetProvider;
  s.sourceName = book;
  ws.target.SetSettings(s);
  Connect(ws, DataSourceSide::Target);
  ASSERT_TRUE(ws.target.Connected());

  ui.ws = &ws;
  ui.stopAt = "[tb] 1000 records backuped!";
  ui.QueueFolder((dir / "bk").string());
  TreeNode database;
  database.kind = NodeKind::Database;
  database.text = (dir / "shop").string();
  const auto id = BackupCommand(ws, database);
  ASSERT_TRUE(id);
  EXPECT_EQ(WaitForTask(ws, *id), "FAILURE");

  // The table the stop cut leaves no file: a cut file would pass for its
  // backup.
  const fs::path db = dir / "bk" / "shop";
  EXPECT_EQ(Lines(ReadFile(db / "DATA" / "ta.data")).size(), 2502u);
  EXPECT_FALSE(fs::exists(db / "DATA" / "tb.data"));
  EXPECT_FALSE(fs::exists(db / "TABLES" / "tc.tbl"));
  const auto texts = ui.Texts();
  const auto at = std::find(texts.begin(), texts.end(), "[tb] 1000 records backuped!");
  ASSERT_NE(at, texts.end());
  EXPECT_EQ(std::vector<std::string>(at + 1, std::min(at + 6, texts.end())),
            (std::vector<std::string>{
                "Data Backup Terminaled!", "[tb]    1000 records backuped!",
                "[tb] is not backed up: the files of an earlier backup of it, if any, are kept",
                "Tables Backup Terminaled!",
                "The backup was stopped. Written whole: ta, ta$. Not written (the files of an "
                "earlier backup of them, if any, are kept): tb, tb$, tc, tc$"}));
  EXPECT_TRUE(Has(texts, "Operation FAILURE!"));
}

}  // namespace
}  // namespace migrator::testing
