#pragma once
// The Qt side of the document layer's dialog interfaces.
#include <QString>
#include <QWidget>

#include "document/DocumentManager.h"
#include "document/MessageBoxes.h"

namespace velmora {

// Message boxes as modal QMessageBoxes: flags 0 OK, 3 Yes/No/Cancel;
// 0x10 stop icon, 0x30 exclamation icon.
class TQtMessageBoxes : public TMessageBoxes {
 public:
  explicit TQtMessageBoxes(QWidget *parent) : Parent(parent) {}
  int ShowMessage(const std::string &text, const std::string &caption, int flags) override;

 private:
  QWidget *Parent;
};

// The extension a file filter names first ("png" for "PNG イメージ (*.png)"),
// `fallback` when it names none ("(*)").
QString SuffixOfFilter(const QString &filter, const QString &fallback);

class TQtFileDialog : public TFileDialog {
 public:
  enum class TMode { Open, Save };
  TQtFileDialog(QWidget *parent, TMode mode, QString title, QString filter, QString defaultSuffix = {})
      : Parent(parent), Mode(mode), Title(std::move(title)), Filter(std::move(filter)),
        DefaultSuffix(std::move(defaultSuffix)) {}
  bool Execute(std::string &fileName) override;

 private:
  QWidget *Parent;
  TMode Mode;
  QString Title, Filter, DefaultSuffix;
};

inline QString Q(const std::string &s) { return QString::fromStdString(s); }

}  // namespace velmora
