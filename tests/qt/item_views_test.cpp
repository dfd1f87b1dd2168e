// The lists and the folder tree on real views: rows and nodes, selection,
// check boxes and the order of click and toggle, the custom-draw stages and
// the colours they paint, and hit tests against what a real click does.
#include <QHeaderView>
#include <QImage>
#include <QPainter>
#include <QPixmap>
#include <QTimer>

#include "app/message_log.h"
#include "qt_test_support.h"
#include "ui/column_tables.h"
#include "ui/control_ids.h"
#include "ui/list_rows.h"
#include "ui/qt/list_model.h"
#include "ui/qt/qt_images.h"

namespace tsn {
namespace {
using qttest::QtApp;

QImage Picture(const QIcon& icon) { return icon.pixmap(16, 16).toImage().convertToFormat(QImage::Format_ARGB32); }

QPoint CellCentre(ItemView* view, int row, int column = 0) {
  return view->visualRect(view->model()->index(row, column)).center();
}

Point ScreenOf(QWidget* widget, QPoint local) {
  const QPoint g = widget->mapToGlobal(local);
  return {g.x(), g.y()};
}

int PixelsOf(const QImage& image, const QRect& area, QColor colour) {
  int n = 0;
  const QRect r = area.intersected(image.rect());
  for (int y = r.top(); y <= r.bottom(); ++y)
    for (int x = r.left(); x <= r.right(); ++x) n += image.pixelColor(x, y).rgb() == colour.rgb();
  return n;
}

struct DrawCall {
  DrawStage stage;
  void* data;
  int subItem;
};
}  // namespace

class ItemViewsTest : public QObject {
  Q_OBJECT

 private slots:
  void rowsKeepTextImageDataAndOrder() {
    QtApp h;
    QtWindow& w = h.window;
    int a = 0, b = 0, c = 0;
    QCOMPARE(w.InsertRow(kFileList, 0, "first", 6, &a), 0);
    QCOMPARE(w.InsertRow(kFileList, 5, "last", 7, &c), 1);  // past the end: appended
    QCOMPARE(w.InsertRow(kFileList, 1, "middle", 9, &b), 1);
    w.SetRowText(kFileList, 1, 4, "Recovery may be possible");
    QCOMPARE(w.RowCount(kFileList), 3);
    QCOMPARE(w.RowText(kFileList, 0, 0), std::string("first"));
    QCOMPARE(w.RowText(kFileList, 1, 0), std::string("middle"));
    QCOMPARE(w.RowText(kFileList, 2, 0), std::string("last"));
    QCOMPARE(w.RowText(kFileList, 1, 4), std::string("Recovery may be possible"));
    QCOMPARE(w.RowText(kFileList, 1, 2), std::string());
    QCOMPARE(w.RowData(kFileList, 1), static_cast<void*>(&b));
    QCOMPARE(w.RowImage(kFileList, 2), 7);
    QCOMPARE(w.RowData(kFileList, 3), nullptr);
    QCOMPARE(w.RowData(kFileList, -1), nullptr);
    QCOMPARE(w.RowImage(kFileList, 3), -1);
    // What the view shows is what was set.
    QAbstractItemModel* model = w.ListView(kFileList)->model();
    QCOMPARE(model->columnCount(), 5);
    QCOMPARE(model->headerData(4, Qt::Horizontal).toString(), QStringLiteral("State"));
    QCOMPARE(model->index(1, 4).data().toString(), QStringLiteral("Recovery may be possible"));
    QCOMPARE(model->index(2, 0).data().toString(), QStringLiteral("last"));

    w.SetColumnWidth(kFileList, 1, 123);
    QCOMPARE(w.ColumnWidth(kFileList, 1), 123);
    QCOMPARE(w.ListView(kFileList)->header()->sectionSize(1), 123);
    QCOMPARE(w.ColumnWidth(kFileList, 9), 0);

    w.DeleteAllRows(kFileList);
    QCOMPARE(w.RowCount(kFileList), 0);
    QCOMPARE(model->rowCount(), 0);
    QCOMPARE(model->columnCount(), 5);  // the columns stay
    QCOMPARE(w.InsertRow(12345, 0, "x", 0, nullptr), -1);  // no such list
  }

