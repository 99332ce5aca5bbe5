#include "ui/QtDialogs.h"

#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>

namespace velmora {

int TQtMessageBoxes::ShowMessage(const std::string &text, const std::string &caption, int flags) {
  QMessageBox box(Parent);
  box.setWindowTitle(Q(caption));
  box.setText(Q(text));
  const int icon = flags & 0xF0;
  box.setIcon(icon == Exclamation ? QMessageBox::Warning
              : icon == Stop      ? QMessageBox::Critical
              : icon == Question  ? QMessageBox::Question
                                  : QMessageBox::NoIcon);
  if ((flags & 0x0F) == YesNo) {
    QAbstractButton *yes = box.addButton(QStringLiteral("はい(&Y)"), QMessageBox::YesRole);
    QAbstractButton *no = box.addButton(QStringLiteral("いいえ(&N)"), QMessageBox::NoRole);
    box.setDefaultButton(static_cast<QPushButton *>(no));
    box.setEscapeButton(no);
    box.exec();
    return box.clickedButton() == yes ? IdYes : IdNo;
  }
  if ((flags & 0x0F) == YesNoCancel) {
    QAbstractButton *yes = box.addButton(QStringLiteral("はい(&Y)"), QMessageBox::YesRole);
    QAbstractButton *no = box.addButton(QStringLiteral("いいえ(&N)"), QMessageBox::NoRole);
    QAbstractButton *cancel = box.addButton(QStringLiteral("キャンセル"), QMessageBox::RejectRole);
    box.setDefaultButton(static_cast<QPushButton *>(yes));
    box.setEscapeButton(cancel);
    box.exec();
    if (box.clickedButton() == yes) return IdYes;
    if (box.clickedButton() == no) return IdNo;
    return IdCancel;
  }
  box.addButton(QMessageBox::Ok);
  box.exec();
  return IdOk;
}

QString SuffixOfFilter(const QString &filter, const QString &fallback) {
  // "PNG イメージ (*.png)" -> "png"; "(*.jpg *.jpeg)" -> "jpg"; "(*)" -> fallback.
  static const QRegularExpression pattern(QStringLiteral("\\*\\.([A-Za-z0-9]+)"));
  const qsizetype open = filter.lastIndexOf(QLatin1Char('('));
  const QRegularExpressionMatch first = pattern.match(open < 0 ? QString() : filter.mid(open));
  return first.hasMatch() ? first.captured(1) : fallback;
}

namespace {

// A save dialog whose name typed without extension takes the extension of the
// chosen type: asked once more when it is accepted, since the filter may have
// been chosen in ways that send no signal.
class TSaveFileDialog : public QFileDialog {
 public:
  TSaveFileDialog(QWidget *parent, const QString &title, const QString &folder, const QString &filter,
                  QString fallback)
      : QFileDialog(parent, title, folder, filter), Fallback(std::move(fallback)) {
    connect(this, &QFileDialog::filterSelected, this, [this](const QString &chosen) { Follow(chosen); });
  }
  void Follow(const QString &filter) {
    if (!Fallback.isEmpty()) setDefaultSuffix(SuffixOfFilter(filter, Fallback));
  }
  void accept() override {
    Follow(selectedNameFilter());
    QFileDialog::accept();
  }

 private:
  QString Fallback;
};

}  // namespace

bool TQtFileDialog::Execute(std::string &fileName) {
  TSaveFileDialog dialog(Parent, Title, Q(InitialDir), Filter, Mode == TMode::Save ? DefaultSuffix : QString());
  dialog.setOption(QFileDialog::ReadOnly, false);
  if (Mode == TMode::Open) {
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
  } else {
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setOption(QFileDialog::DontConfirmOverwrite, false);
    dialog.Follow(dialog.selectedNameFilter());
  }
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return false;
  fileName = dialog.selectedFiles().first().toStdString();
  return true;
}

}  // namespace velmora
