#include "ui/HostAddDeleteDialog.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>
#include <chrono>

#include "common/FileUtil.h"
#include "hosts/HostTable.h"
#include "ui/HostPropertyDialog.h"
#include "ui/Text.h"

namespace brelo {

THostAddDeleteDialog::THostAddDeleteDialog(THostTable& hosts, std::string programFolder,
                                           THostPropertyDialog& properties, QWidget* parent)
    : QDialog(parent), hosts_(hosts), programFolder_(std::move(programFolder)), properties_(properties) {
  setWindowTitle(QStringLiteral("ホストの追加と削除"));
  ListBox1 = new QListWidget;
  Title = new QLineEdit;
  FilePath = new QLineEdit;
  Button2 = new QPushButton(QStringLiteral("追加"));
  Button1 = new QPushButton(QStringLiteral("削除"));
  Button3 = new QPushButton(QStringLiteral("ﾌﾟﾛﾊﾟﾃｨ"));
  auto* form = new QFormLayout;
  form->addRow(QStringLiteral("タイトル :"), Title);
  form->addRow(QStringLiteral("データ保存パス名 :"), FilePath);
  auto* side = new QVBoxLayout;
  side->addWidget(Button2);
  side->addWidget(Button1);
  side->addWidget(Button3);
  side->addStretch(1);
  auto* top = new QHBoxLayout;
  top->addWidget(ListBox1, 1);
  top->addLayout(side);
  auto* buttons = new QDialogButtonBox;
  buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole)->setDefault(true);
  buttons->addButton(QStringLiteral("ｷｬﾝｾﾙ"), QDialogButtonBox::RejectRole);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addLayout(form);
  layout->addWidget(buttons);
  // The arrow keys select as a click does.
  connect(ListBox1, &QListWidget::currentRowChanged, this, &THostAddDeleteDialog::ListBox1Click);
  ListBox1->setAccessibleName(QStringLiteral("ホスト一覧"));
  Title->setAccessibleName(QStringLiteral("タイトル"));
  FilePath->setAccessibleName(QStringLiteral("データ保存パス名"));
  connect(ListBox1, &QListWidget::itemDoubleClicked, this, [this] {
    if (ListBox1->currentRow() >= 0) Button3->click();
  });
  connect(Title, &QLineEdit::textEdited, this, [this](const QString& t) {
    const int i = ListBox1->currentRow();
    if (auto s = ToSjisOrWarn(this, t); s && i >= 0) hosts_.HostTable[static_cast<size_t>(i)].Title = *s;
  });
  connect(FilePath, &QLineEdit::textEdited, this, [this](const QString& t) {
    const int i = ListBox1->currentRow();
    if (auto s = ToSjisOrWarn(this, t); s && i >= 0) hosts_.HostTable[static_cast<size_t>(i)].FilePath = *s;
  });
  connect(Button2, &QPushButton::clicked, this, &THostAddDeleteDialog::Button2Click);
  connect(Button1, &QPushButton::clicked, this, &THostAddDeleteDialog::Button1Click);
  connect(Button3, &QPushButton::clicked, this, [this] {
    const int row = ListBox1->currentRow();
    if (row < 0) return;
    properties_.HostIndex = row;
    const std::string folder = hosts_.HostTable[static_cast<size_t>(row)].FilePath;
    // Its OK writes this dialog's changes too, into the list as it is now:
    // the table may have changed under the rows shown.
    properties_.exec();
    Reselect(folder);
  });
  connect(buttons, &QDialogButtonBox::accepted, this, [this] {
    try {
      // Only what was changed here goes into the list as it is now, under
      // its lock: hosts others added or removed meanwhile stay so.
      hosts_.SaveHostList(programFolder_);
    } catch (const EHostListChanged& e) {
      QMessageBox::warning(this, windowTitle(), Q(e.what()));
      Rebuild();
      return;
    } catch (const EInOutError& e) {
      QMessageBox::critical(this, QStringLiteral("エラー"), Q(e.what()));
      return;
    }
    if (OnHostsSaved) OnHostsSaved();
    accept();
  });
  connect(buttons, &QDialogButtonBox::rejected, this, &THostAddDeleteDialog::reject);
  Load();
}

void THostAddDeleteDialog::reject() {
  Load();  // unsaved changes are discarded
  QDialog::reject();
}

void THostAddDeleteDialog::Load() {
  try {
    hosts_.LoadHostList(programFolder_);
    if (!hosts_.LoadProblem.empty()) QMessageBox::warning(this, QStringLiteral("ホスト一覧"), Q(hosts_.LoadProblem));
  } catch (const EInOutError& e) {
    QMessageBox::critical(this, QStringLiteral("エラー"), Q(e.what()));
  }
}

void THostAddDeleteDialog::showEvent(QShowEvent* e) {
  Load();
  Rebuild();
  QDialog::showEvent(e);
}

void THostAddDeleteDialog::Rebuild() {
  ListBox1->clear();
  for (int i = 0; i < hosts_.HostCount; ++i) ListBox1->addItem(Q(hosts_.HostTable[static_cast<size_t>(i)].Title));
  ListBox1->setCurrentRow(-1);
  for (QWidget* w : std::initializer_list<QWidget*>{Title, FilePath, Button1, Button3}) w->setEnabled(false);
}

void THostAddDeleteDialog::Reselect(const std::string& folder) {
  Rebuild();
  for (int i = 0; i < hosts_.HostCount; ++i) {
    if (hosts_.HostTable[static_cast<size_t>(i)].FilePath == folder) {
      ListBox1->setCurrentRow(i);
      return;
    }
  }
}

void THostAddDeleteDialog::ListBox1Click() {
  const int i = ListBox1->currentRow();
  if (i < 0) return;
  Title->setEnabled(true);
  FilePath->setEnabled(true);
  Title->setText(Q(hosts_.HostTable[static_cast<size_t>(i)].Title));
  FilePath->setText(Q(hosts_.HostTable[static_cast<size_t>(i)].FilePath));
  Button1->setEnabled(true);
  Button3->setEnabled(true);
}

void THostAddDeleteDialog::Button2Click() {
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                      std::chrono::steady_clock::now().time_since_epoch())
                      .count();
  if (!hosts_.Add(static_cast<int32_t>(ms))) {
    QMessageBox::information(this, QStringLiteral("追加"),
                             QStringLiteral("ホストは %1 件までです。使わないホストを削除してから追加してください。")
                                 .arg(kMaxHosts));
    return;
  }
  Rebuild();
  ListBox1->setCurrentRow(hosts_.HostCount - 1);
  ListBox1Click();
}

void THostAddDeleteDialog::Button1Click() {
  const int i = ListBox1->currentRow();
  if (i < 0) return;
  hosts_.Delete(i);
  Rebuild();
}

}  // namespace brelo
