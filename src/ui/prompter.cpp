#include "ui/prompter.h"

#include <QDialog>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>

namespace norvale::ui {

void WidgetPrompter::message(QWidget* parent, const QString& text, const QString& caption) {
  QMessageBox box(caption == QStringLiteral("错误") ? QMessageBox::Critical : QMessageBox::NoIcon, caption, text,
                  QMessageBox::Ok, parent);
  box.exec();
}

bool WidgetPrompter::confirm(QWidget* parent, const QString& text, const QString& caption) {
  QMessageBox box(QMessageBox::Question, caption, text, QMessageBox::Ok | QMessageBox::Cancel, parent);
  box.button(QMessageBox::Ok)->setText(QStringLiteral("确定"));
  box.button(QMessageBox::Cancel)->setText(QStringLiteral("取消"));
  return box.exec() == QMessageBox::Ok;
}

bool WidgetPrompter::runDialog(QDialog& dialog) { return dialog.exec() == QDialog::Accepted; }

QString WidgetPrompter::chooseFolder(QWidget* parent, const QString& title, const QString& start) {
  return QFileDialog::getExistingDirectory(parent, title, start, QFileDialog::ShowDirsOnly);
}

QStringList WidgetPrompter::chooseImages(QWidget* parent) {
  return QFileDialog::getOpenFileNames(parent, QString(), QString(),
                                       QStringLiteral("IMG Files (*.img);;DSK Files (*.dsk);;"
                                                      "EWF 镜像 (*.E01 *.e01);;分卷镜像 (*.001 *.000 *.aa);;"
                                                      "All Files (*)"));
}

void ScriptedPrompter::message(QWidget*, const QString& text, const QString& caption) {
  messages.push_back({text, caption});
}

bool ScriptedPrompter::confirm(QWidget*, const QString& text, const QString& caption) {
  questions.push_back({text, caption});
  return confirmAnswer;
}

bool ScriptedPrompter::runDialog(QDialog& dialog) { return onDialog ? onDialog(dialog) : pressOk(dialog); }

QString ScriptedPrompter::chooseFolder(QWidget*, const QString&, const QString&) { return folderAnswer; }

QStringList ScriptedPrompter::chooseImages(QWidget*) { return imageAnswer; }

bool ScriptedPrompter::pressOk(QDialog& dialog) {
  dialog.setResult(QDialog::Rejected);
  dialog.accept();
  return dialog.result() == QDialog::Accepted;
}

}  // namespace norvale::ui