  void rowImagesComeFromTheSharedImageList() {
    QtApp h;
    QtWindow& w = h.window;
    w.InsertRow(kLogList, 0, "0 -- Alert", 2, nullptr);
    w.InsertRow(kFileList, 0, "clip.avi", 7, nullptr);
    w.InsertRow(kDriveList, 0, "C:", 0, nullptr);
    const QIcon logIcon = w.ListView(kLogList)->model()->index(0, 0).data(Qt::DecorationRole).value<QIcon>();
    const QIcon fileIcon = w.ListView(kFileList)->model()->index(0, 0).data(Qt::DecorationRole).value<QIcon>();
    QCOMPARE(Picture(logIcon), Picture(DrawSmallImage(2)));
    QCOMPARE(Picture(fileIcon), Picture(DrawSmallImage(7)));
    QVERIFY(Picture(logIcon) != Picture(DrawSmallImage(0)));
    // The drive list has no image list: its rows show no picture.
    QVERIFY(!w.ListView(kDriveList)->model()->index(0, 0).data(Qt::DecorationRole).isValid());
    for (int i = 0; i < kSmallImageCount; ++i) QVERIFY(!DrawSmallImage(i).isNull());
    QVERIFY(DrawSmallImage(kSmallImageCount).isNull());
  }

  void selectionIsSingleAndReadBack() {
    QtApp h;
    QtWindow& w = h.window;
    int a = 0, b = 0;
    w.InsertRow(kDriveList, 0, "C:", 0, &a);
    w.InsertRow(kDriveList, 1, "D:", 0, &b);
    QCOMPARE(SelectedRowData(w, kDriveList), nullptr);
    w.SetRowSelected(kDriveList, 1, true);
    QVERIFY(w.IsRowSelected(kDriveList, 1));
    QVERIFY(!w.IsRowSelected(kDriveList, 0));
    QCOMPARE(SelectedRowData(w, kDriveList), static_cast<void*>(&b));
    w.SetRowSelected(kDriveList, 0, true);
    QVERIFY(!w.IsRowSelected(kDriveList, 1));
    QCOMPARE(SelectedRowData(w, kDriveList), static_cast<void*>(&a));
    w.SetRowSelected(kDriveList, 0, false);
    QCOMPARE(SelectedRowData(w, kDriveList), nullptr);
  }

  void checkBoxClickReachesDialogBeforeToggle() {
    QtApp h;
    h.forward = false;
    QtWindow& w = h.window;
    QVERIFY(h.Show());
    int a = 0, b = 0;
    w.InsertRow(kFileList, 0, "a.txt", 6, &a);
    w.InsertRow(kFileList, 1, "b.txt", 6, &b);
    QCOMPARE(w.RowCheck(kFileList, 0), kUnchecked);
    w.SetRowCheck(kFileList, 1, kChecked);
    QCOMPARE(w.ListView(kFileList)->model()->index(1, 0).data(Qt::CheckStateRole).toInt(), int(Qt::Checked));

    // The state the handler reads when the click arrives.
    std::vector<int> seenAtClick;
    bool hitsAgree = true;
    w.SetDialogProc([&](const Message& m) {
      if (m.kind == MessageKind::Notify && m.id == kFileList && m.code == NotifyCode::Click) {
        // The hit the click carries is the one the window sees at that point.
        const HitTest now = w.HitTestAt(kFileList, m.point);
        hitsAgree &= m.hit.row == now.row && m.hit.part == now.part;
        seenAtClick.push_back(m.hit.part == HitPart::CheckBox ? w.RowCheck(kFileList, m.hit.row) : 0);
      }
      return ProcResult{};
    });
    ItemView* view = w.ListView(kFileList);
    // Walk along both rows, alternating between them so that no two clicks
    // make a double click; wherever a real click toggles the box the hit
    // test must say "check box", and nowhere else.
    const QRect cell = view->visualRect(view->model()->index(0, 0));
    int toggles = 0;
    for (int x = cell.left(); x < cell.left() + 60; ++x) {
      for (int row = 0; row < 2; ++row) {
        const QPoint at(x, CellCentre(view, row).y());
        const int before = w.RowCheck(kFileList, row);
        seenAtClick.clear();
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, at);
        const bool toggled = w.RowCheck(kFileList, row) != before;
        toggles += toggled;
        const HitTest hit = w.HitTestAt(kFileList, ScreenOf(view->viewport(), at));
        QCOMPARE(hit.row, row);
        QCOMPARE(hit.part == HitPart::CheckBox, toggled);
        QCOMPARE(static_cast<int>(seenAtClick.size()), 1);
        if (toggled) QCOMPARE(seenAtClick.front(), before);
      }
    }
    QVERIFY(toggles >= 8);  // the box was found at all
    QVERIFY(hitsAgree);
    // Below the last row: a click, but no row.
    const QPoint below(cell.left() + 5, CellCentre(view, 1).y() + cell.height() * 2);
    QCOMPARE(w.HitTestAt(kFileList, ScreenOf(view->viewport(), below)).row, -1);
    QCOMPARE(w.HitTestAt(kFileList, ScreenOf(view->viewport(), below)).part, HitPart::Nowhere);
  }

