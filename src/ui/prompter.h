#pragma once
// Everything the commands ask the user: message boxes, questions, modal dialogs and the file
// and folder choosers. The desktop shows real ones; tests and the screenshot run script them.
#include <QString>
#include <QStringList>
#include <functional>
#include <vector>

class QDialog;
class QWidget;

namespace norvale::ui {

class Prompter {
 public:
  virtual ~Prompter() = default;
  // A message box; an empty caption is the system's plain message box.
  virtual void message(QWidget* parent, const QString& text, const QString& caption) = 0;
  // OK / Cancel; true for OK.
  virtual bool confirm(QWidget* parent, const QString& text, const QString& caption) = 0;
  // Runs a modal dialog; true when it ended with OK.
  virtual bool runDialog(QDialog& dialog) = 0;
  // A folder, or empty when the user cancelled.
  virtual QString chooseFolder(QWidget* parent, const QString& title, const QString& start) = 0;
  // Image files to add, or none.
  virtual QStringList chooseImages(QWidget* parent) = 0;
};

class WidgetPrompter final : public Prompter {
 public:
  void message(QWidget* parent, const QString& text, const QString& caption) override;
  bool confirm(QWidget* parent, const QString& text, const QString& caption) override;
  bool runDialog(QDialog& dialog) override;
  QString chooseFolder(QWidget* parent, const QString& title, const QString& start) override;
  QStringList chooseImages(QWidget* parent) override;
};

// Answers from a script and remembers what was shown.
class ScriptedPrompter final : public Prompter {
 public:
  struct Shown {
    QString text;
    QString caption;
  };
  std::vector<Shown> messages;
  std::vector<Shown> questions;
  bool confirmAnswer = true;
  // Called for each dialog; the default presses OK.
  std::function<bool(QDialog&)> onDialog;
  QString folderAnswer;
  QStringList imageAnswer;

  void message(QWidget* parent, const QString& text, const QString& caption) override;
  bool confirm(QWidget* parent, const QString& text, const QString& caption) override;
  bool runDialog(QDialog& dialog) override;
  QString chooseFolder(QWidget* parent, const QString& title, const QString& start) override;
  QStringList chooseImages(QWidget* parent) override;
  // Presses OK: the dialog's own checks may refuse.
  static bool pressOk(QDialog& dialog);
};

}  // namespace norvale::ui
