#pragma once
// The pane beside the file list that shows the selected file before it is
// copied: a picture when its bytes make one, else its first bytes as hex and
// text, with its state beside them.
#include <QWidget>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "ui/window_system.h"

class QLabel;
class QPlainTextEdit;

namespace tsn {

class PreviewPane final : public QWidget {
 public:
  // The hex view shows this much of a file at most.
  static constexpr std::size_t kHexBytes = 4096;

  explicit PreviewPane(QWidget* parent = nullptr);
  void Show(const PreviewContent& content);

  QLabel* Title() const { return title_; }
  QLabel* Verdict() const { return verdict_; }
  QLabel* Note() const { return note_; }
  // Which live files own the clusters of a deleted file: filled by the
  // program once it can tell; empty until then.
  QLabel* Owners() const { return owners_; }
  QLabel* Picture() const { return picture_; }
  QPlainTextEdit* Hex() const { return hex_; }
  bool ShowsPicture() const { return !image_.isNull(); }

  // Sixteen bytes a line: offset, the bytes in hex, the bytes as text.
  static QString HexDump(const std::vector<std::uint8_t>& bytes, std::size_t limit);

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  void ShowPicture();

  QLabel* title_;
  QLabel* verdict_;
  QLabel* note_;
  QLabel* owners_;
  QLabel* picture_;
  QPlainTextEdit* hex_;
  QImage image_;
};

}  // namespace tsn
