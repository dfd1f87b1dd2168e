#include "ui/qt/qt_window.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QMenu>
#include <QSettings>
#include <QSplitter>
#include <QTextBrowser>
#include <QVBoxLayout>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QEventLoop>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QHeaderView>
#include <QImage>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QPrintDialog>
#include <QPrinter>
#include <QProgressBar>
#include <QScopedValueRollback>
#include <QScreen>
#include <QScrollBar>
#include <QTimer>
#include <QToolButton>
#include <QUrl>
#include <algorithm>
#include <climits>

#include "app/report_layout.h"
#include "app/column_tables.h"
#include "ui/control_ids.h"
#include "ui/qt/folder_tree_model.h"
#include "ui/qt/list_model.h"
#include "ui/qt/preview_pane.h"
#include "ui/qt/print_surface.h"
#include "ui/qt/qt_images.h"
#include "ui/qt/udisks_open.h"
#include "ui/qt/view_filters.h"

namespace tsn {

namespace {

QString ToQString(std::string_view s) {
  return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

Message NotifyMessage(ControlId id, NotifyCode code) {
  Message m;
  m.kind = MessageKind::Notify;
  m.id = id;
  m.code = code;
  return m;
}

// The splitter's striped bar: the window's own pixels under the pattern's
// 1 bits, inverted, and nothing elsewhere. Deleting it lets the window
// paint what lay beneath, so it leaves no trace.
class InvertedBar final : public QWidget {
 public:
  InvertedBar(QWidget* parent, const QRect& area, QImage picture)
      : QWidget(parent), picture_(std::move(picture)) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_NoSystemBackground);
    setObjectName(QStringLiteral("splitBar"));
    setGeometry(area);
    show();
    raise();
  }

 protected:
  void paintEvent(QPaintEvent*) override { QPainter(this).drawImage(rect(), picture_); }

 private:
  QImage picture_;
};

QStringList LocalFiles(const QMimeData* data) {
  QStringList files;
  if (data == nullptr || !data->hasUrls()) return files;
  for (const QUrl& url : data->urls())
    if (url.isLocalFile() && QFileInfo(url.toLocalFile()).isFile()) files << url.toLocalFile();
  return files;
}

}  // namespace

QtWindow::QtWindow(Point clientSize, QWidget* parent)
    : QWidget(parent, Qt::Window), images_(MakeSmallImageList()) {
  setWindowIcon(DrawToolbarImage(4));
  // Moves over the window's own surface reach the splitter without a button
  // held; moves over the controls stay with them.
  setMouseTracking(true);
  MakeToolbar();
  // Created in the order the dialog's controls stand, the spare list under
  // the drive list.
  MakeList(kSpareList, false);
  MakeList(kDriveList, false);
  MakeTree();
  MakeList(kFileList, true);
  MakeList(kLogList, true);
  MakeProgressBar();
  MakeStatusText(kSizeText, "0");
  MakeStatusText(kClockText, "00:00:00");
  MakeStatusText(kDirsText, "0");
  MakeStatusText(kFilesText, "0");
  MakeOpenImage();
  // Above the drive list, beside the toolbar: which sources the last mapping
  // could not read, until the next one.
  auto* sources = new QLabel(this);
  sources->setObjectName(QStringLiteral("sourcesStatus"));
  sources->setTextFormat(Qt::PlainText);
  sources->setStyleSheet(QStringLiteral("color: rgb(190, 0, 0);"));
  AddControl(kSourcesText, sources);
  lists_.at(kSpareList).view->setVisible(false);  // never shown, as it never was
  setAcceptDrops(true);
  resize(std::max(clientSize.x, 0), std::max(clientSize.y, 0));
  pumpClock_.start();
}

QtWindow::~QtWindow() {
  // The views outlive this body: QWidget's own destructor hides them, and
  // they lay out their rows once more. The pictures they point to are
  // members of this class and go first, so the views let go of them now.
  for (auto& [id, list] : lists_) list.model->SetImages(nullptr);
  treeModel_->SetImages(nullptr);
}

void QtWindow::AddControl(ControlId id, QWidget* widget) {
  // A press, move or release on a control belongs to the control; only the
  // window's bare surface feeds the dialog's mouse messages.
  widget->setAttribute(Qt::WA_NoMousePropagation);
  controls_[id] = widget;
}

void QtWindow::MakeToolbar() {
  toolbar_ = new QWidget(this);
  toolbar_->setObjectName(QStringLiteral("toolbar"));
  int x = 0;
  for (const ToolbarButton& b : tsn::ToolbarButtons()) {
    auto* button = new QToolButton(toolbar_);
    button->setIcon(DrawToolbarImage(b.image));
    button->setIconSize(QSize(32, 32));
    button->setAutoRaise(true);
    button->setFocusPolicy(Qt::NoFocus);
    QString tip = QString::fromUtf8(b.tooltip);
    button->setAccessibleName(tip);
    const int command = b.command;
    if (b.shortcut != nullptr) {
      const QKeySequence keys(QString::fromLatin1(b.shortcut), QKeySequence::PortableText);
      tip += QStringLiteral(" (%1)").arg(keys.toString(QKeySequence::NativeText));
      // A window shortcut reaches the dialog from whichever control has the
      // focus, as a press of the button does.
      auto* action = new QAction(this);
      action->setShortcut(keys);
      action->setShortcutContext(Qt::WindowShortcut);
      connect(action, &QAction::triggered, this, [this, command] { SendCommand(command); });
      addAction(action);
    }
    button->setToolTip(tip);
    // Each tool covers 38 pixels of the strip, as its tooltip area does.
    button->setGeometry(x, 0, kToolButtonWidth, kToolbarHeight);
    x += kToolButtonWidth;
    connect(button, &QToolButton::clicked, this, [this, command] { SendCommand(command); });
    buttons_.push_back(button);
  }
  toolbar_->setGeometry(0, 0, std::max(width(), x), kToolbarHeight);
  AddControl(kToolbar, toolbar_);
}

