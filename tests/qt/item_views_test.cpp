// The lists and the folder tree on real views: rows and nodes, the order of
// click and toggle, hit tests against what a real click does, the
// custom-draw stages, and the colours every view paints after a real scan.
#include <QHeaderView>
#include <QPixmap>
#include <QTemporaryDir>
#include <memory>

#include "app/message_log.h"
#include "qt_test_support.h"
#include "ui/list_rows.h"
#include "ui/qt/list_model.h"
#include "ui/qt/qt_images.h"

namespace tsn {
namespace {
using namespace qttest;

QImage Picture(const QIcon& icon) { return icon.pixmap(16, 16).toImage().convertToFormat(QImage::Format_ARGB32); }

QPoint CellCentre(ItemView* view, int row, int column = 0) {
  return view->visualRect(view->model()->index(row, column)).center();
}

struct DrawCall {
  DrawStage stage;
  void* data;
  int subItem;
};
}  // namespace

class ItemViewsTest : public QObject {
  Q_OBJECT

  QTemporaryDir dir_;
  QString image_;

 private slots:
  void initTestCase() {
    QVERIFY(dir_.isValid());
    image_ = dir_.filePath(QStringLiteral("colours.img"));
    // "Clean" holds nothing deleted; "Dirty" one live and two deleted files,
    // one of which was emptied before it was deleted ("Bad File Size").
    QVERIFY(MakeFatImage(dir_.path(), QStringLiteral("colours.img"), QStringLiteral("COLOURS"), QStringLiteral(
        "printf 'some bytes\\n' > body; : > empty; mmd -i colours.img ::/Clean ::/Dirty;"
        " mcopy -i colours.img body '::/Clean/kept file.txt'; mcopy -i colours.img body '::/Dirty/live file.txt';"
        " mcopy -i colours.img body '::/Dirty/gone file.txt'; mcopy -i colours.img empty '::/Dirty/empty gone.txt';"
        " mdel -i colours.img '::/Dirty/gone file.txt' '::/Dirty/empty gone.txt'")));
  }

  void checkBoxClickReachesDialogBeforeToggle() {
    QtApp h;
    h.forward = false;
    QtWindow& w = h.window;
    QVERIFY(h.Show());
    int a = 0, b = 0;
    w.InsertRow(kFileList, 0, "a.txt", 6, &a);
    w.InsertRow(kFileList, 1, "b.txt", 6, &b);
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
    const auto clicks = [&h] {
      std::vector<NotifyCode> codes;
      for (const Message& m : h.seen)
        if (m.kind == MessageKind::Notify && m.id == kDriveList &&
            (m.code == NotifyCode::Click || m.code == NotifyCode::DoubleClick))
          codes.push_back(m.code);
      return codes;
    };
    QTRY_COMPARE(clicks(), std::vector<NotifyCode>({NotifyCode::Click, NotifyCode::DoubleClick}));
    QVERIFY(h.window.IsRowSelected(kDriveList, 0));
  }

  void treeInsertsSortedAndForgetsStaleHandles() {
    QtApp h;
    QtWindow& w = h.window;
    const NodeHandle root = w.InsertNode(kNoNode, "Root", 4, 5, nullptr, false);
    const NodeHandle b = w.InsertNode(root, "b", 4, 5, nullptr, true);
    w.InsertNode(root, "A", 4, 5, nullptr, true);
    w.InsertNode(root, "c", 4, 5, nullptr, true);
    w.InsertNode(root, "0001", 4, 5, nullptr, false);  // an orphan folder goes last
    w.InsertNode(root, "B2", 4, 5, nullptr, true);
    const NodeHandle b2 = w.InsertNode(root, "b", 4, 5, nullptr, true);  // after the equal label
    QStringList walked;
    for (NodeHandle n = w.FirstChild(root); n != kNoNode; n = w.NextSibling(n))
      walked << QString::fromStdString(w.NodeLabel(n));
    QCOMPARE(walked, QStringList({"A", "b", "b", "B2", "c", "0001"}));
    QCOMPARE(w.NextSibling(b), b2);
    // The view shows the same order.
    QAbstractItemModel* model = w.TreeView()->model();
    QStringList shown;
    for (int i = 0; i < model->rowCount(model->index(0, 0)); ++i)
      shown << model->index(i, 0, model->index(0, 0)).data().toString();
    QCOMPARE(shown, walked);
    // A new tree: the old handles find nothing and take nothing.
    w.DeleteAllNodes();
    const NodeHandle newRoot = w.InsertNode(kNoNode, "Root", 4, 5, nullptr, false);
    QVERIFY(newRoot != root);
    QCOMPARE(w.NodeLabel(b), std::string());
    QCOMPARE(w.FirstChild(root), kNoNode);
    QCOMPARE(w.InsertNode(root, "x", 4, 5, nullptr, true), kNoNode);
    QCOMPARE(w.FirstChild(newRoot), kNoNode);
  }

