// The page "書き込み予約箱": the box as a grid, edit and delete, and the
// selected entry's text.
#pragma once

#include <QWidget>
#include <functional>

class QLabel;
class QPlainTextEdit;
class QPushButton;
class QTableWidget;

namespace brelo {

class TMessageStore;
class TReservationBox;

class TReservationPage : public QWidget {
  Q_OBJECT
 public:
  TReservationPage(TReservationBox& box, TMessageStore& store, QWidget* parent = nullptr);
  // RefreshReservationGrid.
  void Refresh();

  QTableWidget* StringGrid1 = nullptr;
  QPushButton* Button1 = nullptr;
  QPushButton* Button2 = nullptr;
  QLabel* YoyakuFileName = nullptr;
  QPlainTextEdit* Memo3 = nullptr;

  std::function<void(int)> OpenEditor;  // the window's OpenEditor
  int SelectedEntry() const;

 private:
  void StringGrid1Click();
  void Button2Click();
  TReservationBox& box_;
  TMessageStore& store_;
};

}  // namespace brelo
