#pragma once
// The main window on Qt 6 Widgets: the window-system operations the program
// logic calls, standing on real widgets. Every control sits where the layout
// puts it, in client coordinates; every notification, timer, size change and
// mouse message goes to the one dialog procedure, synchronously, as the
// program's handlers expect.
#include <QElapsedTimer>
#include <QIcon>
#include <QStringList>
#include <QWidget>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "ui/qt/item_view.h"
#include "ui/window_system.h"

class QCheckBox;
class QEventLoop;
class QLabel;
class QLineEdit;
class QSettings;
class QSplitter;
class QTextBrowser;
class QPrinter;
class QProgressBar;
class QTimer;
class QToolButton;

namespace tsn {

class FileRowFilter;
class FolderFilter;
class FolderTreeModel;
class ListModel;
class PreviewPane;

class QtWindow final : public QWidget, public WindowSystem {
  Q_OBJECT

 public:
  // The main dialog's size at start: 520 x 287 dialog units at two pixels each.
  static constexpr Point kStartSize{1040, 574};
  static constexpr int kToolbarHeight = 38;
  static constexpr int kToolButtonWidth = 38;
  // The pump lets the event loop run at most this often inside long loops.
  static constexpr int kPumpIntervalMs = 5;

  explicit QtWindow(Point clientSize = kStartSize, QWidget* parent = nullptr);
  ~QtWindow() override;

  // Queues a command as a toolbar button sends it; it is delivered once the
  // event loop runs (the modal loop, or a pump).
  void PostCommand(int command);

  // The widgets, for the window logic built on this layer and for tests.
  QWidget* Control(ControlId id) const;
  ItemView* ListView(ControlId list) const;
  ItemView* TreeView() const { return tree_; }
  QWidget* ToolBar() const { return toolbar_; }
  const std::vector<QToolButton*>& ToolButtons() const { return buttons_; }
  QProgressBar* ProgressBar() const { return progress_; }
  // "Open image" beside the toolbar; Ctrl+O does the same.
  QToolButton* OpenImageButton() const { return openButton_; }
  // The striped bars now drawn over the window, by their rectangles.
  std::vector<Rect> InvertedBars() const;
  // The printer Print offers first: the one chosen last time in this run.
  QPrinter* Printer();
  std::uint32_t ProgressPosition() const { return progressPos_; }
  // Above the file list: show deleted files only, names holding a text, and
  // in the tree only the folders that hold deleted entries.
  QCheckBox* DeletedOnlyBox() const { return deletedOnly_; }
  QLineEdit* NameFilterBox() const { return nameFilter_; }
  QCheckBox* DeletedFoldersBox() const { return deletedFolders_; }
  QToolButton* PreviewButton() const { return previewButton_; }
  PreviewPane* Preview() const { return preview_; }
  QSplitter* FileSplitter() const { return fileSplit_; }
  // The help page shown inside the program; null until one was.
  QTextBrowser* HelpBrowser() const { return helpBrowser_; }
  // Help is shown inside the program even when a desktop browser is there.
  void SetHelpInWindow(bool on) { helpInWindow_ = on; }
  // Keeps the window's size, column widths, the panes and RememberValue's
  // values in these settings between runs; until called, nothing is kept.
  void UseSettings(std::unique_ptr<QSettings> settings);
  void SaveSettings();

  // What lies under a point in screen coordinates, in a list or the tree,
  // as the click notifications report it.
  HitTest HitTestAt(ControlId control, Point screenPoint) const;

