#include "support/ModalAnswerer.h"

#include <QAbstractButton>
#include <QApplication>
#include <QInputDialog>

namespace brelo::test {

TModalAnswerer::TModalAnswerer(QMessageBox::StandardButton b, bool accept) : button(b), acceptDialogs(accept) {
  connect(&timer_, &QTimer::timeout, this, &TModalAnswerer::Check);
  timer_.start(10);
}

void TModalAnswerer::Check() {
  QWidget* w = QApplication::activeModalWidget();
  if (w == nullptr) return;
  if (auto* box = qobject_cast<QMessageBox*>(w)) {
    texts << box->text();
    QAbstractButton* b = box->button(button);
    if (b == nullptr) b = box->button(QMessageBox::Ok);
    if (b != nullptr) b->click();
    else box->reject();
    return;
  }
  if (auto* d = qobject_cast<QDialog*>(w)) {
    if (onDialog) onDialog(d);
    if (acceptDialogs) d->accept();
    else d->reject();
  }
}

}  // namespace brelo::test
