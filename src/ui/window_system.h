#pragma once
// The window-system operations the program logic relies on. Scanners and
// handlers talk only to this interface; the headless layer (tests, command
// line) and the Qt layer (desktop) stand under it. Controls are addressed by
// their dialog control identifiers, tree nodes by opaque handles.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace tsn {

using ControlId = int;
using NodeHandle = std::uintptr_t;  // 0: no node
constexpr NodeHandle kNoNode = 0;

struct Point { int x = 0; int y = 0; };
struct Rect {
  int x = 0, y = 0, width = 0, height = 0;
  int Right() const { return x + width; }
  int Bottom() const { return y + height; }
  friend bool operator==(const Rect&, const Rect&) = default;
};
struct Colour {
  std::uint8_t r = 0, g = 0, b = 0;
  friend bool operator==(const Colour&, const Colour&) = default;
};

// The pointer's shape over the window's own surface.
enum class PointerShape { Arrow, SizeWestEast };

// An 8 x 8 one-bit pattern, two bytes a row (the second is padding), most
// significant bit leftmost. Its top-left corner lies on the top-left corner
// of the rectangle it is drawn over.
struct BarPattern {
  std::uint8_t bytes[16] = {};
  bool Inverted(int dx, int dy) const {
    const std::uint8_t row = bytes[((dy % 8 + 8) % 8) * 2];
    return ((row >> (7 - (dx % 8 + 8) % 8)) & 1) != 0;
  }
};

// A print job on the printer the user chose. Positions and sizes are the
// printer's dots, with the origin at the top left of the printable area.
class PrintSurface {
 public:
  virtual ~PrintSurface() = default;
  // Starts the job and its first page; false when either cannot start.
  virtual bool StartDocument(std::string_view name) = 0;
  virtual int PageWidth() const = 0;
  virtual int PageHeight() const = 0;
  // The height of the report font's lines: ascent plus descent.
  virtual int LineHeight() const = 0;
  virtual int TextWidth(std::string_view text) const = 0;
  // Draws text with its top left corner at (x, y).
  virtual void TextOut(int x, int y, std::string_view text) = 0;
  // The characters of the text that no font the surface can use has a
  // glyph for, each once; they would print blank.
  virtual std::vector<char32_t> MissingGlyphs(std::string_view text) const {
    (void)text;
    return {};
  }
  // Ends the page and starts the next one.
  virtual bool NewPage() = 0;
  virtual bool EndPage() = 0;
  virtual bool EndDocument() = 0;
  // Lets go of the printer; the job is over.
  virtual bool Release() = 0;
};

// Check-box state images, as list and tree views number them.
constexpr int kUnchecked = 1;
constexpr int kChecked = 2;

// Custom draw, in the stages a list or tree view paints.
enum class DrawStage { Prepaint, ItemPrepaint, SubItemPrepaint, Other };
constexpr std::uint32_t CDRF_DODEFAULT = 0x00;
constexpr std::uint32_t CDRF_NEWFONT = 0x02;
constexpr std::uint32_t CDRF_NOTIFYITEMDRAW = 0x20;
constexpr std::uint32_t CDRF_NOTIFYSUBITEMDRAW = 0x20;

struct CustomDrawRecord {
  DrawStage stage = DrawStage::Prepaint;
  void* itemData = nullptr;  // the row's or node's datum
  NodeHandle node = kNoNode;  // the tree's node being painted
  int subItem = 0;           // column being painted
  Colour textColour{};
  bool textColourSet = false;
  void SetTextColour(Colour c) { textColour = c; textColourSet = true; }
};