void QtWindow::MakeOpenImage() {
  // Beside the eight buttons, not among them: the toolbar keeps its strip.
  openButton_ = new QToolButton(this);
  openButton_->setObjectName(QStringLiteral("openImage"));
  openButton_->setText(QStringLiteral("Open image\u2026"));
  openButton_->setToolTip(QStringLiteral("Open a disk image (Ctrl+O)"));
  openButton_->setIcon(DrawSmallImage(4));
  openButton_->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
  openButton_->setAutoRaise(true);
  openButton_->setFocusPolicy(Qt::NoFocus);
  openButton_->adjustSize();
  const int x = kToolButtonWidth * static_cast<int>(buttons_.size()) + 10;
  openButton_->move(x, (kToolbarHeight - openButton_->height()) / 2);
  connect(openButton_, &QToolButton::clicked, this, &QtWindow::OpenImages);
  auto* open = new QAction(this);
  open->setShortcut(QKeySequence::Open);
  open->setShortcutContext(Qt::WindowShortcut);
  connect(open, &QAction::triggered, this, &QtWindow::OpenImages);
  addAction(open);
  openButton_->setAttribute(Qt::WA_NoMousePropagation);
}

void QtWindow::OpenImages() {
  QFileDialog dialog(this, QStringLiteral("Open image"));
  dialog.setObjectName(QStringLiteral("openImageDialog"));
  dialog.setFileMode(QFileDialog::ExistingFiles);
  // Split images are opened by their first segment, which brings the rest.
  dialog.setNameFilters({QStringLiteral("Disk images (*.img *.raw *.dd *.ima *.bin *.iso *.001 *.aa *.E01 *.e01 "
                                        "*.vhd *.vhdx *.vmdk *.qcow2 *.qcow)"),
                         QStringLiteral("All files (*)")});
  if (dialog.exec() != QDialog::Accepted) return;
  SendFiles(dialog.selectedFiles());
}

void QtWindow::SendFiles(const QStringList& paths) {
  if (paths.isEmpty()) return;
  Message m;
  m.kind = MessageKind::DropFiles;
  for (const QString& p : paths) m.files.push_back(QFile::encodeName(p).toStdString());
  Send(m);
}

void QtWindow::dragEnterEvent(QDragEnterEvent* event) {
  if (!LocalFiles(event->mimeData()).isEmpty()) event->acceptProposedAction();
}

void QtWindow::dropEvent(QDropEvent* event) {
  const QStringList files = LocalFiles(event->mimeData());
  if (files.isEmpty()) return;
  event->acceptProposedAction();
  // Building the drive list takes a while: the drop is answered first.
  QMetaObject::invokeMethod(this, [this, files] { SendFiles(files); }, Qt::QueuedConnection);
}

void QtWindow::ConnectToDialog(ItemView* view, ControlId id) {
  view->SetCustomDraw([this, id](CustomDrawRecord& record) {
    Message m = NotifyMessage(id, NotifyCode::CustomDraw);
    m.customDraw = &record;
    const ProcResult r = Send(m);
    return r.handled ? static_cast<std::uint32_t>(r.value) : CDRF_DODEFAULT;
  });
  view->SetNotify([this, id](NotifyCode code, Point screenPoint, const HitTest& hit) {
    // A double click on a file shows it, in a pane shown for it if need be.
    if (id == kFileList && code == NotifyCode::DoubleClick && !PreviewShown()) {
      SetPreviewShown(true);
      return;
    }
    Message m = NotifyMessage(id, code);
    m.point = screenPoint;
    m.hit = hit;
    Send(m);
  });
}

void QtWindow::MakeList(ControlId id, bool withImages) {
  auto* view = new ItemView(ItemView::Kind::List, this);
  view->setObjectName(QStringLiteral("list%1").arg(id));
  auto* model = new ListModel(view);
  if (withImages) model->SetImages(&images_);
  if (id == kFileList) {
    // The user orders and narrows the files; the program's rows stay as made.
    fileFilter_ = new FileRowFilter(view);
    fileFilter_->SetDeletedProbe([this](const QModelIndex& source) { return AskDeleted(kFileList, source); });
    fileFilter_->setSourceModel(model);
    view->setModel(fileFilter_);
    view->header()->setSortIndicator(-1, Qt::AscendingOrder);
    view->setSortingEnabled(true);
  } else {
    view->setModel(model);
  }
  ConnectToDialog(view, id);
  // The drive list's selected row is the drive the commands use; the file
  // list's is the file the preview shows.
  if (id == kDriveList || id == kFileList) ReportSelectionChanges(view, id);
  lists_[id] = {view, model};
  if (id == kFileList) MakeFilePanel(view);
  else AddControl(id, view);
}