  void doubleClickFollowsOneClick() {
    QtApp h;
    h.forward = false;
    QVERIFY(h.Show());
    int drive = 0;
    h.window.InsertRow(kDriveList, 0, "C:", 0, &drive);
    ItemView* view = h.window.ListView(kDriveList);
    h.Clear();
    // As a real double click arrives: a click, then the second press that
    // is the double click, and its release.
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, CellCentre(view, 0));
    QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, CellCentre(view, 0));
    QTRY_COMPARE(static_cast<int>(h.Notifications(kDriveList, NotifyCode::DoubleClick).size()), 1);
    QCOMPARE(static_cast<int>(h.Notifications(kDriveList, NotifyCode::Click).size()), 1);
    // The click came first, and the row was selected by then.
    int clickAt = -1, doubleAt = -1;
    for (int i = 0; i < static_cast<int>(h.seen.size()); ++i) {
      const Message& m = h.seen[static_cast<std::size_t>(i)];
      if (m.kind != MessageKind::Notify || m.id != kDriveList) continue;
      if (m.code == NotifyCode::Click) clickAt = i;
      if (m.code == NotifyCode::DoubleClick) doubleAt = i;
    }
    QVERIFY(clickAt >= 0 && clickAt < doubleAt);
    QVERIFY(h.window.IsRowSelected(kDriveList, 0));
  }

  void treeInsertsSortedAndWalks() {
    QtApp h;
    QtWindow& w = h.window;
    int rootData = 0, bData = 0;
    const NodeHandle root = w.InsertNode(kNoNode, "Root", 4, 5, &rootData, false);
    QVERIFY(root != kNoNode);
    const NodeHandle b = w.InsertNode(root, "b", 4, 5, &bData, true);
    w.InsertNode(root, "A", 4, 5, nullptr, true);
    w.InsertNode(root, "c", 4, 5, nullptr, true);
    w.InsertNode(root, "0001", 4, 5, nullptr, false);  // an orphan folder goes last
    w.InsertNode(root, "B2", 4, 5, nullptr, true);
    const NodeHandle b2 = w.InsertNode(root, "b", 4, 5, nullptr, true);  // after the equal label

    QStringList walked;
    for (NodeHandle n = w.FirstChild(root); n != kNoNode; n = w.NextSibling(n)) {
      walked << QString::fromStdString(w.NodeLabel(n));
      QCOMPARE(w.ParentNode(n), root);
    }
    QCOMPARE(walked, QStringList({"A", "b", "b", "B2", "c", "0001"}));
    QCOMPARE(w.NextSibling(w.FirstChild(root)), b);
    QCOMPARE(w.NextSibling(b), b2);
    // The view shows the same order.
    QAbstractItemModel* model = w.TreeView()->model();
    const QModelIndex rootIndex = model->index(0, 0);
    QCOMPARE(rootIndex.data().toString(), QStringLiteral("Root"));
    QStringList shown;
    for (int i = 0; i < model->rowCount(rootIndex); ++i) shown << model->index(i, 0, rootIndex).data().toString();
    QCOMPARE(shown, walked);

    QCOMPARE(w.RootNode(), root);
    QCOMPARE(w.ParentNode(root), kNoNode);
    QCOMPARE(w.NextSibling(root), kNoNode);
    QCOMPARE(w.FirstChild(b), kNoNode);
    QCOMPARE(w.NodeData(root), static_cast<void*>(&rootData));
    QCOMPARE(w.NodeData(b), static_cast<void*>(&bData));
    QCOMPARE(w.NodeCheck(b), kUnchecked);
    w.SetNodeCheck(b, kChecked);
    QCOMPARE(w.NodeCheck(b), kChecked);
    QCOMPARE(model->index(1, 0, rootIndex).data(Qt::CheckStateRole).toInt(), int(Qt::Checked));
  }

  void staleNodeHandlesFindNothing() {
    QtApp h;
    QtWindow& w = h.window;
    int data = 0;
    const NodeHandle oldRoot = w.InsertNode(kNoNode, "Root", 4, 5, &data, false);
    const NodeHandle oldChild = w.InsertNode(oldRoot, "Docs", 4, 5, &data, true);
    w.DeleteAllNodes();
    QCOMPARE(w.RootNode(), kNoNode);
    QCOMPARE(w.TreeView()->model()->rowCount(), 0);
    const NodeHandle newRoot = w.InsertNode(kNoNode, "Root", 4, 5, nullptr, false);
    QVERIFY(newRoot != oldRoot);
    QCOMPARE(w.NodeLabel(oldChild), std::string());
    QCOMPARE(w.NodeData(oldRoot), nullptr);
    QCOMPARE(w.FirstChild(oldRoot), kNoNode);
    QCOMPARE(w.InsertNode(oldRoot, "x", 4, 5, nullptr, true), kNoNode);
    QCOMPARE(w.FirstChild(newRoot), kNoNode);
  }

  void treeClickSelectsAndNotifies() {
    QtApp h;
    h.forward = false;
    QtWindow& w = h.window;
    QVERIFY(h.Show());
    const NodeHandle root = w.InsertNode(kNoNode, "Root", 4, 5, nullptr, false);
    const NodeHandle docs = w.InsertNode(root, "Documents", 4, 5, nullptr, true);
    ItemView* tree = w.TreeView();
    tree->expandAll();
    NodeHandle selectedAtClick = kNoNode;
    HitTest hitAtClick;
    w.SetDialogProc([&](const Message& m) {
      if (m.kind == MessageKind::Notify && m.id == kFolderTree && m.code == NotifyCode::Click) {
        selectedAtClick = w.SelectedNode();
        hitAtClick = m.hit;
      }
      return ProcResult{};
    });
    QCOMPARE(w.SelectedNode(), kNoNode);
    const QModelIndex docsIndex = tree->model()->index(0, 0, tree->model()->index(0, 0));
    const QRect r = tree->visualRect(docsIndex);
    // Scan along the row for the label, then click it.
    QPoint label;
    for (int x = r.left(); x < r.right(); ++x)
      if (w.HitTestAt(kFolderTree, ScreenOf(tree->viewport(), {x, r.center().y()})).part == HitPart::Label) {
        label = {x + 3, r.center().y()};
        break;
      }
    QVERIFY(!label.isNull());
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, label);
    QCOMPARE(selectedAtClick, docs);  // selected on the press, before the click arrives
    QCOMPARE(hitAtClick.node, docs);
    QCOMPARE(hitAtClick.part, HitPart::Label);
    QCOMPARE(w.SelectedNode(), docs);
    // The selected folder shows the open folder.
    QStyleOptionViewItem option;
    option.state |= QStyle::State_Selected;
    tree->Delegate()->ItemOption(&option, docsIndex);
    QCOMPARE(Picture(option.icon), Picture(DrawSmallImage(5)));
    QCOMPARE(Picture(docsIndex.data(Qt::DecorationRole).value<QIcon>()), Picture(DrawSmallImage(4)));
  }

  void programSelectsAndExpandsNodes() {
    QtApp h;
    QtWindow& w = h.window;
    QVERIFY(h.Show());
    const NodeHandle root = w.InsertNode(kNoNode, "Root", 4, 5, nullptr, false);
    const NodeHandle child = w.InsertNode(root, "Music", 4, 5, nullptr, true);
    ItemView* tree = w.TreeView();
    const QModelIndex rootIndex = tree->model()->index(0, 0);
    QVERIFY(!tree->isExpanded(rootIndex));
    w.ExpandNode(root);
    QVERIFY(tree->isExpanded(rootIndex));
    w.SetSelectedNode(child);
    QCOMPARE(w.SelectedNode(), child);
    QVERIFY(tree->selectionModel()->isSelected(tree->model()->index(0, 0, rootIndex)));
    w.SetSelectedNode(root);
    QCOMPARE(w.SelectedNode(), root);  // one selected node at a time
    w.SetSelectedNode(kNoNode);
    QCOMPARE(w.SelectedNode(), kNoNode);
  }

  void treeHitTestPartsLieInOrder() {
    QtApp h;
    h.forward = false;
    QtWindow& w = h.window;
    QVERIFY(h.Show());
    const NodeHandle root = w.InsertNode(kNoNode, "Root", 4, 5, nullptr, false);
    const NodeHandle child = w.InsertNode(root, "Pictures", 4, 5, nullptr, true);
    ItemView* tree = w.TreeView();
    tree->expandAll();
    const QModelIndex index = tree->model()->index(0, 0, tree->model()->index(0, 0));
    const int y = tree->visualRect(index).center().y();
    // Left to right across the child's row: indentation, box, picture, label,
    // empty space; each part once, in that order.
    std::vector<HitPart> parts;
    for (int x = 0; x < tree->viewport()->width(); ++x) {
      const HitTest hit = w.HitTestAt(kFolderTree, ScreenOf(tree->viewport(), {x, y}));
      QCOMPARE(hit.node, child);
      if (parts.empty() || parts.back() != hit.part) parts.push_back(hit.part);
    }
    std::vector<HitPart> essential;
    for (HitPart p : parts)
      if (p != HitPart::Other) essential.push_back(p);
    QCOMPARE(essential, std::vector<HitPart>({HitPart::CheckBox, HitPart::Icon, HitPart::Label}));
    QCOMPARE(parts.front(), HitPart::Other);  // the indentation and expand button
    QCOMPARE(parts.back(), HitPart::Other);   // right of the label
    // Where the box is, a real click toggles it.
    int boxX = -1;
    for (int x = 0; x < tree->viewport()->width() && boxX < 0; ++x)
      if (w.HitTestAt(kFolderTree, ScreenOf(tree->viewport(), {x, y})).part == HitPart::CheckBox) boxX = x + 2;
    int markAtClick = -1;
    HitTest hitAtClick;
    w.SetDialogProc([&](const Message& m) {
      if (m.kind == MessageKind::Notify && m.id == kFolderTree && m.code == NotifyCode::Click) {
        markAtClick = w.NodeCheck(m.hit.node);
        hitAtClick = m.hit;
      }
      return ProcResult{};
    });
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, QPoint(boxX, y));
    QCOMPARE(hitAtClick.node, child);
    QCOMPARE(hitAtClick.part, HitPart::CheckBox);
    QCOMPARE(markAtClick, kUnchecked);  // the tree toggles after the notification
    QCOMPARE(w.NodeCheck(child), kChecked);
    // Below every node there is nothing.
    QCOMPARE(w.HitTestAt(kFolderTree, ScreenOf(tree->viewport(), {20, y + 200})).node, kNoNode);
  }

  void customDrawStagesFollowPaintOrder() {
    QtApp h;
    QtWindow& w = h.window;
    QVERIFY(h.Show());
    int a = 0, b = 0;
    w.InsertRow(kDriveList, 0, "C:", 0, &a);
    w.InsertRow(kDriveList, 1, "D:", 0, &b);
    std::vector<DrawCall> calls;
    std::uint32_t atPrepaint = CDRF_NOTIFYITEMDRAW, atItem = CDRF_NOTIFYSUBITEMDRAW;
    w.SetDialogProc([&](const Message& m) -> ProcResult {
      if (m.kind != MessageKind::Notify || m.code != NotifyCode::CustomDraw || m.id != kDriveList)
        return {};
      calls.push_back({m.customDraw->stage, m.customDraw->itemData, m.customDraw->subItem});
      switch (m.customDraw->stage) {
        case DrawStage::Prepaint: return {true, atPrepaint};
        case DrawStage::ItemPrepaint: return {true, atItem};
        default: return {true, CDRF_NEWFONT};
      }
    });
    ItemView* view = w.ListView(kDriveList);
    const int columns = view->model()->columnCount();
    QCOMPARE(columns, 9);
    view->grab();
    QVERIFY(!calls.empty());
    QCOMPARE(calls.front().stage, DrawStage::Prepaint);
    std::size_t i = 1;
    for (void* row : {static_cast<void*>(&a), static_cast<void*>(&b)}) {
      QVERIFY(i < calls.size());
      QCOMPARE(calls[i].stage, DrawStage::ItemPrepaint);
      QCOMPARE(calls[i].data, row);
      ++i;
      // Each cell that is painted, in column order.
      int lastColumn = -1;
      while (i < calls.size() && calls[i].stage == DrawStage::SubItemPrepaint) {
        QCOMPARE(calls[i].data, row);
        QVERIFY(calls[i].subItem > lastColumn);
        lastColumn = calls[i].subItem;
        ++i;
      }
      QVERIFY(lastColumn >= 1);  // at least two cells are visible
    }

    // Without sub-item notifications a row is one item stage.
    calls.clear();
    atItem = CDRF_DODEFAULT;
    view->grab();
    for (const DrawCall& c : calls) QVERIFY(c.stage != DrawStage::SubItemPrepaint);
    QVERIFY(calls.size() >= 3);
    // Without item notifications the control's stage is all there is.
    calls.clear();
    atPrepaint = CDRF_DODEFAULT;
    view->grab();
    QCOMPARE(static_cast<int>(calls.size()), 1);
    QCOMPARE(calls.front().stage, DrawStage::Prepaint);
  }

  void treeCustomDrawHasNoCellStage() {
    QtApp h;
    QtWindow& w = h.window;
    QVERIFY(h.Show());
    int data = 0;
    w.InsertNode(kNoNode, "Root", 4, 5, &data, false);
    std::vector<DrawCall> calls;
    w.SetDialogProc([&](const Message& m) -> ProcResult {
      if (m.kind != MessageKind::Notify || m.code != NotifyCode::CustomDraw || m.id != kFolderTree)
        return {};
      calls.push_back({m.customDraw->stage, m.customDraw->itemData, m.customDraw->subItem});
      if (m.customDraw->stage == DrawStage::ItemPrepaint) m.customDraw->SetTextColour({0, 0, 190});
      return {true, 0x20};
    });
    w.TreeView()->grab();
    QCOMPARE(static_cast<int>(calls.size()), 2);
    QCOMPARE(calls[0].stage, DrawStage::Prepaint);
    QCOMPARE(calls[1].stage, DrawStage::ItemPrepaint);
    QCOMPARE(calls[1].data, static_cast<void*>(&data));
  }

  void logRowsPaintInSeverityColours() {
    QtApp h;  // the program's own dialog procedure and log
    QtWindow& w = h.window;
    QVERIFY(h.Show());
    ItemView* view = w.ListView(kLogList);
    // Plain pixels, so the glyphs carry exactly the colour they were drawn in.
    QFont font = view->font();
    font.setStyleStrategy(QFont::NoAntialias);
    font.setPixelSize(12);
    view->setFont(font);
    w.MoveControl(kLogList, {10, 300, 1020, 200});
    LogMessage(&h.app, kStatus, kLogList, "Drive mapping complete.");
    LogMessage(&h.app, kError, kLogList, "The help page could not be opened.");
    QCOMPARE(w.RowCount(kLogList), 2);
    QTest::qWait(20);
    const QImage image = view->viewport()->grab().toImage();
    const QRect label0 = view->visualRect(view->model()->index(0, 0));
    const QRect text0 = view->visualRect(view->model()->index(0, 1));
    const QRect label1 = view->visualRect(view->model()->index(1, 0));
    const QRect text1 = view->visualRect(view->model()->index(1, 1));
    const QColor green(0, 190, 0), blue(0, 0, 190), red(190, 0, 0);
    // Status: the label in the row's green, the message in blue.
    QVERIFY(PixelsOf(image, label0, green) > 20);
    QVERIFY(PixelsOf(image, text0, blue) > 20);
    QCOMPARE(PixelsOf(image, text0, green), 0);
    // Error: red throughout.
    QVERIFY(PixelsOf(image, label1, red) > 20);
    QVERIFY(PixelsOf(image, text1, red) > 20);
    QCOMPARE(PixelsOf(image, label1, green), 0);
  }
};

}  // namespace tsn

TSN_QT_TEST_MAIN(tsn::ItemViewsTest)
#include "item_views_test.moc"
