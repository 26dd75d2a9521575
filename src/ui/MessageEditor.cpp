#include "ui/MessageEditor.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDesktopServices>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProcess>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>

#include "common/FileUtil.h"
#include "common/Sjis.h"
#include "common/StringLock.h"
#include "store/MessageStore.h"
#include "ui/EditRouting.h"
#include "ui/ExternalEdits.h"
#include "ui/Fonts.h"
#include "ui/Text.h"

namespace brelo {

QString TMessageEditor::Ruler() {
  QString s = QStringLiteral("1");
  while (s.size() < 80) {
    const int column = static_cast<int>(s.size()) + 1;
    if (column % 10 == 0) s += QStringLiteral("+") + QString::number(column);
    else s += QLatin1Char('-');
  }
  return s;
}

TMessageEditor::TMessageEditor(TReservationBox& box, const TMessageStore& store, std::string editorProgram,
                               QWidget* parent)
    : QMainWindow(parent), box_(box), store_(store), editorProgram_(std::move(editorProgram)) {
  setWindowTitle(QStringLiteral("書込の編集"));
  setAttribute(Qt::WA_DeleteOnClose);
  setFont(UiFont());
  Boards = new QComboBox;
  for (int b = 0; b < kBoardCount; ++b) {
    const TBoardEntry& e = store_.BoardTable[static_cast<size_t>(b)];
    if (e.Active) Boards->addItem(Q(SafeFormat("%.2d %.8s %.40s", b, e.Name, e.Title)));
  }
  Boards->setCurrentIndex(-1);
  Upload = new QComboBox;
  Upload->addItems({QStringLiteral("次のアクセス"), QStringLiteral("保留")});
  Title = new QLineEdit;
  Title->installEventFilter(this);
  SpeedButton1 = new QToolButton;
  SpeedButton1->setText(QStringLiteral("破棄"));
  SpeedButton1->setToolTip(QStringLiteral("メッセージを抹消"));
  SpeedButton2 = new QToolButton;
  SpeedButton2->setText(QStringLiteral("閉じる"));
  SpeedButton2->setToolTip(QStringLiteral("編集を終了する"));
  SpeedButton3 = new QToolButton;
  SpeedButton3->setText(QStringLiteral("外部エディタ"));
  SpeedButton3->setToolTip(QStringLiteral("外部エディタでメッセージを編集"));
  ToIDs = new QLineEdit;
  Memo1 = new QPlainTextEdit;
  Memo1->setFont(FixedGothicFont(14));
  Memo1->setLineWrapMode(QPlainTextEdit::NoWrap);
  Memo1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  auto* ruler = new QLabel(Ruler());
  ruler->setFont(Memo1->font());

  auto* form = new QFormLayout;
  form->addRow(QStringLiteral("ボード :"), Boards);
  form->addRow(QStringLiteral("ｱｯﾌﾟﾛｰﾄﾞ :"), Upload);
  auto* titleRow = new QHBoxLayout;
  titleRow->addWidget(Title, 1);
  titleRow->addWidget(SpeedButton1);
  titleRow->addWidget(SpeedButton2);
  titleRow->addWidget(SpeedButton3);
  form->addRow(QStringLiteral("タイトル :"), titleRow);
  ToIDsRow = new QWidget;
  auto* toRow = new QHBoxLayout(ToIDsRow);
  toRow->setContentsMargins(0, 0, 0, 0);
  toRow->addWidget(new QLabel(QStringLiteral("宛先ＩＤ:")));
  toRow->addWidget(ToIDs, 1);
  auto* central = new QWidget;
  auto* layout = new QVBoxLayout(central);
  layout->addLayout(form);
  layout->addWidget(ToIDsRow);
  layout->addWidget(ruler);
  layout->addWidget(Memo1, 1);
  setCentralWidget(central);
  resize(640, 480);

  QMenu* file = menuBar()->addMenu(QStringLiteral("ﾌｧｲﾙ(&F)"));
  Close1 = file->addAction(QStringLiteral("閉じる(&C)"));
  Discard1 = file->addAction(QStringLiteral("破棄(&D)"));
  External1 = file->addAction(QStringLiteral("外部エディタ(&O)"));
  QMenu* edit = menuBar()->addMenu(QStringLiteral("編集(&E)"));
  const std::tuple<QString, QKeySequence, EEditRequest> items[] = {
      {QStringLiteral("元に戻す(&U)"), QKeySequence(Qt::CTRL | Qt::Key_Z), EEditRequest::Undo},
      {QStringLiteral("切り取り(&T)"), QKeySequence(Qt::CTRL | Qt::Key_X), EEditRequest::Cut},
      {QStringLiteral("ｺﾋﾟｰ(&C)"), QKeySequence(Qt::CTRL | Qt::Key_C), EEditRequest::Copy},
      {QStringLiteral("貼り付け(&P)"), QKeySequence(Qt::CTRL | Qt::Key_V), EEditRequest::Paste},
      {QStringLiteral("削除(&D)"), QKeySequence(Qt::CTRL | Qt::Key_Delete), EEditRequest::Delete},
      {QStringLiteral("すべて選択(&L)"), QKeySequence(), EEditRequest::SelectAll}};
  for (const auto& [text, key, request] : items) {
    QAction* a = edit->addAction(text);
    a->setShortcut(key);
    EEditRequest r = request;
    connect(a, &QAction::triggered, this, [r] { RouteEditRequest(QApplication::focusWidget(), r); });
  }

  connect(Boards, &QComboBox::currentIndexChanged, this, &TMessageEditor::BoardsChange);
  connect(SpeedButton2, &QToolButton::clicked, this, &TMessageEditor::SpeedButton2Click);
  connect(SpeedButton1, &QToolButton::clicked, this, &TMessageEditor::SpeedButton1Click);
  connect(SpeedButton3, &QToolButton::clicked, this, &TMessageEditor::SpeedButton3Click);
  connect(Close1, &QAction::triggered, this, &TMessageEditor::SpeedButton2Click);
  connect(Discard1, &QAction::triggered, this, &TMessageEditor::SpeedButton1Click);
  connect(External1, &QAction::triggered, this, &TMessageEditor::SpeedButton3Click);
  connect(Title, &QLineEdit::textEdited, this, [this](const QString& t) {
    // The title holds at most 60 bytes of Shift-JIS.
    if (QStringToSjis(t).bytes.size() > 60) {
      const int pos = Title->cursorPosition() - static_cast<int>(t.size() - lastTitle_.size());
      Title->setText(lastTitle_);
      Title->setCursorPosition(std::max(0, pos));
    } else {
      lastTitle_ = t;
    }
  });
  AskReserve = [this] {
    return QMessageBox::warning(this, QStringLiteral("確認"), QStringLiteral("書き込みを予約しますか?"),
                                QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
  };
  AskDelete = [this] {
    return QMessageBox::warning(this, QStringLiteral("確認"), QStringLiteral("削除してよろしいですか?"),
                                QMessageBox::Yes | QMessageBox::No);
  };
  BoardsChange();
  SetLoaded(false);
}

TMessageEditor::~TMessageEditor() {
  // Never leave a dangling slot behind, whatever closed the window.
  if (reservationIndex_ >= 0 && reservationIndex_ < kReservationSlots &&
      box_.EditorSlots[static_cast<size_t>(reservationIndex_)] == this) {
    box_.EditorSlots[static_cast<size_t>(reservationIndex_)] = nullptr;
  }
}

void TMessageEditor::SetLoaded(bool loaded) {
  for (QWidget* w : std::initializer_list<QWidget*>{SpeedButton1, SpeedButton2, SpeedButton3}) w->setEnabled(loaded);
  for (QAction* a : {Close1, Discard1, External1}) a->setEnabled(loaded);
}

int TMessageEditor::SelectedBoardNo() const {
  if (Boards->currentIndex() < 0) return 0;
  const int n = SafeStrToIntDef(QStringToSjis(Boards->currentText().left(2)).bytes, 0);
  return n;
}

void TMessageEditor::BoardsChange() { ToIDsRow->setVisible(Boards->currentIndex() >= 0 && SelectedBoardNo() == 0); }

void TMessageEditor::LoadReservationIntoEditor(int index) {
  reservationIndex_ = index;
  const TWriteReservation& r = box_.ReservationTable[static_cast<size_t>(index)];
  int select = -1;
  for (int i = 0; i < Boards->count(); ++i) {
    if (SafeStrToIntDef(QStringToSjis(Boards->itemText(i).left(2)).bytes, 0) == r.BoardNo) {
      select = i;
      break;
    }
  }
  Boards->setCurrentIndex(select);
  Title->setText(Q(r.Title));
  lastTitle_ = Title->text();
  ToIDs->setText(Q(r.ToIDs));
  Upload->setCurrentIndex(r.Status);
  try {
    auto text = box_.ReadBody(index);
    Memo1->setPlainText(text ? ForTextBox(*text) : QString());
  } catch (const EInOutError& e) {
    QMessageBox::critical(this, QStringLiteral("エラー"), Q(e.what()));
  }
  BoardsChange();
  SetLoaded(true);
}

bool TMessageEditor::eventFilter(QObject* o, QEvent* e) {
  if (o == Title && e->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(e)->text() == QStringLiteral(";")) {
    QMessageBox::information(this, QStringLiteral("タイトル"), QStringLiteral("\";\"はタイトルに使用できません"));
    return true;  // the key is dropped
  }
  return QMainWindow::eventFilter(o, e);
}

void TMessageEditor::CloseDetached() {
  reservationIndex_ = -1;
  askOnClose_ = false;
  close();
}

void TMessageEditor::BringToFront() {
  show();
  raise();
  activateWindow();
}

bool TMessageEditor::WriteBack() {
  if (reservationIndex_ < 0) return true;
  auto title = ToSjisOrWarn(this, Title->text());
  auto to = ToSjisOrWarn(this, ToIDs->text());
  auto body = FromTextBox(this, Memo1->toPlainText());
  if (!title || !to || !body) return false;  // nothing is silently changed
  const int i = reservationIndex_;
  TWriteReservation& r = box_.ReservationTable[static_cast<size_t>(i)];
  TWriteReservation head;
  head.Title = *title;
  head.ToIDs = *to;
  if (const std::string why = TReservationBox::HeadProblem(head); !why.empty()) {
    // A line break there would reach the host as a line of its own.
    QMessageBox::critical(this, QStringLiteral("書き込み予約"), Q(why) + QStringLiteral("、保存できません。直してください。"));
    return false;
  }
  if (const std::string why = TReservationBox::BodyNameProblem(r.FileName); !why.empty()) {
    QMessageBox::critical(this, QStringLiteral("エラー"), Q(why) + QStringLiteral("。保存できません。"));
    return false;
  }
  const TWriteReservation before = r;
  r.BoardNo = SelectedBoardNo();
  r.Title = CutChars(*title, 60);
  r.Status = static_cast<uint8_t>(std::max(0, Upload->currentIndex()));
  r.ToIDs = CutChars(*to, 255);
  // "次のアクセス" chosen for an entry whose sending was interrupted: the user
  // has decided to send it again.
  if (r.Status == 0) TReservationBox::ClearMark(r);
  const std::string text = WithFinalLineBreak(*body);
  try {
    WriteFileAtomic(box_.BodyFile(i), text);
    box_.EditorSlots[static_cast<size_t>(i)] = nullptr;
    box_.SaveReservations();
  } catch (const EInOutError& e) {
    r = before;
    box_.EditorSlots[static_cast<size_t>(i)] = this;
    QMessageBox::critical(this, QStringLiteral("エラー"), Q(e.what()));
    return false;
  }
  reservationIndex_ = -1;
  if (box_.OnChanged) box_.OnChanged();
  // Saved as written; but what the host would take only in part is told now,
  // not found out at the next pass.
  if (const std::string why = TReservationBox::BodyProblem(text, box_.Limits); !why.empty()) {
    QMessageBox::warning(this, QStringLiteral("書き込み予約"),
                         QStringLiteral("保存しました。ただし、") + Q(why) +
                             QStringLiteral("、このままでは送りません。本文を直してください。"));
  }
  return true;
}

void TMessageEditor::closeEvent(QCloseEvent* e) {
  if (askOnClose_ && reservationIndex_ >= 0) {
    BringToFront();
    const int answer = AskReserve();
    if (answer == QMessageBox::Cancel) {
      e->ignore();
      return;
    }
    if (answer == QMessageBox::No) {
      askOnClose_ = false;
      const int i = reservationIndex_;
      reservationIndex_ = -1;
      box_.EditorSlots[static_cast<size_t>(i)] = nullptr;
      try {
        box_.DeleteReservation(i);
      } catch (const EInOutError& err) {
        QMessageBox::critical(this, QStringLiteral("エラー"), Q(err.what()));
      }
      e->accept();
      return;
    }
  }
  if (!WriteBack()) {
    e->ignore();
    return;
  }
  e->accept();
}

void TMessageEditor::SpeedButton2Click() {
  askOnClose_ = false;
  close();
}

void TMessageEditor::SpeedButton1Click() {
  askOnClose_ = false;
  if (AskDelete() != QMessageBox::Yes) return;  // closing by the frame now saves without a question
  const int i = reservationIndex_;
  if (i < 0) return;
  try {
    box_.DeleteReservation(i);  // detaches and closes this window
  } catch (const EInOutError& err) {
    QMessageBox::critical(this, QStringLiteral("エラー"), Q(err.what()));
  }
}

void TMessageEditor::SpeedButton3Click() {
  const int i = reservationIndex_;
  if (i < 0) return;
  const QString path = QString::fromStdString(box_.BodyFile(i));
  askOnClose_ = false;
  if (!close()) return;  // not saved: the external editor would see the old text
  TExternalEdits::Instance().Open(editorProgram_, path.toStdString());
}

}  // namespace brelo
