// Answers the modal boxes and dialogs a window opens during a test, and
// records what they said: a message box gets the given button, a dialog is
// accepted or rejected.
#pragma once

#include <QMessageBox>
#include <QStringList>
#include <QTimer>

namespace brelo::test {

class TModalAnswerer : public QObject {
 public:
  explicit TModalAnswerer(QMessageBox::StandardButton button = QMessageBox::Ok, bool acceptDialogs = true);
  QStringList texts;  // what each message box said
  QMessageBox::StandardButton button;
  bool acceptDialogs;
  // Runs once a dialog is shown, before it is answered (to fill it in).
  std::function<void(QDialog*)> onDialog;

 private:
  void Check();
  QTimer timer_;
};

}  // namespace brelo::test