  void treeHitPartsLieInOrderAndAClickSelectsBeforeItNotifies() {
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
    QCOMPARE(w.HitTestAt(kFolderTree, ScreenOf(tree->viewport(), {20, y + 200})).node, kNoNode);
    // What the handler sees when a click arrives: the box not yet toggled,
    // the node already selected.
    int markAtClick = -1;
    NodeHandle selectedAtClick = kNoNode;
    HitTest hitAtClick;
    w.SetDialogProc([&](const Message& m) {
      if (m.kind == MessageKind::Notify && m.id == kFolderTree && m.code == NotifyCode::Click) {
        markAtClick = w.NodeCheck(m.hit.node);
        selectedAtClick = w.SelectedNode();
        hitAtClick = m.hit;
      }
      return ProcResult{};
    });
    QCOMPARE(w.SelectedNode(), kNoNode);
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, PartOf(w, kFolderTree, tree, index, HitPart::Label));
    QCOMPARE(hitAtClick.node, child);
    QCOMPARE(hitAtClick.part, HitPart::Label);
    QCOMPARE(selectedAtClick, child);  // selected on the press, before the click arrives
    QTest::qWait(QApplication::doubleClickInterval() + 50);
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, PartOf(w, kFolderTree, tree, index, HitPart::CheckBox));
    QCOMPARE(hitAtClick.part, HitPart::CheckBox);
    QCOMPARE(markAtClick, kUnchecked);  // the tree toggles after the notification
    QCOMPARE(w.NodeCheck(child), kChecked);
    // The selected folder shows the open folder.
    QStyleOptionViewItem option;
    option.state |= QStyle::State_Selected;
    tree->Delegate()->ItemOption(&option, index);
    QCOMPARE(Picture(option.icon), Picture(DrawSmallImage(5)));
    QCOMPARE(Picture(index.data(Qt::DecorationRole).value<QIcon>()), Picture(DrawSmallImage(4)));
  }

  void customDrawStagesFollowPaintOrder() {
    QtApp h;
    QtWindow& w = h.window;
    QVERIFY(h.Show());
    int a = 0, b = 0, node = 0;
    w.InsertRow(kDriveList, 0, "C:", 0, &a);
    w.InsertRow(kDriveList, 1, "D:", 0, &b);
    w.InsertNode(kNoNode, "Root", 4, 5, &node, false);
    std::vector<DrawCall> calls, treeCalls;
    std::uint32_t atPrepaint = CDRF_NOTIFYITEMDRAW, atItem = CDRF_NOTIFYSUBITEMDRAW;
    w.SetDialogProc([&](const Message& m) -> ProcResult {
      if (m.kind != MessageKind::Notify || m.code != NotifyCode::CustomDraw) return {};
      if (m.id == kFolderTree) {
        treeCalls.push_back({m.customDraw->stage, m.customDraw->itemData, m.customDraw->subItem});
        return {true, 0x20};
      }
      if (m.id != kDriveList) return {};
      calls.push_back({m.customDraw->stage, m.customDraw->itemData, m.customDraw->subItem});
      switch (m.customDraw->stage) {
        case DrawStage::Prepaint: return {true, atPrepaint};
        case DrawStage::ItemPrepaint: return {true, atItem};
        default: return {true, CDRF_NEWFONT};
      }
    });
    ItemView* view = w.ListView(kDriveList);
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
    // The tree has no cell stage.
    w.TreeView()->grab();
    QCOMPARE(static_cast<int>(treeCalls.size()), 2);
    QCOMPARE(treeCalls[1].stage, DrawStage::ItemPrepaint);
    QCOMPARE(treeCalls[1].data, static_cast<void*>(&node));
  }

  // Every view paints in the colours its rows report. The tree: clean
  // folders blue, the rest red up to the root. The file list: in use green,
  // deleted red, the verdict of a file that may be recovered teal, a problem
  // red throughout. The drive list: the free share green, the used space
  // red, the rest purple. The log: a status label green and its message
  // blue, an error red throughout.
  void everyViewPaintsInItsRowsColours() {
    QtApp h;
    QVERIFY(h.ScanImage(image_));
    QtWindow& w = h.window;
    ItemView* tree = w.TreeView();
    ItemView* list = w.ListView(kFileList);
    ItemView* drives = w.ListView(kDriveList);
    ItemView* log = w.ListView(kLogList);
    const QModelIndex root = Folder(tree, {}), clean = Folder(tree, "Clean"), dirty = Folder(tree, "Dirty");
    QVERIFY(clean.isValid() && dirty.isValid());
    std::map<ItemView*, QImage> shown;
    PlainFont(tree);
    QTest::qWait(20);
    shown[tree] = tree->viewport()->grab().toImage();  // before a folder is selected, and highlighted
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, PartOf(w, kFolderTree, tree, dirty, HitPart::Label));
    QCOMPARE(list->model()->rowCount(), 3);
    for (int c = 0; c < 5; ++c) list->setColumnWidth(c, c == 4 ? 180 : 130);
    w.SetRowSelected(kDriveList, 0, false);  // a selected row shows the highlight instead
    LogMessage(&h.app, kStatus, kLogList, "Drive mapping complete.");
    LogMessage(&h.app, kError, kLogList, "The help page could not be opened.");
    w.MoveControl(kLogList, {10, 300, 1020, 200});
    const int live = RowNamed(list, "live file.txt"), gone = RowNamed(list, "gone file.txt");
    const int empty = RowNamed(list, "empty gone.txt"), logged = w.RowCount(kLogList) - 2;
    QVERIFY(live >= 0 && gone >= 0 && empty >= 0);
    QCOMPARE(list->model()->index(gone, 4).data().toString(), QStringLiteral("Recovery may be possible"));
    QCOMPARE(list->model()->index(empty, 4).data().toString(), QStringLiteral("Bad File Size"));
    const QColor inUseGreen(11, 90, 69), teal(11, 62, 69), red(190, 0, 0), blue(0, 0, 190);
    const QColor purple(135, 7, 143), green(0, 190, 0), none;
    struct Cell {
      ItemView* view;
      QModelIndex index;
      QColor painted;  // more than `least` pixels of it
      int least;
      QColor absent;   // none of it, when valid
    };
    std::vector<Cell> cells = {
        {tree, clean, blue, 10, red},           {tree, dirty, red, 10, none},
        {tree, root, red, 10, none},  // it holds a deleted file below
        {drives, drives->model()->index(0, 3), purple, 5, none},
        {drives, drives->model()->index(0, 7), green, 5, purple},
        {drives, drives->model()->index(0, 8), red, 5, none},
        {log, log->model()->index(logged, 0), green, 20, none},
        {log, log->model()->index(logged, 1), blue, 20, green},
        {log, log->model()->index(logged + 1, 0), red, 20, green},
        {log, log->model()->index(logged + 1, 1), red, 20, none},
    };
    for (int c = 0; c < 5; ++c) {
      const auto cell = [&](int row) { return list->model()->index(row, c); };
      cells.push_back({list, cell(live), inUseGreen, 5, red});
      cells.push_back({list, cell(empty), red, 5, teal});
      cells.push_back({list, cell(gone), c == 4 ? teal : red, 5, c == 4 ? red : none});
    }
    for (ItemView* view : {list, drives, log}) {
      PlainFont(view);
      view->scrollTo(view->model()->index(view->model()->rowCount() - 1, 0));
    }
    QTest::qWait(20);
    for (ItemView* view : {list, drives, log}) shown[view] = view->viewport()->grab().toImage();
    for (const Cell& c : cells) {
      const QImage& image = shown[c.view];
      const QRect r = c.view->visualRect(c.index);
      const QByteArray where = c.index.data().toString().toUtf8() + " in column " + QByteArray::number(c.index.column());
      QVERIFY2(PixelsOf(image, r, c.painted) > c.least, where.constData());
      if (c.absent.isValid()) QVERIFY2(PixelsOf(image, r, c.absent) == 0, where.constData());
    }
  }

  // The views lay their rows out once more while the window goes; the
  // pictures they show must still be there, or not be asked for.
  void aShownWindowFullOfRowsClosesCleanly() {
    for (int round = 0; round < 3; ++round) {
      auto window = std::make_unique<QtWindow>();
      AppState app;
      app.ui = window.get();
      MainDialogProc(&app, Message{MessageKind::InitDialog});
      window->show();
      QVERIFY(QTest::qWaitForWindowExposed(window.get()));
      // Rows arrive and the window goes before their layout has run, as
      // when the program ends right after a scan has filled the list.
      for (int i = 0; i < 5000; ++i) {
        window->InsertRow(kFileList, i, "row " + std::to_string(i), 6 + i % 7, nullptr);
        window->InsertRow(kLogList, i, "0 -- Status", i % 4, nullptr);
      }
      window->InsertNode(kNoNode, "Root", 4, 5, nullptr, false);
      window.reset();
    }
  }
};

}  // namespace tsn

TSN_QT_TEST_MAIN(tsn::ItemViewsTest)
#include "item_views_test.moc"
