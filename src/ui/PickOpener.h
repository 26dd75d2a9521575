// How a list opens what the user picks, as readers of this kind do: a click,
// Enter, or the arrow keys moving the selection open a row; a click on the
// row already open opens it again. The keyboard focus arriving in the list
// opens nothing (Qt makes a row current then without selecting it), so that
// tabbing through the window never opens an article or clears its mark.
#pragma once

#include <QModelIndex>
#include <QObject>
#include <QPointer>
#include <QWidget>
#include <functional>

class QAbstractItemView;

namespace brelo {

class TPickOpener : public QObject {
  Q_OBJECT
 public:
  // open(row) runs for each pick; `quiet` is true while the program itself
  // moves the selection (nothing is opened then).
  TPickOpener(QAbstractItemView* view, std::function<void(int)> open, const bool* quiet);

 protected:
  bool eventFilter(QObject* o, QEvent* e) override;

 private:
  QAbstractItemView* view_;
  // Kept from the start: while the view is being destroyed its events still
  // come here, and it is no longer a view to ask for its viewport.
  QPointer<QWidget> viewport_;
  std::function<void(int)> open_;
  const bool* quiet_;
  QPersistentModelIndex pressedSelected_;  // the press landed on the selected row
};

}  // namespace brelo