void QtWindow::MakeFilePanel(ItemView* view) {
  filePanel_ = new QWidget(this);
  filePanel_->setObjectName(QStringLiteral("filePanel"));
  auto* column = new QVBoxLayout(filePanel_);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(2);
  auto* row = new QHBoxLayout();
  row->setSpacing(8);
  deletedOnly_ = new QCheckBox(QStringLiteral("Deleted only"), filePanel_);
  deletedOnly_->setObjectName(QStringLiteral("deletedOnly"));
  deletedOnly_->setToolTip(QStringLiteral("List only the deleted files of the folder"));
  nameFilter_ = new QLineEdit(filePanel_);
  nameFilter_->setObjectName(QStringLiteral("nameFilter"));
  nameFilter_->setPlaceholderText(QStringLiteral("Search names (* and ? match any)"));
  nameFilter_->setClearButtonEnabled(true);
  deletedFolders_ = new QCheckBox(QStringLiteral("Folders with deleted files only"), filePanel_);
  deletedFolders_->setObjectName(QStringLiteral("deletedFolders"));
  deletedFolders_->setToolTip(QStringLiteral("Show in the tree only the folders that hold deleted entries"));
  previewButton_ = new QToolButton(filePanel_);
  previewButton_->setObjectName(QStringLiteral("previewButton"));
  previewButton_->setText(QStringLiteral("Preview"));
  previewButton_->setToolTip(QStringLiteral("Show or hide the content of the selected file (F3)"));
  previewButton_->setCheckable(true);
  previewButton_->setChecked(true);
  previewButton_->setAutoRaise(true);
  row->addWidget(deletedOnly_);
  row->addWidget(nameFilter_, 1);
  row->addWidget(deletedFolders_);
  row->addWidget(previewButton_);
  column->addLayout(row);
  // Under the list, where a hex line of sixteen bytes has the list's width.
  fileSplit_ = new QSplitter(Qt::Vertical, filePanel_);
  fileSplit_->setObjectName(QStringLiteral("fileSplitter"));
  fileSplit_->setChildrenCollapsible(false);
  view->setParent(fileSplit_);
  fileSplit_->addWidget(view);
  preview_ = new PreviewPane(fileSplit_);
  fileSplit_->addWidget(preview_);
  fileSplit_->setStretchFactor(0, 1);
  fileSplit_->setStretchFactor(1, 1);
  column->addWidget(fileSplit_, 1);

  connect(deletedOnly_, &QCheckBox::toggled, this, [this](bool on) { fileFilter_->SetDeletedOnly(on); });
  connect(nameFilter_, &QLineEdit::textChanged, this, [this](const QString& text) { fileFilter_->SetNamePattern(text); });
  connect(deletedFolders_, &QCheckBox::toggled, this, [this](bool on) {
    treeFilter_->SetDeletedOnly(on);
    if (on) treeRefresh_->start();
    else treeRefresh_->stop();
  });
  connect(previewButton_, &QToolButton::toggled, this, [this](bool on) { SetPreviewShown(on); });
  auto* toggle = new QAction(this);
  toggle->setShortcut(QKeySequence(Qt::Key_F3));
  toggle->setShortcutContext(Qt::WindowShortcut);
  connect(toggle, &QAction::triggered, previewButton_, &QToolButton::toggle);
  addAction(toggle);
  // A scan marks folders as deleted while it goes: a narrowed tree asks again.
  treeRefresh_ = new QTimer(this);
  treeRefresh_->setInterval(1000);
  connect(treeRefresh_, &QTimer::timeout, this, [this] { treeFilter_->Refresh(); });
  view->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(view, &QWidget::customContextMenuRequested, this, &QtWindow::ShowFileMenu);
  AddControl(kFileList, filePanel_);
}

bool QtWindow::AskDeleted(ControlId id, const QModelIndex& source) {
  Message m = NotifyMessage(id, NotifyCode::AskDeleted);
  if (id == kFolderTree) m.hit.node = FolderTreeModel::HandleOf(source);
  else m.hit.row = source.row();
  const ProcResult r = Send(m);
  return r.handled && r.value != 0;
}

void QtWindow::SetPreviewShown(bool shown) {
  if (previewButton_->isChecked() != shown) {
    previewButton_->setChecked(shown);  // whose toggle comes back here
    return;
  }
  if (PreviewShown() == shown) return;
  preview_->setVisible(shown);
  // Shown again, it catches up with the selection it missed while hidden.
  if (shown) Send(NotifyMessage(kFileList, NotifyCode::SelectionChange));
}

bool QtWindow::PreviewShown() const { return preview_ != nullptr && preview_->isVisibleTo(fileSplit_); }

void QtWindow::ShowPreview(const PreviewContent& content) {
  if (preview_ != nullptr) preview_->Show(content);
}

