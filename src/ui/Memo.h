#pragma once
// A multi-line text control as a list of lines, and back. Every line of the
// list ends with a line end in the text, so an empty text is no lines and a
// final line end does not start another line; text -> lines -> text and
// lines -> text -> lines give back what they started from.
#include <QPlainTextEdit>
#include <QString>

#include "engine/ArithmeticUnit.h"

namespace velmora {

inline TStringList MemoLines(const QPlainTextEdit *memo) {
  TStringList lines;
  const QString text = memo->toPlainText();
  qsizetype start = 0;
  while (start < text.size()) {
    qsizetype end = text.indexOf(QLatin1Char('\n'), start);
    if (end < 0) end = text.size();
    lines.push_back(text.mid(start, end - start).toStdString());
    start = end + 1;
  }
  return lines;
}

inline QString MemoText(const TStringList &lines) {
  QString text;
  for (const std::string &line : lines) {
    text += QString::fromStdString(line);
    text += QLatin1Char('\n');
  }
  return text;
}

inline void SetMemoText(QPlainTextEdit *memo, const TStringList &lines) { memo->setPlainText(MemoText(lines)); }

}  // namespace velmora
