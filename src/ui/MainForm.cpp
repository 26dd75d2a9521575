#include "ui/MainForm.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QScreen>
#include <QStatusBar>
#include <QTabWidget>
#include <QVBoxLayout>

#include "common/FileUtil.h"
#include "common/Sjis.h"
#include "ui/EditRouting.h"
#include "ui/Fonts.h"

namespace brelo {

TMainForm::TMainForm(std::string programFolder, TAppSettings settings, QWidget* parent)
    : QMainWindow(parent), programFolder_(std::move(programFolder)), settings_(std::move(settings)) {
  setFont(UiFont());
  resize(640, 460);
  BuildMenu();
  BuildPages();
  auto* bar = new QStatusBar(this);
  bar->setFont(ProportionalMinchoFont(12));
  bar->setSizeGripEnabled(false);
  setStatusBar(bar);
  if (QScreen* s = QGuiApplication::primaryScreen()) {
    QRect r = s->availableGeometry();
    move(r.center() - QPoint(width() / 2, height() / 2));
  }
}

TMainForm::~TMainForm() = default;

QString TMainForm::WindowTitleText() {
  return QStringLiteral("Brelo  Vesko・KTBBS 対応 BBS 自動巡回・オフラインリーダー  Ver %1")
      .arg(QStringLiteral(BRELO_VERSION));
}

QString TMainForm::VersionText() {
  return QStringLiteral("Brelo バージョン %1\n\nVesko・KTBBS 系ホストの自動巡回とオフライン閲覧・書き込み予約")
      .arg(QStringLiteral(BRELO_VERSION));
}

void TMainForm::BuildMenu() {
  QMenuBar* mb = menuBar();
  auto add = [this](QMenu* m, const QString& text, const QKeySequence& key = {}) {
    QAction* a = m->addAction(text);
    if (!key.isEmpty()) a->setShortcut(key);
    a->setShortcutContext(Qt::WindowShortcut);
    return a;
  };

  QMenu* file = mb->addMenu(QStringLiteral("ﾌｧｲﾙ(&F)"));
  Exit1 = add(file, QStringLiteral("終了(&X)"));
  connect(Exit1, &QAction::triggered, this, &QWidget::close);

  QMenu* edit = mb->addMenu(QStringLiteral("編集(&E)"));
  Undo1 = add(edit, QStringLiteral("元に戻す(&U)"), QKeySequence(Qt::CTRL | Qt::Key_Z));
  edit->addSeparator();
  Cut1 = add(edit, QStringLiteral("切り取り(&T)"), QKeySequence(Qt::CTRL | Qt::Key_X));
  Copy1 = add(edit, QStringLiteral("ｺﾋﾟｰ(&C)"), QKeySequence(Qt::CTRL | Qt::Key_C));
  Paste1 = add(edit, QStringLiteral("貼り付け(&P)"), QKeySequence(Qt::CTRL | Qt::Key_V));
  Delete1 = add(edit, QStringLiteral("削除(&D)"), QKeySequence(Qt::CTRL | Qt::Key_Delete));
  SelectAll1 = add(edit, QStringLiteral("すべて選択(&L)"));
  const std::pair<QAction*, EEditRequest> routes[] = {
      {Undo1, EEditRequest::Undo},   {Cut1, EEditRequest::Cut},       {Copy1, EEditRequest::Copy},
      {Paste1, EEditRequest::Paste}, {Delete1, EEditRequest::Delete}, {SelectAll1, EEditRequest::SelectAll}};
  for (const auto& [action, request] : routes) {
    EEditRequest r = request;
    connect(action, &QAction::triggered, this, [r] { RouteEditRequest(QApplication::focusWidget(), r); });
  }

  QMenu* settings = mb->addMenu(QStringLiteral("設定(&I)"));
  H1 = add(settings, QStringLiteral("ヘッダフッダ(&T)"));
  M1 = add(settings, QStringLiteral("モデム設定(&M)"));
  Q1 = add(settings, QStringLiteral("引用符(&Q)"));
  E1 = add(settings, QStringLiteral("外部エディタ(&E)"));

  QMenu* jump = mb->addMenu(QStringLiteral("ｼﾞｬﾝﾌﾟ(&J)"));
  K1 = add(jump, QStringLiteral("前のアーティクル"), QKeySequence(Qt::CTRL | Qt::Key_Up));
  K2 = add(jump, QStringLiteral("次のアーティクル"), QKeySequence(Qt::CTRL | Qt::Key_Down));
  K3 = add(jump, QStringLiteral("すぐ前のアーティクル"), QKeySequence(Qt::ALT | Qt::Key_Up));
  K4 = add(jump, QStringLiteral("すぐ次のアーティクル"), QKeySequence(Qt::ALT | Qt::Key_Down));

  ActionMenu = mb->addMenu(QStringLiteral("ｱｸｼｮﾝ(&A)"));
  M_Res = add(ActionMenu, QStringLiteral("レス(&R)"), QKeySequence(Qt::ALT | Qt::Key_R));
  M_New = add(ActionMenu, QStringLiteral("新規書き込み(&W)"), QKeySequence(Qt::ALT | Qt::Key_N));
  M_Mail = add(ActionMenu, QStringLiteral("新規メール(&N)"));

  QMenu* help = mb->addMenu(QStringLiteral("ﾍﾙﾌﾟ(&H)"));
  Readme1 = add(help, QStringLiteral("Readme"));
  V1 = add(help, QStringLiteral("ﾊﾞｰｼﾞｮﾝ情報(&A)"));
  connect(V1, &QAction::triggered, this, &TMainForm::V1Click);
}

void TMainForm::BuildPages() {
  pages_ = new QTabWidget(this);
  const QString captions[] = {QStringLiteral("アーティクルブラウザ"), QStringLiteral("ターミナル"),
                              QStringLiteral("ﾀｰﾐﾅﾙ･ｵﾌﾟｼｮﾝ"),       QStringLiteral("書き込み予約箱"),
                              QStringLiteral("メモ帳"),               QStringLiteral("ﾕｰｻﾞｰﾘｽﾄ")};
  for (int i = 0; i < 6; ++i) {
    QWidget* page;
    if (i == kPageNotepad) {
      notepad_ = new QPlainTextEdit;
      notepad_->setFont(FixedGothicFont(19));
      notepad_->setPlainText(QStringLiteral("メモ帳(^^;"));
      page = notepad_;
    } else {
      page = new QWidget;
    }
    pages_->addTab(page, captions[i]);
  }
  pages_->setCurrentIndex(kPageBrowser);
  setCentralWidget(pages_);
}

void TMainForm::showEvent(QShowEvent* e) {
  setWindowTitle(WindowTitleText());
  QMainWindow::showEvent(e);
}

void TMainForm::closeEvent(QCloseEvent* e) {
  WriteSettingsReporting();
  e->accept();
}

void TMainForm::WriteSettingsReporting() {
  try {
    settings_.Write(programFolder_);
  } catch (const EInOutError& err) {
    // The window still closes: a settings file that cannot be written must
    // not keep the user from quitting.
    QMessageBox::critical(this, QStringLiteral("エラー"), SjisToQString(err.what()));
  }
}

void TMainForm::V1Click() { QMessageBox::information(this, QStringLiteral("ﾊﾞｰｼﾞｮﾝ情報"), VersionText()); }

}  // namespace brelo
