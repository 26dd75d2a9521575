#include "ui/MakeTextDialog.h"

#include <QComboBox>
#include <QDateTime>
#include <QLocale>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "common/FileUtil.h"
#include "common/Sjis.h"
#include "ui/Fonts.h"
#include "ui/Text.h"

namespace brelo {

TMakeTextDialog::TMakeTextDialog(TTemplateEngine& engine, QWidget* parent) : QDialog(parent), engine_(engine) {
  setWindowTitle(QStringLiteral("ヘッダ・フッダの編集"));
  auto box = [](bool readOnly) {
    auto* e = new QPlainTextEdit;
    e->setFont(FixedGothicFont(12));
    e->setLineWrapMode(QPlainTextEdit::NoWrap);
    e->setReadOnly(readOnly);
    return e;
  };
  Memo1 = box(false);
  Memo2 = box(false);
  Memo3 = box(false);
  Memo4 = box(true);
  Memo4->setPlainText(QStringLiteral("%H  自分のハンドル    %I  自分のID　%h 相手のハンドル    %i  相手のID\n"
                                     "%D  日付   %T  時間　%W  曜日　%X 元発言No.  %S タイトル  %B ﾎﾞｰﾄﾞﾗﾍﾞﾙ"));
  Memo4->setMaximumHeight(48);
  ComboBox1 = new QComboBox;
  ComboBox1->addItems({QStringLiteral("新規書き込み"), QStringLiteral("レスポンス")});
  auto* form = new QFormLayout;
  form->addRow(QStringLiteral("ヘッダ・フッダの種類 :"), ComboBox1);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(form);
  layout->addWidget(new QLabel(QStringLiteral("ヘッダ")));
  layout->addWidget(Memo1, 2);
  layout->addWidget(new QLabel(QStringLiteral("フッダ")));
  layout->addWidget(Memo2, 2);
  layout->addWidget(Memo4);
  layout->addWidget(new QLabel(QStringLiteral("プレビュー")));
  layout->addWidget(Memo3, 3);
  auto* buttons = new QDialogButtonBox;
  buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole)->setDefault(true);
  layout->addWidget(buttons);
  resize(560, 520);
  connect(Memo1, &QPlainTextEdit::textChanged, this, &TMakeTextDialog::TemplatesEdited);
  connect(Memo2, &QPlainTextEdit::textChanged, this, &TMakeTextDialog::TemplatesEdited);
  connect(ComboBox1, &QComboBox::activated, this, [this](int kind) {
    if (kind == engine_.TemplateKind) return;
    if (!Store()) {
      ComboBox1->setCurrentIndex(engine_.TemplateKind);
      return;
    }
    PrepareTemplates(kind);
  });
  connect(buttons, &QDialogButtonBox::accepted, this, [this] {
    if (!Store()) return;
    PrepareTemplates(engine_.TemplateKind);
    accept();
  });
  engine_.DateText = [](const TCivilTime& t) {
    return QStringToSjis(QLocale().toString(QDate(t.year, t.month, t.day), QLocale::ShortFormat)).bytes;
  };
  engine_.TimeText = [](const TCivilTime& t) {
    return QStringToSjis(QTime(t.hour, t.minute, t.second).toString(QStringLiteral("H:mm:ss"))).bytes;
  };
  // Creation: the new-post kind with the sample context.
  PrepareTemplates(0);
  engine_.SetSampleContext();
  ShowTemplates();
}

void TMakeTextDialog::PrepareTemplates(int kind) {
  engine_.PrepareTemplates(kind);
  ShowTemplates();
}

void TMakeTextDialog::ShowTemplates() {
  updating_ = true;
  ComboBox1->setCurrentIndex(engine_.TemplateKind);
  Memo1->setPlainText(ForTextBox(engine_.Header));
  Memo2->setPlainText(ForTextBox(engine_.Footer));
  Memo3->setPlainText(ForTextBox(engine_.Composed));
  updating_ = false;
}

void TMakeTextDialog::TemplatesEdited() {
  if (updating_) return;
  // Characters Shift-JIS cannot hold are pointed out when the templates are stored.
  QString h = Memo1->toPlainText(), f = Memo2->toPlainText();
  h.replace(QStringLiteral("\n"), QStringLiteral("\r\n"));
  f.replace(QStringLiteral("\n"), QStringLiteral("\r\n"));
  engine_.Header = QStringToSjis(h).bytes;
  engine_.Footer = QStringToSjis(f).bytes;
  engine_.ComposeDraft();
  updating_ = true;
  Memo3->setPlainText(ForTextBox(engine_.Composed));
  updating_ = false;
}

bool TMakeTextDialog::Store() {
  auto h = FromTextBox(this, Memo1->toPlainText());
  auto f = FromTextBox(this, Memo2->toPlainText());
  if (!h || !f) return false;
  engine_.Header = *h;
  engine_.Footer = *f;
  try {
    engine_.StoreTemplates();
  } catch (const EInOutError& e) {
    QMessageBox::critical(this, QStringLiteral("エラー"), Q(e.what()));
  }
  return true;
}

std::optional<std::string> TMakeTextDialog::Preview() { return FromTextBox(this, Memo3->toPlainText()); }

}  // namespace brelo
