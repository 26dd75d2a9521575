#include "ui/ReservationPage.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include "common/FileUtil.h"
#include "store/ReservationBox.h"
#include "ui/Fonts.h"
#include "reader/ReservationGrid.h"
#include "ui/Text.h"

namespace brelo {

TReservationPage::TReservationPage(TReservationBox& box, TMessageStore& store, QWidget* parent)
    : QWidget(parent), box_(box), store_(store) {
  StringGrid1 = new QTableWidget(1, 3);
  StringGrid1->setObjectName(QStringLiteral("StringGrid1"));
  StringGrid1->setHorizontalHeaderLabels({QStringLiteral("状態"), QStringLiteral("ボード"), QStringLiteral("タイトル")});
  StringGrid1->setColumnWidth(0, 57);
  StringGrid1->setColumnWidth(1, 154);
  StringGrid1->setColumnWidth(2, 470);
  StringGrid1->verticalHeader()->hide();
  StringGrid1->setSelectionBehavior(QAbstractItemView::SelectRows);
  StringGrid1->setSelectionMode(QAbstractItemView::SingleSelection);
  StringGrid1->setEditTriggers(QAbstractItemView::NoEditTriggers);
  StringGrid1->setAccessibleName(QStringLiteral("書き込み予約の一覧"));
  Button1 = new QPushButton(QStringLiteral("編集(&E)"));
  Button2 = new QPushButton(QStringLiteral("削除(&D)"));
  YoyakuFileName = new QLabel;
  Memo3 = new QPlainTextEdit;
  Memo3->setReadOnly(true);
  Memo3->setAccessibleName(QStringLiteral("予約の本文"));
  Memo3->setFont(FixedGothicFont(12));
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(Button1);
  buttons->addWidget(Button2);
  buttons->addWidget(YoyakuFileName, 1);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(StringGrid1, 3);
  layout->addLayout(buttons);
  layout->addWidget(Memo3, 2);
  connect(Button1, &QPushButton::clicked, this, [this] {
    if (OpenEditor && SelectedEntry() >= 0) OpenEditor(SelectedEntry());
  });
  connect(StringGrid1, &QTableWidget::cellDoubleClicked, this, [this](int row, int) {
    if (OpenEditor && row < box_.ReservationCount) OpenEditor(row);
  });
  connect(Button2, &QPushButton::clicked, this, &TReservationPage::Button2Click);
  connect(StringGrid1, &QTableWidget::itemSelectionChanged, this, &TReservationPage::StringGrid1Click);
  connect(StringGrid1, &QTableWidget::cellClicked, this, &TReservationPage::StringGrid1Click);
  Refresh();
}

int TReservationPage::SelectedEntry() const {
  const int row = StringGrid1->currentRow();
  return row >= 0 && row < box_.ReservationCount ? row : -1;
}

void TReservationPage::Refresh() {
  const int keep = StringGrid1->currentRow();
  const bool any = box_.ReservationCount > 0;
  StringGrid1->clearContents();
  StringGrid1->setRowCount(any ? box_.ReservationCount : 1);
  for (int i = 0; i < box_.ReservationCount; ++i) {
    const auto texts = ReservationRow(box_, store_, i);
    for (int c = 0; c < 3; ++c) StringGrid1->setItem(i, c, new QTableWidgetItem(Q(texts[static_cast<size_t>(c)])));
  }
  StringGrid1->setEnabled(any);
  Button1->setEnabled(any);
  Button2->setEnabled(any);
  YoyakuFileName->clear();
  Memo3->clear();  // never the text of an entry that is gone, or of another host
  if (any) {
    StringGrid1->selectRow(std::clamp(keep, 0, box_.ReservationCount - 1));
    StringGrid1Click();
  }
}

void TReservationPage::StringGrid1Click() {
  const int i = SelectedEntry();
  if (i < 0) return;
  YoyakuFileName->setText(QString::fromStdString(box_.BodyFile(i)));
  try {
    if (auto text = box_.ReadBody(i)) Memo3->setPlainText(ForTextBox(*text));
    else Memo3->clear();  // a missing file shows nothing
  } catch (const EInOutError& e) {
    Memo3->setPlainText(Q(e.what()));  // unreadable, or a name outside the folder: why
  }
}

void TReservationPage::Button2Click() {
  const int i = SelectedEntry();
  if (i < 0) return;
  if (IReservationEditor* e = box_.EditorSlots[static_cast<size_t>(i)]) {
    QMessageBox::information(this, QStringLiteral("削除"), QStringLiteral("編集中の為削除できません"));
    e->BringToFront();
    return;
  }
  if (QMessageBox::warning(this, QStringLiteral("確認"), QStringLiteral("削除してよろしいですか?"),
                           QMessageBox::Yes | QMessageBox::No) != QMessageBox::Yes) {
    return;
  }
  if (!box_.SendingName.empty() && box_.ReservationTable[static_cast<size_t>(i)].FileName == box_.SendingName) {
    // Its result decides nothing now: it goes as soon as the result is in.
    box_.DeleteWhenSent = true;
    QMessageBox::information(this, QStringLiteral("削除"),
                             QStringLiteral("この予約は送信中です。送信の結果が出たところで削除します。"));
    return;
  }
  try {
    box_.DeleteReservation(i);
  } catch (const EInOutError& e) {
    QMessageBox::critical(this, QStringLiteral("エラー"), Q(e.what()));
  }
}

}  // namespace brelo