void QtWindow::ShowFileMenu(QPoint viewportPoint) {
  ItemView* view = ListView(kFileList);
  const HitTest hit = view->HitAt(viewportPoint);
  if (hit.row < 0) return;
  const QModelIndex at = FileViewIndex(hit.row);
  view->setCurrentIndex(at);  // the user's own choice: the preview follows
  QMenu menu(this);
  menu.setObjectName(QStringLiteral("fileMenu"));
  QAction* preview = menu.addAction(QStringLiteral("Preview"));
  QAction* tick = menu.addAction(RowCheck(kFileList, hit.row) == kChecked ? QStringLiteral("Untick")
                                                                          : QStringLiteral("Tick"));
  menu.addSeparator();
  QAction* copy = menu.addAction(QStringLiteral("Copy files…"));
  const QAction* chosen = menu.exec(view->viewport()->mapToGlobal(viewportPoint));
  if (chosen == preview) {
    SetPreviewShown(true);
  } else if (chosen == tick) {
    view->setCurrentIndex(at);
    QKeyEvent space(QEvent::KeyPress, Qt::Key_Space, Qt::NoModifier, QStringLiteral(" "));
    QCoreApplication::sendEvent(view, &space);  // as the key does: through the program's tick logic
  } else if (chosen == copy) {
    SendCommand(kCmdCopyFiles);
  }
}

QModelIndex QtWindow::FileViewIndex(int row) const {
  const List* l = ListOf(kFileList);
  if (l == nullptr || l->model->RowAt(row) == nullptr) return {};
  return fileFilter_->mapFromSource(l->model->index(row, 0));
}

void QtWindow::MakeTree() {
  tree_ = new ItemView(ItemView::Kind::Tree, this);
  tree_->setObjectName(QStringLiteral("folderTree"));
  treeModel_ = new FolderTreeModel(tree_);
  treeModel_->SetImages(&images_);
  treeFilter_ = new FolderFilter(tree_);
  treeFilter_->SetDeletedProbe([this](const QModelIndex& source) { return AskDeleted(kFolderTree, source); });
  treeFilter_->setSourceModel(treeModel_);
  tree_->setModel(treeFilter_);
  ConnectToDialog(tree_, kFolderTree);
  ReportSelectionChanges(tree_, kFolderTree);  // the selected folder is the one listed
  AddControl(kFolderTree, tree_);
}

void QtWindow::ReportSelectionChanges(ItemView* view, ControlId id) {
  // Whatever moved it: a click, the arrow keys, Home, End, the page keys or a
  // typed letter. Only the user's moves are reported; the program's own
  // (SetRowSelected, SetSelectedNode, emptying a view) are its business.
  connect(view->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this, id] {
    if (programSelects_ == 0) Send(NotifyMessage(id, NotifyCode::SelectionChange));
  });
}

void QtWindow::MakeStatusText(ControlId id, const char* initial) {
  auto* label = new QLabel(QString::fromUtf8(initial), this);
  label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  label->setTextFormat(Qt::PlainText);
  QFont small = label->font();
  small.setPixelSize(11);  // the status strip is 14 pixels high
  label->setFont(small);
  AddControl(id, label);
}

void QtWindow::MakeProgressBar() {
  progress_ = new QProgressBar(this);
  progress_->setTextVisible(false);
  progress_->setRange(0, 100);
  progress_->setValue(0);
  AddControl(kProgressBar, progress_);
}

// --- Dispatch -------------------------------------------------------------

ProcResult QtWindow::Send(const Message& message) {
  if (!proc_) return {};
  ++dispatched_;
  return proc_(message);
}

void QtWindow::SendCommand(int command) {
  Message m;
  m.kind = MessageKind::Command;
  m.id = command;
  Send(m);
}

void QtWindow::PostCommand(int command) {
  QMetaObject::invokeMethod(this, [this, command] { SendCommand(command); }, Qt::QueuedConnection);
}

void QtWindow::SendMouse(MessageKind kind, const QMouseEvent* event) {
  Message m;
  m.kind = kind;
  const QPoint p = event->position().toPoint();
  m.point = {p.x(), p.y()};
  Send(m);
}

void QtWindow::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  toolbar_->resize(std::max(width(), kToolButtonWidth * static_cast<int>(buttons_.size())),
                   kToolbarHeight);
  Message m;
  m.kind = MessageKind::Size;
  Send(m);
}

void QtWindow::closeEvent(QCloseEvent* event) {
  // Closing is the dialog's decision: it ends the dialog when idle, and the
  // window stays while an operation runs.
  event->ignore();
  Message m;
  m.kind = MessageKind::SysCommand;
  m.id = kScClose;
  Send(m);
}

void QtWindow::mouseMoveEvent(QMouseEvent* event) { SendMouse(MessageKind::MouseMove, event); }

void QtWindow::mousePressEvent(QMouseEvent* event) {
  // The press grabs the mouse for this window until the release, so a drag
  // keeps reporting here wherever the pointer goes.
  if (event->button() == Qt::LeftButton) SendMouse(MessageKind::LeftButtonDown, event);
  else QWidget::mousePressEvent(event);
}

void QtWindow::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) SendMouse(MessageKind::LeftButtonUp, event);
  else QWidget::mouseReleaseEvent(event);
}