  // WindowSystem
  void SetDialogProc(DialogProc proc) override { proc_ = std::move(proc); }
  int RunDialog() override;
  void EndDialog(int result) override;
  bool PumpOneMessage() override;
  void SetWindowTitle(std::string_view title) override;
  std::string WindowTitle() const override;
  void SetText(ControlId control, std::string_view text) override;
  std::string Text(ControlId control) const override;
  void EnableControl(ControlId control, bool enabled) override;
  bool IsControlEnabled(ControlId control) const override;
  void MoveControl(ControlId control, Rect r) override;
  Rect ControlRect(ControlId control) const override;
  Point ClientSize() const override;
  void ShowMessageBox(std::string_view text, std::string_view caption) override;
  void InsertColumn(ControlId list, int index, int width, std::string_view title) override;
  void SetColumnWidth(ControlId list, int column, int width) override;
  int ColumnWidth(ControlId list, int column) const override;
  void SetListExtendedStyle(ControlId list, std::uint32_t style) override;
  void DeleteAllRows(ControlId list) override;
  int RowCount(ControlId list) const override;
  int InsertRow(ControlId list, int index, std::string_view text, int image, void* datum) override;
  void SetRowText(ControlId list, int row, int column, std::string_view text) override;
  std::string RowText(ControlId list, int row, int column) const override;
  int RowImage(ControlId list, int row) const override;
  void* RowData(ControlId list, int row) const override;
  bool IsRowSelected(ControlId list, int row) const override;
  void SetRowSelected(ControlId list, int row, bool selected) override;
  int RowCheck(ControlId list, int row) const override;
  void SetRowCheck(ControlId list, int row, int state) override;
  void ScrollList(ControlId list, int dy) override;
  NodeHandle InsertNode(NodeHandle parent, std::string_view label, int image, int selectedImage,
                        void* datum, bool sorted) override;
  void DeleteAllNodes() override;
  NodeHandle RootNode() const override;
  NodeHandle NextSibling(NodeHandle node) const override;
  NodeHandle ParentNode(NodeHandle node) const override;
  NodeHandle FirstChild(NodeHandle node) const override;
  NodeHandle SelectedNode() const override;
  void* NodeData(NodeHandle node) const override;
  std::string NodeLabel(NodeHandle node) const override;
  int NodeCheck(NodeHandle node) const override;
  void SetNodeCheck(NodeHandle node, int state) override;
  void SetSelectedNode(NodeHandle node) override;
  void ExpandNode(NodeHandle node) override;
  void SetProgressRange(std::uint32_t low, std::uint32_t high) override;
  void SetProgressStep(std::uint32_t step) override { progressStep_ = step; }
  void StepProgress() override;
  void SetProgressPosition(std::uint32_t position) override;
  void SetProgressColour(Colour colour) override;
  void SetTimer(int id, int milliseconds) override;
  void KillTimer(int id) override;
  bool OpenDocument(const std::string& path) override;
  // Through UDisks2 (ui/qt/udisks_open.h).
  DeviceOpening OpenDeviceForReading(const std::string& path) override;
  std::string AskForFolder(std::string_view title) override;
  void SetPointerShape(PointerShape shape) override;
  void CaptureMouse() override;
  void ReleaseMouse() override;
  void InvertPattern(Rect r, const BarPattern& pattern) override;
  std::unique_ptr<PrintSurface> ChoosePrinter() override;
  void ShowPreview(const PreviewContent& content) override;
  bool PreviewShown() const override;
  int RememberedValue(std::string_view key, int fallback) const override;
  void RememberValue(std::string_view key, int value) override;

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  struct List {
    ItemView* view = nullptr;
    ListModel* model = nullptr;
  };

  ProcResult Send(const Message& message);
  void SendCommand(int command);
  void SendMouse(MessageKind kind, const QMouseEvent* event);
  void ConnectToDialog(ItemView* view, ControlId id);
  void ReportSelectionChanges(ItemView* view, ControlId id);
  void MakeToolbar();
  void MakeList(ControlId id, bool withImages);
  void MakeTree();
  void MakeFilePanel(ItemView* view);
  void ShowFileMenu(QPoint viewportPoint);
  void SetPreviewShown(bool shown);
  bool AskDeleted(ControlId id, const QModelIndex& source);
  QModelIndex FileViewIndex(int row) const;
  void MakeStatusText(ControlId id, const char* initial);
  void MakeProgressBar();
  void MakeOpenImage();
  void OpenImages();
  void SendFiles(const QStringList& paths);
  void AddControl(ControlId id, QWidget* widget);
  const List* ListOf(ControlId id) const;
  void ShowProgressPosition();
  void ShowPendingTexts();

  DialogProc proc_;
  std::vector<QIcon> images_;
  std::map<ControlId, QWidget*> controls_;
  std::map<ControlId, List> lists_;
  QWidget* toolbar_ = nullptr;
  std::vector<QToolButton*> buttons_;
  QToolButton* openButton_ = nullptr;
  std::vector<std::pair<Rect, QWidget*>> bars_;  // null widget: a bar wholly outside
  std::unique_ptr<QPrinter> printer_;
  ItemView* tree_ = nullptr;
  FolderTreeModel* treeModel_ = nullptr;
  FolderFilter* treeFilter_ = nullptr;
  FileRowFilter* fileFilter_ = nullptr;
  QWidget* filePanel_ = nullptr;
  QSplitter* fileSplit_ = nullptr;
  PreviewPane* preview_ = nullptr;
  QCheckBox* deletedOnly_ = nullptr;
  QLineEdit* nameFilter_ = nullptr;
  QCheckBox* deletedFolders_ = nullptr;
  QToolButton* previewButton_ = nullptr;
  QTimer* treeRefresh_ = nullptr;
  QTextBrowser* helpBrowser_ = nullptr;
  bool helpInWindow_ = false;
  std::unique_ptr<QSettings> settings_;
  QProgressBar* progress_ = nullptr;
  std::uint32_t progressLow_ = 0, progressHigh_ = 100, progressStep_ = 10, progressPos_ = 0;
  int progressShift_ = 0;  // a 32-bit range is shown scaled into the bar's int range
  std::map<int, QTimer*> timers_;
  QEventLoop* loop_ = nullptr;
  bool ended_ = false;
  int result_ = -1;
  QElapsedTimer pumpClock_;
  std::uint64_t dispatched_ = 0;  // messages sent to the dialog procedure
  int programSelects_ = 0;         // above 0 while the program moves a selection itself
  // Texts set since the event loop last ran, shown when it next runs.
  struct PendingText {
    ControlId id;
    QLabel* label;
    std::string text;
  };
  std::vector<PendingText> pendingTexts_;
  bool pendingShowQueued_ = false;
};

}  // namespace tsn
