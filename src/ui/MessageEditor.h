// "書込の編集": one non-modal window per reservation. It loads the entry,
// lets the user edit board, upload state, title, recipients and text, and
// writes everything back when it closes (or deletes the entry).
#pragma once

#include <QMainWindow>
#include <functional>

#include "store/ReservationBox.h"

class QAction;
class QComboBox;
class QLineEdit;
class QPlainTextEdit;
class QToolButton;

namespace brelo {

class TMessageStore;

class TMessageEditor : public QMainWindow, public IReservationEditor {
  Q_OBJECT
 public:
  TMessageEditor(TReservationBox& box, const TMessageStore& store, std::string editorProgram,
                 QWidget* parent = nullptr);
  ~TMessageEditor() override;

  void LoadReservationIntoEditor(int index);
  int ReservationIndex() const { return reservationIndex_; }
  bool AskOnClose() const { return askOnClose_; }
  static QString Ruler();
  // The board number of the selected line (0 when none or not a number).
  int SelectedBoardNo() const;

  // IReservationEditor
  void SetReservationIndex(int index) override { reservationIndex_ = index; }
  void CloseDetached() override;
  void BringToFront() override;
  bool RequestClose() override { return close(); }

  // The commands.
  void SpeedButton2Click();  // 閉じる
  void SpeedButton1Click();  // 破棄
  void SpeedButton3Click();  // 外部エディタ
  // Asks "書き込みを予約しますか?"; a test answers in its place.
  std::function<int()> AskReserve;
  std::function<int()> AskDelete;

  QComboBox* Boards = nullptr;
  QComboBox* Upload = nullptr;
  QLineEdit* Title = nullptr;
  QLineEdit* ToIDs = nullptr;
  QWidget* ToIDsRow = nullptr;
  QPlainTextEdit* Memo1 = nullptr;
  QToolButton* SpeedButton1 = nullptr;
  QToolButton* SpeedButton2 = nullptr;
  QToolButton* SpeedButton3 = nullptr;
  QAction* Close1 = nullptr;
  QAction* Discard1 = nullptr;
  QAction* External1 = nullptr;

 protected:
  void closeEvent(QCloseEvent* e) override;
  bool eventFilter(QObject* o, QEvent* e) override;

 private:
  void BoardsChange();
  bool WriteBack();  // false: nothing saved (the user must mend something)
  void SetLoaded(bool loaded);

  TReservationBox& box_;
  const TMessageStore& store_;
  std::string editorProgram_;
  int reservationIndex_ = -1;
  bool askOnClose_ = true;
  QString lastTitle_;
};

}  // namespace brelo