int QtWindow::RunDialog() {
  if (!ended_) {
    if (!isVisible()) {
      if (const QScreen* s = screen()) move(s->availableGeometry().center() - rect().center());
      show();
    }
    QEventLoop loop;
    loop_ = &loop;
    loop.exec();
    loop_ = nullptr;
  }
  SaveSettings();
  hide();
  const int result = result_;
  ended_ = false;  // the window may be run again
  result_ = -1;
  return result;
}

void QtWindow::EndDialog(int result) {
  if (ended_) return;
  ended_ = true;
  result_ = result;
  // Inside a long operation the loop ends once control is back in it.
  if (loop_ != nullptr) loop_->exit(result);
}

bool QtWindow::PumpOneMessage() {
  // Called once per sector or record, millions of times a scan: most calls
  // only read the clock. Letting the event loop run every few milliseconds
  // keeps the window as alive as a look at the queue per call would.
  if (pumpClock_.elapsed() < kPumpIntervalMs) return false;
  pumpClock_.start();
  const std::uint64_t before = dispatched_;
  ShowPendingTexts();  // before this turn's paint, not after it
  QCoreApplication::processEvents(QEventLoop::AllEvents);
  return dispatched_ != before;
}

// --- Pointer, capture and the splitter's bar ----------------------------------

void QtWindow::SetPointerShape(PointerShape shape) {
  if (shape == PointerShape::SizeWestEast) setCursor(Qt::SizeHorCursor);
  else setCursor(Qt::ArrowCursor);
}

void QtWindow::CaptureMouse() { grabMouse(); }

void QtWindow::ReleaseMouse() {
  if (QWidget::mouseGrabber() == this) releaseMouse();
}

void QtWindow::InvertPattern(Rect r, const BarPattern& pattern) {
  const auto same = std::find_if(bars_.begin(), bars_.end(), [&](const auto& b) { return b.first == r; });
  if (same != bars_.end()) {
    delete same->second;  // inverting it again: the window shows through
    bars_.erase(same);
    return;
  }
  const QRect area = QRect(r.x, r.y, r.width, r.height).intersected(rect());
  if (area.isEmpty()) {
    bars_.emplace_back(r, nullptr);
    return;
  }
  QImage picture = grab(area).toImage().convertToFormat(QImage::Format_ARGB32);
  const double ratio = picture.devicePixelRatio() > 0 ? picture.devicePixelRatio() : 1.0;
  for (int py = 0; py < picture.height(); ++py) {
    auto* line = reinterpret_cast<QRgb*>(picture.scanLine(py));
    const int dy = static_cast<int>(py / ratio) + area.y() - r.y;
    for (int px = 0; px < picture.width(); ++px) {
      const int dx = static_cast<int>(px / ratio) + area.x() - r.x;
      line[px] = pattern.Inverted(dx, dy) ? (~line[px] | 0xFF000000u) : 0u;
    }
  }
  bars_.emplace_back(r, new InvertedBar(this, area, std::move(picture)));
}

std::vector<Rect> QtWindow::InvertedBars() const {
  std::vector<Rect> out;
  for (const auto& b : bars_) out.push_back(b.first);
  return out;
}

// --- Printing ---------------------------------------------------------------

QPrinter* QtWindow::Printer() {
  if (printer_ == nullptr) {
    printer_ = std::make_unique<QPrinter>(QPrinter::HighResolution);
    printer_->setResolution(kReportDotsPerInch);
    printer_->setDocName(QStringLiteral("Document Name"));
  }
  return printer_.get();
}

std::unique_ptr<PrintSurface> QtWindow::ChoosePrinter() {
  QPrintDialog dialog(Printer(), this);
  dialog.setObjectName(QStringLiteral("printDialog"));
  // No page range and no selection to choose: the report prints whole.
  dialog.setOption(QAbstractPrintDialog::PrintSelection, false);
  dialog.setOption(QAbstractPrintDialog::PrintPageRange, false);
  dialog.setOption(QAbstractPrintDialog::PrintCurrentPage, false);
  if (dialog.exec() != QDialog::Accepted) return nullptr;
  return std::make_unique<QtPrintSurface>(Printer());
}

// --- Texts and placement ----------------------------------------------------

void QtWindow::SetWindowTitle(std::string_view title) { setWindowTitle(ToQString(title)); }
std::string QtWindow::WindowTitle() const { return windowTitle().toStdString(); }

QWidget* QtWindow::Control(ControlId id) const {
  const auto it = controls_.find(id);
  return it == controls_.end() ? nullptr : it->second;
}

void QtWindow::SetText(ControlId control, std::string_view text) {
  // A scan sets its counters for every cluster or record, a hundred
  // thousand times between two frames; a label laid out for each would cost
  // ten times what examining the cluster does. The label takes the last
  // text when the event loop next runs.
  for (PendingText& p : pendingTexts_)
    if (p.id == control) {
      p.text.assign(text);
      return;
    }
  auto* label = qobject_cast<QLabel*>(Control(control));
  if (label == nullptr) return;
  pendingTexts_.push_back({control, label, std::string(text)});
  if (!pendingShowQueued_) {
    pendingShowQueued_ = true;
    QTimer::singleShot(0, this, [this] { ShowPendingTexts(); });
  }
}

