#include "ui/QtDialogs.h"

#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>

namespace velmora {

int TQtMessageBoxes::ShowMessage(const std::string &text, const std::string &caption, int flags) {
  QMessageBox box(Parent);
  box.setWindowTitle(Q(caption));
  box.setText(Q(text));
  const int icon = flags & 0xF0;
  box.setIcon(icon == Exclamation ? QMessageBox::Warning : icon == Stop ? QMessageBox::Critical : QMessageBox::NoIcon);
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

bool TQtFileDialog::Execute(std::string &fileName) {
  QFileDialog dialog(Parent, Title, Q(InitialDir), Filter);
  dialog.setOption(QFileDialog::ReadOnly, false);
  if (Mode == TMode::Open) {
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
  } else {
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setOption(QFileDialog::DontConfirmOverwrite, false);
    if (!DefaultSuffix.isEmpty()) dialog.setDefaultSuffix(DefaultSuffix);
  }
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return false;
  fileName = dialog.selectedFiles().first().toStdString();
  return true;
}

}  // namespace velmora
