#include "ui/PickOpener.h"

#include <QAbstractItemView>
#include <QKeyEvent>
#include <QMouseEvent>

namespace brelo {

TPickOpener::TPickOpener(QAbstractItemView* view, std::function<void(int)> open, const bool* quiet)
    : QObject(view), view_(view), viewport_(view->viewport()), open_(std::move(open)), quiet_(quiet) {
  view_->installEventFilter(this);
  viewport_->installEventFilter(this);
  connect(view_->selectionModel(), &QItemSelectionModel::selectionChanged, this,
          [this](const QItemSelection& selected) {
            if (*quiet_ || selected.indexes().isEmpty()) return;
            open_(selected.indexes().first().row());
          });
  connect(view_, &QAbstractItemView::clicked, this, [this](const QModelIndex& index) {
    // A click on the row that was already selected changes no selection.
    if (!*quiet_ && index.isValid() && index == pressedSelected_) open_(index.row());
    pressedSelected_ = QPersistentModelIndex();
  });
}

bool TPickOpener::eventFilter(QObject* o, QEvent* e) {
  if (o == viewport_ && e->type() == QEvent::MouseButtonPress) {
    const QModelIndex at = view_->indexAt(static_cast<QMouseEvent*>(e)->position().toPoint());
    pressedSelected_ = at.isValid() && view_->selectionModel()->isSelected(at) ? at : QModelIndex();
  } else if (o == view_ && e->type() == QEvent::KeyPress) {
    const int key = static_cast<QKeyEvent*>(e)->key();
    const QModelIndex current = view_->currentIndex();
    if ((key == Qt::Key_Return || key == Qt::Key_Enter) && current.isValid() && !*quiet_) {
      view_->selectionModel()->select(current, QItemSelectionModel::ClearAndSelect);
      open_(current.row());
      return true;
    }
  }
  return QObject::eventFilter(o, e);
}

}  // namespace brelo
