#include "browser/refresh_tree.h"

#include "adapters/excel/excel_adapter.h"
#include "app/output.h"
#include "app/workspace.h"
#include "oledb/schema_reader.h"
#include "platform/text.h"
#include "providers/workbook/tables.h"
#include "workflows/connect.h"

namespace migrator {
namespace {

// Builds a node list whose ids are the positions.
class NodeBuilder {
 public:
  NodeId Add(NodeKind kind, std::string text, NodeId parent, bool listed = true) {
    TreeNode n;
    n.id = static_cast<NodeId>(nodes_.size());
    n.kind = kind;
    n.text = std::move(text);
    n.parent = parent;
    n.listed = listed;
    if (parent != kNoNode) nodes_[parent].children.push_back(n.id);
    nodes_.push_back(std::move(n));
    return nodes_.back().id;
  }
  void Expand(NodeId id) {
    if (id != kNoNode) nodes_[id].expanded = true;
  }
  std::vector<TreeNode>& nodes() { return nodes_; }

 private:
  std::vector<TreeNode> nodes_;
};

// A workbook lists each table twice: its sheet ("orders$", "'order
// details$'") and its defined name ("orders", "order_details"). The sheet
// entries are left out.
bool SheetEntry(const std::string& table) {
  return table.find(' ') != std::string::npos || table.find('$') != std::string::npos;
}

// The name of the sheet of a sheet entry: "'order details$'" gives "order
// details", "orders$" gives "orders".
std::string SheetOfEntry(std::string_view entry) {
  if (entry.size() >= 3 && entry.front() == '\'' && entry.back() == '\'') {
    entry = entry.substr(1, entry.size() - 2);
    if (!entry.empty() && entry.back() == '$') entry.remove_suffix(1);
    std::string name;
    for (std::size_t i = 0; i < entry.size(); ++i) {
      name += entry[i];
      if (entry[i] == '\'' && i + 1 < entry.size() && entry[i + 1] == '\'') ++i;
    }
    return name;
  }
  if (!entry.empty() && entry.back() == '$') entry.remove_suffix(1);
  return std::string(entry);
}

// A workbook table shows under one name: the name of its sheet when the
// table's name is the form the provider makes of it (the sheet "order
// details" of the name "order_details"), otherwise its own.
std::string WorkbookTableText(const std::string& name, const std::vector<std::string>& sheets) {
  for (const std::string& sheet : sheets)
    if (sheet == name) return name;
  for (const std::string& sheet : sheets)
    if (EqualNoCase(providers::workbook::DefinedNameForTable(sheet), name)) return sheet;
  return name;
}

std::string TrimRight(std::string s) {
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
    s.pop_back();
  return s;
}

}  // namespace

void RefreshTree(Workspace& ws, DataSourceSide side, int /*mode*/) {
  if (side != DataSourceSide::Source && side != DataSourceSide::Target) return;
  Frontend& ui = ws.frontend();
  DbTree& tree = ws.Side(side).tree;

  // 1.
  tree.SetFilling(true);
  NodeBuilder b;
  auto finish = [&] {
    tree.Replace(std::move(b.nodes()));
    tree.SetFilling(false);
    ui.TreeChanged(side);
  };

  // 2.
  const oledb::SessionRef session = tree.SessionRef();
  const oledb::DataSourceSlot* dataSourceRef = tree.DataSourceRef();
  auto dataSource = dataSourceRef ? dataSourceRef->Get() : nullptr;
  if (!dataSource || !oledb::Resolve(session)) return finish();
  const bool excel = tree.DbmsKindCode() == kExcel;
  const bool jet = IsJetProvider(tree.ProviderId());

  // 3.
  std::string sourceName;
  if (hr::Failed(dataSource->GetInfo(oledb::DBPROP_DATASOURCENAME, sourceName))) {
    sourceName.clear();
    ui.Tell("Get Datasource Name Error!");
  }
  const NodeId root = b.Add(NodeKind::Root, sourceName.empty() ? "DATABASES" : sourceName, kNoNode);

  // 4.
  if (!jet) {
    if (excel) tree.SetCurrentDatabase(std::string(WithoutXlsSuffix(tree.CurrentDatabase())));
    oledb::CatalogsReader catalogs;
    if (hr::Failed(catalogs.Open(session))) {
      WriteOutputText(ui, catalogs.ErrorText());
      // A server that went away leaves the tree marked, not merely empty.
      if (!CheckSideConnection(ws, side)) return finish();
    } else {
      while (catalogs.MoveNext() == hr::S_OK)
        b.Add(NodeKind::Database, catalogs.record().catalogName, root);
    }
  } else {
    // The workbook's database is its path without the extension.
    b.Add(NodeKind::Database, excel ? std::string(WithoutXlsSuffix(sourceName)) : sourceName, root);
  }

  // 5, 6.
  std::string current = tree.CurrentDatabase();
  if (current.empty()) {
    if (hr::Failed(dataSource->GetInfo(oledb::DBPROP_CURRENTCATALOG, current))) current.clear();
    tree.SetCurrentDatabase(current);
  }
  if (current.empty() || EqualNoCase(current, "null")) {
    b.Expand(root);
    return finish();
  }

  // 7. A workbook's database matches its path with or without ".xls".
  NodeId database = kNoNode;
  for (NodeId n : b.nodes()[root].children) {
    const std::string& text = b.nodes()[n].text;
    if (excel ? SameDatabase(text, current) : EqualNoCase(text, current)) {
      database = n;
      break;
    }
  }
  const NodeId tables = b.Add(NodeKind::TablesFolder, "Tables", database);
  const NodeId views = b.Add(NodeKind::ViewsFolder, "Views", database);
  b.Expand(database);

  // 8. Names only: a table's fields and indexes are read when its folders
  // are first opened (ListFolder), so a database of thousands of tables is
  // listed with one rowset.
  oledb::TablesReader tableRows;
  if (hr::Failed(tableRows.Open(
          session, oledb::Restrictions().Set(oledb::restriction::kTableType, "TABLE")))) {
    return finish();
  }
  // A server's tables are listed by their names, blanks and "$" included: a
  // name is quoted wherever it is used. A workbook's under one name each.
  std::vector<std::string> names, sheets;
  while (tableRows.MoveNext() == hr::S_OK) {
    const std::string& name = tableRows.record().tableName;
    if (excel && SheetEntry(name))
      sheets.push_back(SheetOfEntry(name));
    else
      names.push_back(name);
  }
  for (const std::string& name : names) {
    const NodeId table =
        b.Add(NodeKind::Table, excel ? WorkbookTableText(name, sheets) : name, tables);
    b.Add(NodeKind::FieldsFolder, "Fields", table, false);
    b.Add(NodeKind::IndexesFolder, "Indexes", table, false);
  }

  // 9.
  b.Expand(tables);

  // 10.
  oledb::TablesReader viewRows;
  if (hr::Succeeded(viewRows.Open(
          session, oledb::Restrictions().Set(oledb::restriction::kTableType, "VIEW")))) {
    while (viewRows.MoveNext() == hr::S_OK) {
      const auto& r = viewRows.record();
      if (r.tableType != "VIEW" || EqualNoCase(r.tableSchema, "sys") ||
          EqualNoCase(r.tableSchema, "INFORMATION_SCHEMA"))
        continue;
      const NodeId view = b.Add(NodeKind::View, r.tableName, views);
      b.Add(NodeKind::FieldsFolder, "Fields", view, false);
    }
  }

  // 11.
  b.Expand(root);
  finish();
}

bool ListFolder(Workspace& ws, DataSourceSide side, NodeId folder, std::uint64_t generation) {
  if (side != DataSourceSide::Source && side != DataSourceSide::Target) return false;
  DbTree& tree = ws.Side(side).tree;
  const auto node = tree.Node(folder);
  if (!node || node->listed) return false;
  const auto owner = tree.Node(node->parent);
  if (!owner) return false;
  const oledb::SessionRef session = tree.SessionRef();

  std::vector<TreeNode> kids;
  auto add = [&](NodeKind kind, std::string text) {
    TreeNode n;
    n.kind = kind;
    n.text = std::move(text);
    kids.push_back(std::move(n));
  };
  // A folder that cannot be read says why instead of looking empty, and the
  // connection is asked whether it still works.
  auto failed = [&](const std::string& error) {
    WriteOutputText(ws.frontend(), "E::" + node->text + " of [" + owner->text + "]: " + error);
    CheckSideConnection(ws, side);
  };
  if (node->kind == NodeKind::FieldsFolder) {
    oledb::ColumnsReader columns;
    if (hr::Succeeded(columns.Open(
            session, oledb::Restrictions().Set(oledb::restriction::kTableName, owner->text)))) {
      while (columns.MoveNext() == hr::S_OK)
        add(NodeKind::Column, columns.record().columnName);
    } else {
      failed(columns.ErrorText());
    }
  } else if (node->kind == NodeKind::IndexesFolder) {
    // An index over several columns comes once per column.
    oledb::IndexesReader indexes;
    if (hr::Succeeded(indexes.Open(
            session,
            oledb::Restrictions().Set(oledb::restriction::kIndexTableName, owner->text)))) {
      while (indexes.MoveNext() == hr::S_OK) {
        std::string name = TrimRight(indexes.record().indexName);
        if (!name.empty()) add(NodeKind::Index, std::move(name));
      }
    } else {
      failed(indexes.ErrorText());
    }
  } else {
    return false;
  }
  return tree.AppendChildren(folder, generation, kids);
}

}  // namespace migrator