// Messages the dialog procedure receives.
enum class MessageKind {
  InitDialog, Size, SysCommand, Command, Notify, Timer,
  MouseMove, LeftButtonDown, LeftButtonUp,
  DropFiles,  // image files dropped on the window or chosen with "Open image"
};
// SelectionChange: the user moved a list's or the tree's selection, with
// the mouse or the keyboard; changes the program makes itself send none.
// AskDeleted: a view that shows deleted entries only asks about one row
// (hit.row) or node (hit.node); answered with value 1 when it is deleted or,
// for a folder, holds deleted entries.
enum class NotifyCode { None, Click, DoubleClick, CustomDraw, SelectionChange, AskDeleted };
constexpr int kScClose = 0xF060;

// Where a click on a list or the tree landed, as the control's hit-test
// tells it at the moment of the click (before the control toggles a box).
enum class HitPart { Nowhere, Label, Icon, CheckBox, Other };
struct HitTest {
  int row = -1;               // lists
  NodeHandle node = kNoNode;  // the tree
  HitPart part = HitPart::Nowhere;
};

struct Message {
  MessageKind kind = MessageKind::Command;
  int id = 0;                 // command, control, timer or system-command code
  NotifyCode code = NotifyCode::None;
  Point point{};              // mouse messages: client coordinates
  CustomDrawRecord* customDraw = nullptr;
  HitTest hit{};              // click notifications of the file list and the tree
  std::vector<std::string> files{};  // DropFiles: the paths, in the order given
};

// What the preview pane shows of the file selected in the file list.
struct PreviewContent {
  std::string name;                 // empty: nothing is selected
  std::uint64_t size = 0;           // the file's size; `bytes` may hold fewer
  std::vector<std::uint8_t> bytes;  // its first bytes, as a copy reads them
  std::string verdict;              // the state the file list shows
  std::string note;                 // why the bytes may not be the file's own
  bool picture = false;             // the name says it is a picture: try drawing it
  std::string overwrittenBy;        // which live files now hold its clusters, when it is known
};

// A device opened for reading on the user's behalf.
struct DeviceOpening {
  int fd = -1;        // the open device, read-only; the caller owns it
  std::string error;  // why there is none, for the log
};

struct ProcResult {
  bool handled = false;
  std::intptr_t value = 0;
};

class WindowSystem {
 public:
  using DialogProc = std::function<ProcResult(const Message&)>;
  virtual ~WindowSystem() = default;

  // The dialog procedure that messages are dispatched to.
  virtual void SetDialogProc(DialogProc proc) = 0;
  // Runs the modal loop until EndDialog; returns the dialog result.
  virtual int RunDialog() = 0;
  virtual void EndDialog(int result) = 0;
  // Takes at most one waiting message and dispatches it; never blocks.
  // Returns true when a message was dispatched.
  virtual bool PumpOneMessage() = 0;

  // Windows and static texts.
  virtual void SetWindowTitle(std::string_view title) = 0;
  virtual std::string WindowTitle() const = 0;
  virtual void SetText(ControlId control, std::string_view text) = 0;
  virtual std::string Text(ControlId control) const = 0;
  virtual void EnableControl(ControlId control, bool enabled) = 0;
  virtual bool IsControlEnabled(ControlId control) const = 0;
  virtual void MoveControl(ControlId control, Rect r) = 0;
  virtual Rect ControlRect(ControlId control) const = 0;
  virtual Point ClientSize() const = 0;  // width, height of the client area
  virtual void ShowMessageBox(std::string_view text, std::string_view caption) = 0;

  // List views.
  virtual void InsertColumn(ControlId list, int index, int width, std::string_view title) = 0;
  virtual void SetColumnWidth(ControlId list, int column, int width) = 0;
  virtual int ColumnWidth(ControlId list, int column) const = 0;
  virtual void SetListExtendedStyle(ControlId list, std::uint32_t style) = 0;
  virtual void DeleteAllRows(ControlId list) = 0;
  virtual int RowCount(ControlId list) const = 0;
  // Returns the new row's index, -1 when the list refuses it.
  virtual int InsertRow(ControlId list, int index, std::string_view text, int image, void* data) = 0;
  virtual void SetRowText(ControlId list, int row, int column, std::string_view text) = 0;
  virtual std::string RowText(ControlId list, int row, int column) const = 0;
  virtual int RowImage(ControlId list, int row) const = 0;
  virtual void* RowData(ControlId list, int row) const = 0;  // null when no such row
  virtual bool IsRowSelected(ControlId list, int row) const = 0;
  virtual void SetRowSelected(ControlId list, int row, bool selected) = 0;
  virtual int RowCheck(ControlId list, int row) const = 0;  // kUnchecked / kChecked
  virtual void SetRowCheck(ControlId list, int row, int state) = 0;
  virtual void ScrollList(ControlId list, int dy) = 0;

