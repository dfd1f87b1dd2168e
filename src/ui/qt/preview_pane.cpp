#include "ui/qt/preview_pane.h"

#include <QFontDatabase>
#include <QImage>
#include <QLabel>
#include <QLocale>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QVBoxLayout>
#include <algorithm>

namespace tsn {

namespace {
QLabel* MakeLabel(QWidget* parent, const char* name) {
  auto* label = new QLabel(parent);
  label->setObjectName(QString::fromLatin1(name));
  label->setTextFormat(Qt::PlainText);
  label->setWordWrap(true);
  label->setTextInteractionFlags(Qt::TextSelectableByMouse);
  return label;
}
}  // namespace

PreviewPane::PreviewPane(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("previewPane"));
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(4, 0, 0, 0);
  layout->setSpacing(3);
  title_ = MakeLabel(this, "previewTitle");
  QFont bold = title_->font();
  bold.setBold(true);
  title_->setFont(bold);
  verdict_ = MakeLabel(this, "previewVerdict");
  note_ = MakeLabel(this, "previewNote");
  owners_ = MakeLabel(this, "overwriteOwners");
  picture_ = new QLabel(this);
  picture_->setObjectName(QStringLiteral("previewPicture"));
  picture_->setAlignment(Qt::AlignCenter);
  picture_->setMinimumSize(1, 1);
  picture_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);
  hex_ = new QPlainTextEdit(this);
  hex_->setObjectName(QStringLiteral("previewHex"));
  hex_->setReadOnly(true);
  hex_->setLineWrapMode(QPlainTextEdit::NoWrap);
  hex_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  layout->addWidget(title_);
  layout->addWidget(verdict_);
  layout->addWidget(note_);
  layout->addWidget(owners_);
  layout->addWidget(picture_, 1);
  layout->addWidget(hex_, 1);
  Show({});
}

QString PreviewPane::HexDump(const std::vector<std::uint8_t>& bytes, std::size_t limit) {
  const std::size_t n = std::min(bytes.size(), limit);
  QString out;
  out.reserve(static_cast<qsizetype>(n / 16 + 1) * 80);
  for (std::size_t line = 0; line < n; line += 16) {
    out += QStringLiteral("%1 ").arg(line, 8, 16, QLatin1Char('0'));
    QString text;
    for (std::size_t i = line; i < line + 16; ++i) {
      if (i < n) {
        out += QStringLiteral(" %1").arg(bytes[i], 2, 16, QLatin1Char('0'));
        text += (bytes[i] >= 0x20 && bytes[i] < 0x7F) ? QChar(bytes[i]) : QLatin1Char('.');
      } else {
        out += QStringLiteral("   ");
      }
    }
    out += QStringLiteral("  ") + text + QLatin1Char('\n');
  }
  return out;
}

void PreviewPane::Show(const PreviewContent& content) {
  const bool any = !content.name.empty();
  title_->setText(any ? QStringLiteral("%1 (%2 bytes)").arg(QString::fromStdString(content.name),
                                                            QLocale().toString(qulonglong(content.size)))
                      : QStringLiteral("Select a file to see its content."));
  verdict_->setText(QString::fromStdString(content.verdict));
  verdict_->setVisible(!content.verdict.empty());
  note_->setText(QString::fromStdString(content.note));
  note_->setVisible(!content.note.empty());
  owners_->setText(QString::fromStdString(content.overwrittenBy));
  owners_->setVisible(!content.overwrittenBy.empty());
  image_ = QImage();
  if (content.picture && !content.bytes.empty())
    image_ = QImage::fromData(content.bytes.data(), static_cast<int>(content.bytes.size()));
  picture_->setVisible(!image_.isNull());
  hex_->setVisible(image_.isNull() && any);
  hex_->setPlainText(image_.isNull() ? HexDump(content.bytes, kHexBytes) : QString());
  ShowPicture();
}

void PreviewPane::ShowPicture() {
  if (image_.isNull()) {
    picture_->clear();
    return;
  }
  const QSize room = picture_->size().boundedTo(image_.size());
  picture_->setPixmap(QPixmap::fromImage(image_.scaled(room, Qt::KeepAspectRatio, Qt::SmoothTransformation)));
}

void PreviewPane::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  ShowPicture();
}

}  // namespace tsn
