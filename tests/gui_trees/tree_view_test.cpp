// The tree views off screen: menus by node kind, the condition tooltip,
// folders read on opening, rename with Enter and Escape, drag and drop from
// the source onto the target, and the character-set dialog. The target tree
// shows a real workbook; the source tree is built by hand.

// The core's headers come before Qt's, whose "slots" keyword they use as a
// name.
#include "adapters/excel/excel_adapter.h"
#include "app/scripted_frontend.h"
#include "app/workspace.h"
#include "browser/charsets.h"
#include "oledb/operations.h"

#include <QApplication>
#include <QButtonGroup>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTimer>
#include <QtTest>
#include <memory>

#include "browser/qt/charset_dialog.h"
#include "browser/qt/db_tree_model.h"
#include "browser/qt/db_tree_view.h"
#include "browser/refresh_tree.h"
#include "support/condition_file.h"
#include "testlib/testlib.h"
#include "workflows/connect.h"
#include "xls/workbook.h"

using namespace migrator;
using migrator::gui::CharsetDialog;
using migrator::gui::DbTreeView;

namespace {

NodeId Find(const DbTree& tree, NodeKind kind, const std::string& text) {
  for (const TreeNode& n : tree.Nodes())
    if (n.id != kNoNode && n.kind == kind && n.text == text) return n.id;
  return kNoNode;
}

std::vector<std::string> Sheets(const std::string& path) {
  std::vector<std::string> names;
  auto wb = xls::Workbook::Load(path);
  if (!wb.ok()) return names;
  for (size_t i = 0; i < wb.value().sheetCount(); ++i)
    names.push_back(wb.value().sheet(i).name());
  return names;
}

// Closes the next popup menu that opens and keeps its item texts.
QStringList* CloseNextPopup() {
  auto* texts = new QStringList;
  QTimer::singleShot(50, [texts] {
    if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
      for (QAction* a : menu->actions())
        texts->append(a->text());
      menu->close();
    }
  });
  return texts;
}

}  // namespace

class TreeViewTest : public QObject {
  Q_OBJECT

 private slots:
  void init() {
    dir_ = std::make_unique<testing::TempDir>();
    ui_ = std::make_unique<ScriptedFrontend>();
    ControllerTiming t;
    t.stopWait = std::chrono::milliseconds(1);
    ws_ = std::make_unique<Workspace>(*ui_, dir_->str(), t);

    // Target: shop.xls with the tables orders (id, name) and items.
    db_ = dir_->str() + "/shop";
    QVERIFY(ExcelAdapter::CreateDatabase(*ws_, db_, 1));
    ConnectionSettings s;
    s.providerId = kJetProvider;
    s.sourceName = db_ + ".xls";
    ws_->target.SetSettings(s);
    Connect(*ws_, DataSourceSide::Target);
    QVERIFY(ws_->target.Connected());
    for (const char* sql :
         {"CREATE TABLE orders (id NUMERIC, name TEXT)", "CREATE TABLE items (sku TEXT)"})
      QVERIFY(oledb::ExecuteStatement(*ui_, &ws_->target.session, sql, 1));
    RefreshTree(*ws_, DataSourceSide::Target, 0);

    // Source: a server's tree as the browser builds it.
    std::vector<TreeNode> nodes(7);
    nodes[0] = {0, NodeKind::Root, "DATABASES", kNoNode, {1}, true};
    nodes[1] = {1, NodeKind::Database, "shop", 0, {2, 5}, true};
    nodes[2] = {2, NodeKind::TablesFolder, "Tables", 1, {3, 4}, true};
    nodes[3] = {3, NodeKind::Table, "customers", 2, {}};
    nodes[4] = {4, NodeKind::Table, "orders", 2, {}};
    nodes[5] = {5, NodeKind::ViewsFolder, "Views", 1, {6}, true};
    nodes[6] = {6, NodeKind::View, "v_orders", 5, {}};
    ws_->source.tree.Replace(nodes);

    source_ = std::make_unique<DbTreeView>(*ws_, DataSourceSide::Source);
    target_ = std::make_unique<DbTreeView>(*ws_, DataSourceSide::Target);
    for (DbTreeView* v : {source_.get(), target_.get()}) {
      v->resize(360, 300);
      v->show();
      v->Reload();
    }
    QVERIFY(QTest::qWaitForWindowExposed(target_.get()));
    ui_->ClearCalls();
  }

  void cleanup() {
    source_.reset();
    target_.reset();
    ws_.reset();
    ui_.reset();
    dir_.reset();
  }

