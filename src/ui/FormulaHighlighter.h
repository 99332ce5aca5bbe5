#pragma once
// Colours of the formula memos: comments, strings, numbers, inner function
// names and operators, as the formula scanner divides a line. Each line is
// coloured on its own, so typing recolours only the line typed in.
#include <QSyntaxHighlighter>
#include <QTextCharFormat>

#include "compiler/QDExpression.h"
#include "formula/QDString.h"

namespace velmora {

class TFormulaHighlighter : public QSyntaxHighlighter {
 public:
  explicit TFormulaHighlighter(QTextDocument *document);

  // The colours, by what the scanner calls a part; words that name no inner
  // function keep the memo's own colour.
  QTextCharFormat CommentFormat, StringFormat, NumberFormat, FunctionFormat, OperatorFormat;

 protected:
  void highlightBlock(const QString &text) override;

 private:
  TQDString Scanner;
  TQDExpression Compiler;  // knows the inner functions
};

}  // namespace velmora