void QtWindow::ShowPendingTexts() {
  pendingShowQueued_ = false;
  for (const PendingText& p : pendingTexts_) p.label->setText(ToQString(p.text));
  pendingTexts_.clear();
}

std::string QtWindow::Text(ControlId control) const {
  for (const PendingText& p : pendingTexts_)
    if (p.id == control) return p.text;
  if (const auto* label = qobject_cast<const QLabel*>(Control(control)))
    return label->text().toStdString();
  return {};
}

void QtWindow::EnableControl(ControlId control, bool enabled) {
  if (QWidget* w = Control(control)) w->setEnabled(enabled);
}

bool QtWindow::IsControlEnabled(ControlId control) const {
  const QWidget* w = Control(control);
  return w != nullptr && w->isEnabled();
}

void QtWindow::MoveControl(ControlId control, Rect r) {
  // A window too small for the layout gives negative sizes: the control
  // then shrinks to nothing.
  if (QWidget* w = Control(control)) w->setGeometry(r.x, r.y, std::max(r.width, 0), std::max(r.height, 0));
}

Rect QtWindow::ControlRect(ControlId control) const {
  const QWidget* w = Control(control);
  if (w == nullptr) return {};
  const QRect g = w->geometry();
  return {g.x(), g.y(), g.width(), g.height()};
}

Point QtWindow::ClientSize() const { return {width(), height()}; }

void QtWindow::ShowMessageBox(std::string_view text, std::string_view caption) {
  QMessageBox::information(this, ToQString(caption), ToQString(text));
}

std::string QtWindow::AskForFolder(std::string_view title) {
  const QString folder = QFileDialog::getExistingDirectory(
      this, QString::fromUtf8(title.data(), static_cast<qsizetype>(title.size())));
  return folder.toStdString();
}

DeviceOpening QtWindow::OpenDeviceForReading(const std::string& path) {
  // The call waits while the user answers the system's password dialog;
  // the window shows the wait.
  QApplication::setOverrideCursor(Qt::WaitCursor);
  DeviceOpening opening = OpenThroughUDisks(path);
  QApplication::restoreOverrideCursor();
  return opening;
}

bool QtWindow::OpenDocument(const std::string& path) {
  const QFileInfo file(QString::fromStdString(path));
  if (!file.isFile()) return false;
  const QUrl url = QUrl::fromLocalFile(file.absoluteFilePath());
  if (!helpInWindow_ && QDesktopServices::openUrl(url)) return true;
  // No desktop browser took it: the page is shown in a window of our own,
  // its links followed there too.
  if (helpBrowser_ == nullptr) {
    auto* window = new QDialog(this, Qt::Window);
    window->setObjectName(QStringLiteral("helpWindow"));
    window->setWindowTitle(QStringLiteral("Tessilon Help"));
    auto* layout = new QVBoxLayout(window);
    layout->setContentsMargins(0, 0, 0, 0);
    helpBrowser_ = new QTextBrowser(window);
    helpBrowser_->setObjectName(QStringLiteral("helpBrowser"));
    helpBrowser_->setOpenExternalLinks(true);
    layout->addWidget(helpBrowser_);
    window->resize(760, 620);
  }
  helpBrowser_->setSource(url);
  if (helpBrowser_->document()->isEmpty()) return false;
  QWidget* window = helpBrowser_->window();
  window->show();
  window->raise();
  window->activateWindow();
  return true;
}

void QtWindow::UseSettings(std::unique_ptr<QSettings> settings) {
  settings_ = std::move(settings);
  if (!settings_) return;
  const QSize size = settings_->value(QStringLiteral("window/size")).toSize();
  if (size.isValid() && size.width() >= 200 && size.height() >= 150) resize(size);
  fileSplit_->restoreState(settings_->value(QStringLiteral("window/fileSplitter")).toByteArray());
  SetPreviewShown(settings_->value(QStringLiteral("window/preview"), true).toBool());
  for (const auto& [id, list] : lists_) {
    const QVariantList widths = settings_->value(QStringLiteral("columns/%1").arg(id)).toList();
    for (int c = 0; c < widths.size() && c < list.model->columnCount(); ++c)
      if (widths[c].toInt() > 0) list.view->setColumnWidth(c, widths[c].toInt());
  }
}

void QtWindow::SaveSettings() {
  if (!settings_) return;
  settings_->setValue(QStringLiteral("window/size"), size());
  settings_->setValue(QStringLiteral("window/fileSplitter"), fileSplit_->saveState());
  settings_->setValue(QStringLiteral("window/preview"), PreviewShown());
  for (const auto& [id, list] : lists_) {
    QVariantList widths;
    for (int c = 0; c < list.model->columnCount(); ++c) widths << list.view->columnWidth(c);
    settings_->setValue(QStringLiteral("columns/%1").arg(id), widths);
  }
  settings_->sync();
}

int QtWindow::RememberedValue(std::string_view key, int fallback) const {
  if (!settings_) return fallback;
  bool ok = false;
  const int value = settings_->value(QStringLiteral("values/") + ToQString(key)).toInt(&ok);
  return ok ? value : fallback;
}