  void menusFollowTheNodeKindAndTheTree() {
    QSignalSpy selected(target_.get(), &DbTreeView::NodeSelected);
    // Right-clicking empty space selects the root and offers its menu.
    QStringList* texts = CloseNextPopup();
    const QPoint empty(20, target_->viewport()->height() - 5);
    QContextMenuEvent click(QContextMenuEvent::Mouse, empty,
                            target_->viewport()->mapToGlobal(empty));
    QApplication::sendEvent(target_->viewport(), &click);
    QCOMPARE(*texts, QStringList{"New Database"});
    delete texts;
    QCOMPARE(ws_->target.tree.Selected(), target_->treeModel()->RootNode());
    QVERIFY(!selected.isEmpty());
    QCOMPARE(selected.last().at(1).toInt(), 0);

    auto items = [](DbTreeView& v, NodeId id) {
      QStringList out;
      std::unique_ptr<QMenu> menu(v.BuildContextMenu(id, nullptr));
      if (menu)
        for (QAction* a : menu->actions())
          out << a->text();
      return out;
    };
    DbTree& t = ws_->target.tree;
    QCOMPARE(items(*target_, Find(t, NodeKind::Database, db_)),
             (QStringList{"Delete Database", "Clear all tables", "Clear all Data"}));
    QCOMPARE(items(*target_, Find(t, NodeKind::Table, "orders")),
             (QStringList{"Drop Table orders", "Rename Table orders"}));
    DbTree& s = ws_->source.tree;
    QCOMPARE(items(*source_, 0), (QStringList{"Change Charset", "Storage Engines"}));
    QCOMPARE(items(*source_, Find(s, NodeKind::Database, "shop")), QStringList{});
    QCOMPARE(items(*source_, Find(s, NodeKind::View, "v_orders")),
             QStringList{"Migration Condition"});

    // The condition of a source table is its tooltip.
    QVERIFY(ConditionFile(dir_->str()).Write("shop", "orders", "id > 10").ok());
    auto* m = source_->treeModel();
    QCOMPARE(m->data(m->IndexOf(Find(s, NodeKind::Table, "orders")), Qt::ToolTipRole).toString(),
             QString("Condition : id > 10"));
    QCOMPARE(m->data(m->IndexOf(Find(s, NodeKind::Table, "customers")), Qt::ToolTipRole).toString(),
             QString("Convert All"));

    // A table's fields are read when its folder opens.
    auto* tm = target_->treeModel();
    const NodeId orders = Find(t, NodeKind::Table, "orders");
    const QModelIndex fields = tm->index(0, 0, tm->IndexOf(orders));
    QVERIFY(tm->hasChildren(fields));
    target_->expand(tm->IndexOf(orders));
    target_->expand(fields);
    QCOMPARE(tm->rowCount(fields), 2);
    QCOMPARE(tm->index(1, 0, fields).data().toString(), QString("name"));
  }

  void renameCommitsWithEnterAndNotWithEscape() {
    auto* tm = target_->treeModel();
    const NodeId orders = Find(ws_->target.tree, NodeKind::Table, "orders");
    target_->setCurrentIndex(tm->IndexOf(orders));
    const std::vector<std::string> before = Sheets(db_ + ".xls");

    auto edit = [&](const char* text, Qt::Key key) {
      target_->RunCommand(kCmdRenameTable);
      QLineEdit* editor = nullptr;  // a closed editor may linger until deleted
      for (auto* e : target_->viewport()->findChildren<QLineEdit*>())
        if (e->isVisible()) editor = e;
      QVERIFY(editor);
      editor->selectAll();
      QTest::keyClicks(editor, text);
      QTest::keyClick(editor, key);
      QCoreApplication::processEvents();
    };
    edit("sales", Qt::Key_Escape);
    QCOMPARE(Sheets(db_ + ".xls"), before);
    QCOMPARE(tm->IndexOf(orders).data().toString(), QString("orders"));

    target_->Reload();
    target_->setCurrentIndex(tm->IndexOf(Find(ws_->target.tree, NodeKind::Table, "orders")));
    edit("sales", Qt::Key_Return);
    QCOMPARE(Sheets(db_ + ".xls"), (std::vector<std::string>{"Sheet3", "sales", "items"}));
    QVERIFY(!ws_->target.tree.RenameCommitted());
  }