  // The folder tree.
  virtual NodeHandle InsertNode(NodeHandle parent, std::string_view label, int image,
                                int selectedImage, void* data, bool sorted) = 0;
  virtual void DeleteAllNodes() = 0;
  virtual NodeHandle RootNode() const = 0;
  virtual NodeHandle NextSibling(NodeHandle node) const = 0;
  virtual NodeHandle ParentNode(NodeHandle node) const = 0;
  virtual NodeHandle FirstChild(NodeHandle node) const = 0;
  virtual NodeHandle SelectedNode() const = 0;
  virtual void* NodeData(NodeHandle node) const = 0;
  virtual std::string NodeLabel(NodeHandle node) const = 0;
  virtual int NodeCheck(NodeHandle node) const = 0;
  virtual void SetNodeCheck(NodeHandle node, int state) = 0;
  // Gives the node the selected state, as a click on it would.
  virtual void SetSelectedNode(NodeHandle node) = 0;
  // Shows the node's children.
  virtual void ExpandNode(NodeHandle node) = 0;

  // The progress bar.
  virtual void SetProgressRange(std::uint32_t low, std::uint32_t high) = 0;
  virtual void SetProgressStep(std::uint32_t step) = 0;
  virtual void StepProgress() = 0;
  virtual void SetProgressPosition(std::uint32_t position) = 0;
  virtual void SetProgressColour(Colour colour) = 0;

  // One-shot style timers: SetTimer on a pending id restarts its delay.
  virtual void SetTimer(int id, int milliseconds) = 0;
  virtual void KillTimer(int id) = 0;

  // The mouse over the window's own surface. While captured, every move and
  // the button's release reach the window wherever the pointer goes.
  virtual void SetPointerShape(PointerShape shape) = 0;
  virtual void CaptureMouse() = 0;
  virtual void ReleaseMouse() = 0;
  // Inverts the pixels under the pattern's 1 bits in a rectangle of the
  // client area, over the controls too. Inverting the same rectangle again
  // restores the screen exactly.
  virtual void InvertPattern(Rect r, const BarPattern& pattern) = 0;

  // Shows the print dialog; null when the user cancels or it fails.
  virtual std::unique_ptr<PrintSurface> ChoosePrinter() = 0;

  // Opens a document (the help page) with the desktop's handler.
  virtual bool OpenDocument(const std::string& path) = 0;

  // Opens a device that this user may not read, for reading only: the
  // desktop asks the system to open it, which may ask for a password.
  // Nothing but reading is asked for, and the source layer refuses a
  // descriptor that could write all the same.
  virtual DeviceOpening OpenDeviceForReading(const std::string& path) = 0;

  // Asks the user for a folder to write to; empty when the user cancels.
  virtual std::string AskForFolder(std::string_view title) { (void)title; return {}; }

  // Shows a file's first bytes beside the file list.
  virtual void ShowPreview(const PreviewContent& content) { (void)content; }
  // Whether the preview pane is shown: no bytes are read for a hidden one.
  virtual bool PreviewShown() const { return false; }

  // Values kept between runs (the splitter's place); `fallback` when none is
  // kept or the window keeps none.
  virtual int RememberedValue(std::string_view key, int fallback) const {
    (void)key;
    return fallback;
  }
  virtual void RememberValue(std::string_view key, int value) { (void)key; (void)value; }
};

}  // namespace tsn