void QtWindow::RememberValue(std::string_view key, int value) {
  if (settings_) settings_->setValue(QStringLiteral("values/") + ToQString(key), value);
}

// --- Lists ----------------------------------------------------------------

const QtWindow::List* QtWindow::ListOf(ControlId id) const {
  const auto it = lists_.find(id);
  return it == lists_.end() ? nullptr : &it->second;
}

ItemView* QtWindow::ListView(ControlId list) const {
  const List* l = ListOf(list);
  return l ? l->view : nullptr;
}

void QtWindow::InsertColumn(ControlId list, int index, int width, std::string_view title) {
  const List* l = ListOf(list);
  if (l == nullptr) return;
  const int at = l->model->InsertColumn(index, ToQString(title));
  // The width the user left it at last time, where one is kept.
  if (settings_) {
    const QVariantList kept = settings_->value(QStringLiteral("columns/%1").arg(list)).toList();
    if (at < kept.size() && kept[at].toInt() > 0) width = kept[at].toInt();
  }
  l->view->setColumnWidth(at, std::max(width, 0));
}

void QtWindow::SetColumnWidth(ControlId list, int column, int width) {
  const List* l = ListOf(list);
  if (l == nullptr || column < 0 || column >= l->model->columnCount()) return;
  l->view->setColumnWidth(column, std::max(width, 0));
}

int QtWindow::ColumnWidth(ControlId list, int column) const {
  const List* l = ListOf(list);
  if (l == nullptr || column < 0 || column >= l->model->columnCount()) return 0;
  return l->view->columnWidth(column);
}

void QtWindow::SetListExtendedStyle(ControlId list, std::uint32_t style) {
  const List* l = ListOf(list);
  if (l == nullptr) return;
  // Rows are always selected whole here; full-row select needs no switch.
  l->model->SetCheckBoxes((style & kLvsExCheckBoxes) != 0);
  l->view->Delegate()->SetGridLines((style & kLvsExGridLines) != 0);
  l->view->viewport()->update();
}

void QtWindow::DeleteAllRows(ControlId list) {
  if (const List* l = ListOf(list)) l->model->Clear();
}

int QtWindow::RowCount(ControlId list) const {
  const List* l = ListOf(list);
  return l ? l->model->rowCount() : 0;
}

int QtWindow::InsertRow(ControlId list, int index, std::string_view text, int image, void* datum) {
  const List* l = ListOf(list);
  return l ? l->model->InsertRow(index, ToQString(text), image, datum) : -1;
}

void QtWindow::SetRowText(ControlId list, int row, int column, std::string_view text) {
  if (const List* l = ListOf(list)) l->model->SetCell(row, column, ToQString(text));
}

std::string QtWindow::RowText(ControlId list, int row, int column) const {
  const List* l = ListOf(list);
  const ListModel::Row* r = l ? l->model->RowAt(row) : nullptr;
  if (r == nullptr || column < 0 || static_cast<std::size_t>(column) >= r->cells.size()) return {};
  return r->cells[static_cast<std::size_t>(column)].toStdString();
}

int QtWindow::RowImage(ControlId list, int row) const {
  const List* l = ListOf(list);
  const ListModel::Row* r = l ? l->model->RowAt(row) : nullptr;
  return r ? r->image : -1;
}

void* QtWindow::RowData(ControlId list, int row) const {
  const List* l = ListOf(list);
  const ListModel::Row* r = l ? l->model->RowAt(row) : nullptr;
  return r ? r->data : nullptr;
}

bool QtWindow::IsRowSelected(ControlId list, int row) const {
  const List* l = ListOf(list);
  if (l == nullptr || l->model->RowAt(row) == nullptr) return false;
  const QModelIndex at = l->view->ViewIndex(l->model->index(row, 0));
  return at.isValid() && l->view->selectionModel()->isRowSelected(at.row(), QModelIndex());
}

void QtWindow::SetRowSelected(ControlId list, int row, bool selected) {
  const List* l = ListOf(list);
  if (l == nullptr || l->model->RowAt(row) == nullptr) return;
  const QModelIndex index = l->view->ViewIndex(l->model->index(row, 0));
  if (!index.isValid()) return;  // filtered out of sight
  QItemSelectionModel* s = l->view->selectionModel();
  const QScopedValueRollback quiet(programSelects_, programSelects_ + 1);
  if (selected)
    s->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  else
    s->select(index, QItemSelectionModel::Deselect | QItemSelectionModel::Rows);
}

int QtWindow::RowCheck(ControlId list, int row) const {
  const List* l = ListOf(list);
  const ListModel::Row* r = l ? l->model->RowAt(row) : nullptr;
  return r ? r->check : 0;
}

void QtWindow::SetRowCheck(ControlId list, int row, int state) {
  if (const List* l = ListOf(list)) l->model->SetCheck(row, state);
}

void QtWindow::ScrollList(ControlId list, int dy) {
  const List* l = ListOf(list);
  if (l == nullptr || dy == 0) return;
  // The log scrolls down after every row it adds: the newest row shows.
  if (dy > 0) {
    l->view->scrollToBottom();
    return;
  }
  const int rowHeight = std::max(l->view->fontMetrics().height(), 1);
  QScrollBar* bar = l->view->verticalScrollBar();  // counts rows, the view scrolling per item
  bar->setValue(bar->value() - (-dy + rowHeight - 1) / rowHeight);
}

