#include "ui/FormulaHighlighter.h"

#include <new>
#include <vector>

namespace velmora {

namespace {

QTextCharFormat Coloured(QColor colour, bool italic = false) {
  QTextCharFormat format;
  format.setForeground(colour);
  if (italic) format.setFontItalic(true);
  return format;
}

}  // namespace

TFormulaHighlighter::TFormulaHighlighter(QTextDocument *document)
    : QSyntaxHighlighter(document),
      CommentFormat(Coloured(QColor(0x00, 0x80, 0x00))),
      StringFormat(Coloured(QColor(0xA0, 0x30, 0x00))),
      NumberFormat(Coloured(QColor(0x00, 0x00, 0xC0))),
      FunctionFormat(Coloured(QColor(0x80, 0x00, 0x80))),
      OperatorFormat(Coloured(QColor(0x60, 0x60, 0x60))) {}

void TFormulaHighlighter::highlightBlock(const QString &text) {
  if (text.isEmpty()) return;
  Scanner.Text = text.toStdString();
  std::vector<TQDString::TPart> parts;
  try {
    parts = Scanner.Parts();
  } catch (const std::bad_alloc &) {
    return;  // an uncoloured line is better than none
  }
  // The scanner counts characters, the text counts UTF-16 units.
  std::vector<int> unitOf;
  unitOf.reserve(static_cast<std::size_t>(text.size()) + 1);
  for (int i = 0; i < text.size(); ++i) {
    if (text[i].isLowSurrogate() && i > 0 && text[i - 1].isHighSurrogate()) continue;
    unitOf.push_back(i);
  }
  unitOf.push_back(static_cast<int>(text.size()));
  for (const TQDString::TPart &part : parts) {
    const std::size_t end = part.Begin + part.Length;
    if (end >= unitOf.size()) continue;
    const QTextCharFormat *format = nullptr;
    switch (part.Kind) {
      case TQDString::TPartKind::Comment: format = &CommentFormat; break;
      case TQDString::TPartKind::String: format = &StringFormat; break;
      case TQDString::TPartKind::Number: format = &NumberFormat; break;
      case TQDString::TPartKind::Symbol: format = &OperatorFormat; break;
      case TQDString::TPartKind::Word: {
        std::uint8_t code;
        const QString word = text.mid(unitOf[part.Begin], unitOf[end] - unitOf[part.Begin]);
        if (Compiler.InnerFunctionCode(word.toStdString(), code)) format = &FunctionFormat;
        break;
      }
    }
    if (format) setFormat(unitOf[part.Begin], unitOf[end] - unitOf[part.Begin], *format);
  }
}

}  // namespace velmora