  void aDropOnTheTargetHighlightsSelectsAndPostsTheMigration() {
    auto* sm = source_->treeModel();
    auto* tm = target_->treeModel();
    DbTree& t = ws_->target.tree;
    const NodeId database = Find(t, NodeKind::Database, db_);
    for (NodeKind kind : {NodeKind::Table, NodeKind::Database}) {
      const size_t posted = ui_->PostedCommands().size();
      const NodeId dragged =
          Find(ws_->source.tree, kind, kind == NodeKind::Table ? "orders" : "shop");
      std::unique_ptr<QMimeData> data(sm->mimeData({sm->IndexOf(dragged)}));
      QVERIFY(data);
      const QPoint over = target_->visualRect(tm->IndexOf(database)).center();
      QDragEnterEvent enter(over, Qt::CopyAction | Qt::MoveAction, data.get(), Qt::LeftButton,
                            Qt::NoModifier);
      QApplication::sendEvent(target_->viewport(), &enter);
      QVERIFY(enter.isAccepted());
      QCOMPARE(target_->DropHighlight(), database);
      // Beside the nodes' right edge the root is the drop target.
      const QPoint beside(target_->viewport()->width() - 20, over.y());
      QDragMoveEvent moveBeside(beside, Qt::CopyAction | Qt::MoveAction, data.get(), Qt::LeftButton,
                                Qt::NoModifier);
      QApplication::sendEvent(target_->viewport(), &moveBeside);
      QCOMPARE(target_->DropHighlight(), tm->RootNode());
      QDragMoveEvent move(over, Qt::CopyAction | Qt::MoveAction, data.get(), Qt::LeftButton,
                          Qt::NoModifier);
      QApplication::sendEvent(target_->viewport(), &move);
      QCOMPARE(target_->DropHighlight(), database);
      QDropEvent drop(over, Qt::CopyAction | Qt::MoveAction, data.get(), Qt::LeftButton,
                      Qt::NoModifier);
      QApplication::sendEvent(target_->viewport(), &drop);
      QCOMPARE(ui_->PostedCommands().size(), posted + 1);
      QCOMPARE(ui_->PostedCommands().back(), kCmdMigrateDrop);
      QCOMPARE(t.Selected(), database);
      QCOMPARE(target_->DropHighlight(), kNoNode);
    }

    // A drop onto a tree that was rebuilt meanwhile posts nothing.
    const size_t posted = ui_->PostedCommands().size();
    RefreshTree(*ws_, DataSourceSide::Target, 0);
    std::unique_ptr<QMimeData> data(sm->mimeData({sm->IndexOf(4)}));
    const QPoint over = target_->visualRect(tm->IndexOf(database)).center();
    QDropEvent drop(over, Qt::CopyAction, data.get(), Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target_->viewport(), &drop);
    QCOMPARE(ui_->PostedCommands().size(), posted);
  }

  void charsetDialogPreselectsAndAnswersSelectOrCancel() {
    {
      CharsetDialog dialog("LATIN1");
      QCOMPARE(dialog.buttons()->buttons().size(), 37);
      QCOMPARE(dialog.buttons()->button(0)->text(), QString("big5"));
      QCOMPARE(dialog.buttons()->button(35)->text(), QString("eucjpms"));
      QCOMPARE(dialog.buttons()->checkedId(), 5);
      QCOMPARE(dialog.choice(), std::string("LATIN1"));
      dialog.buttons()->button(21)->click();
      QCOMPARE(dialog.choice(), std::string("UTF8"));
    }
    {
      CharsetDialog unknown("KLINGON");
      QCOMPARE(unknown.buttons()->checkedId(), -1);
    }
    // Through the tree: "Select" answers the choice, "Cancel" nothing.
    auto press = [](const char* label) {
      QTimer::singleShot(50, [label] {
        auto* dialog = qobject_cast<CharsetDialog*>(QApplication::activeModalWidget());
        if (!dialog) return;
        dialog->buttons()->button(CharsetIndex("GBK"))->click();
        for (auto* b : dialog->findChildren<QPushButton*>())
          if (b->text() == label) b->click();
      });
    };
    press("Select");
    QCOMPARE(source_->ChooseCharset("LATIN1", OfferedCharsets({})),
             std::optional<std::string>("GBK"));
    press("Cancel");
    QCOMPARE(source_->ChooseCharset("LATIN1", OfferedCharsets({})), std::optional<std::string>());
  }

 private:
  std::unique_ptr<testing::TempDir> dir_;
  std::unique_ptr<ScriptedFrontend> ui_;
  std::unique_ptr<Workspace> ws_;
  std::unique_ptr<DbTreeView> source_, target_;
  std::string db_;
};

QTEST_MAIN(TreeViewTest)
#include "tree_view_test.moc"