HitTest QtWindow::HitTestAt(ControlId control, Point screenPoint) const {
  const ItemView* view = control == kFolderTree ? tree_ : ListView(control);
  if (view == nullptr) return {};
  return view->HitAt(view->viewport()->mapFromGlobal(QPoint(screenPoint.x, screenPoint.y)));
}

// --- The folder tree ----------------------------------------------------------

NodeHandle QtWindow::InsertNode(NodeHandle parent, std::string_view label, int image,
                                int selectedImage, void* datum, bool sorted) {
  return treeModel_->Insert(parent, std::string(label), image, selectedImage, datum, sorted);
}

void QtWindow::DeleteAllNodes() { treeModel_->Clear(); }
NodeHandle QtWindow::RootNode() const { return treeModel_->RootNode(); }
NodeHandle QtWindow::NextSibling(NodeHandle node) const { return treeModel_->NextSibling(node); }

NodeHandle QtWindow::ParentNode(NodeHandle node) const {
  const FolderTreeModel::Node* n = treeModel_->NodeAt(node);
  return n ? n->parent : kNoNode;
}

NodeHandle QtWindow::FirstChild(NodeHandle node) const {
  const FolderTreeModel::Node* n = treeModel_->NodeAt(node);
  return (n && !n->children.empty()) ? n->children.front() : kNoNode;
}

NodeHandle QtWindow::SelectedNode() const {
  const QModelIndexList rows = tree_->selectionModel()->selectedRows();
  return rows.isEmpty() ? kNoNode : FolderTreeModel::HandleOf(tree_->SourceIndex(rows.front()));
}

void* QtWindow::NodeData(NodeHandle node) const {
  const FolderTreeModel::Node* n = treeModel_->NodeAt(node);
  return n ? n->data : nullptr;
}

std::string QtWindow::NodeLabel(NodeHandle node) const {
  const FolderTreeModel::Node* n = treeModel_->NodeAt(node);
  return n ? n->label : std::string();
}

int QtWindow::NodeCheck(NodeHandle node) const {
  const FolderTreeModel::Node* n = treeModel_->NodeAt(node);
  return n ? n->check : 0;
}

void QtWindow::SetNodeCheck(NodeHandle node, int state) { treeModel_->SetCheck(node, state); }

void QtWindow::SetSelectedNode(NodeHandle node) {
  const QScopedValueRollback quiet(programSelects_, programSelects_ + 1);
  const QModelIndex index = tree_->ViewIndex(treeModel_->IndexOf(node));
  if (!index.isValid()) {
    tree_->selectionModel()->clearSelection();
    return;
  }
  tree_->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
}

void QtWindow::ExpandNode(NodeHandle node) {
  const QModelIndex index = tree_->ViewIndex(treeModel_->IndexOf(node));
  if (index.isValid()) tree_->expand(index);
}

// --- Progress bar and timers -------------------------------------------------

void QtWindow::SetProgressRange(std::uint32_t low, std::uint32_t high) {
  progressLow_ = low;
  progressHigh_ = high;
  progressPos_ = low;
  const std::uint32_t span = high > low ? high - low : 0;
  progressShift_ = 0;
  while ((span >> progressShift_) > static_cast<std::uint32_t>(INT_MAX)) ++progressShift_;
  progress_->setRange(0, static_cast<int>(span >> progressShift_));
  ShowProgressPosition();
}

void QtWindow::StepProgress() {
  const std::uint64_t next = std::uint64_t{progressPos_} + progressStep_;
  // Past the end the bar starts over, as the progress control always did.
  progressPos_ = next > progressHigh_ ? progressLow_ : static_cast<std::uint32_t>(next);
  ShowProgressPosition();
}

void QtWindow::SetProgressPosition(std::uint32_t position) {
  progressPos_ = position;
  ShowProgressPosition();
}

void QtWindow::ShowProgressPosition() {
  const std::uint32_t top = std::max(progressLow_, progressHigh_);
  const std::uint32_t shown = std::clamp(progressPos_, progressLow_, top) - progressLow_;
  progress_->setValue(static_cast<int>(shown >> progressShift_));
}

void QtWindow::SetProgressColour(Colour colour) {
  QPalette palette = progress_->palette();
  palette.setColor(QPalette::Highlight, QColor(colour.r, colour.g, colour.b));
  progress_->setPalette(palette);
}

void QtWindow::SetTimer(int id, int milliseconds) {
  QTimer*& timer = timers_[id];
  if (timer == nullptr) {
    timer = new QTimer(this);
    timer->setSingleShot(true);
    connect(timer, &QTimer::timeout, this, [this, id] {
      Message m;
      m.kind = MessageKind::Timer;
      m.id = id;
      Send(m);
    });
  }
  timer->start(std::max(milliseconds, 0));  // a pending timer starts its delay again
}

void QtWindow::KillTimer(int id) {
  const auto it = timers_.find(id);
  if (it != timers_.end()) it->second->stop();
}

}  // namespace tsn
