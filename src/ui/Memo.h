#pragma once
// A multi-line text control as a list of lines, and back.
#include <QPlainTextEdit>
#include <QStringList>

#include "engine/ArithmeticUnit.h"

namespace velmora {

inline TStringList MemoLines(const QPlainTextEdit *memo) {
  TStringList lines;
  for (const QString &line : memo->toPlainText().split(QLatin1Char('\n'))) lines.push_back(line.toStdString());
  return lines;
}

inline void SetMemoText(QPlainTextEdit *memo, const TStringList &lines) {
  QStringList text;
  for (const std::string &line : lines) text.push_back(QString::fromStdString(line));
  memo->setPlainText(text.join(QLatin1Char('\n')));
}

}  // namespace velmora
