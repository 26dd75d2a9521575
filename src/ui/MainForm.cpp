#include "ui/MainForm.h"

#include <sys/stat.h>

#include <QAction>
#include <algorithm>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileSystemWatcher>
#include <QDesktopServices>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QSplitter>
#include <QStatusBar>
#include <QTabWidget>
#include <QTimer>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>

#include "common/FileUtil.h"
#include "common/MainThread.h"
#include "common/Sjis.h"
#include "common/StringLock.h"
#include "compose/Drafting.h"
#include "store/ArticleSearch.h"
#include "reader/DemoHostStarter.h"
#include "reader/ModemSettings.h"
#include "reader/Patrol.h"
#include "ui/BrowserPage.h"
#include "ui/HostKeyDialog.h"
#include "ui/EditRouting.h"
#include "ui/ExternalEdits.h"
#include "ui/Fonts.h"
#include "ui/HostAddDeleteDialog.h"
#include "ui/HostPropertyDialog.h"
#include "ui/MakeTextDialog.h"
#include "ui/MessageEditor.h"
#include "ui/ModemSettingDailog.h"
#include "ui/OptionsPage.h"
#include "reader/Recapture.h"
#include "ui/ReservationPage.h"
#include "ui/Rounds.h"
#include "ui/SearchDialog.h"
#include "ui/TerminalPage.h"
#include "ui/Text.h"
#include "ui/UserListPage.h"

namespace brelo {
namespace {

// What stat tells of the host list file: a save by anybody changes it (a
// new file, renamed into place); "" when there is none.
std::string HostListStamp(const std::string& programFolder) {
  struct stat st {};
  if (::lstat(THostTable::FileName(programFolder).c_str(), &st) != 0) return std::string();
  return std::to_string(st.st_ino) + ":" + std::to_string(st.st_size) + ":" + std::to_string(st.st_mtim.tv_sec) + "." +
         std::to_string(st.st_mtim.tv_nsec);
}

}  // namespace

TMainForm::TMainForm(std::string programFolder, TAppSettings settings, QWidget* parent)
    : QMainWindow(parent),
      programFolder_(WithSlash(std::move(programFolder))),
      settings_(std::move(settings)),
      model_(programFolder_, *this),
      browser_(readStore_),
      templates_(programFolder_) {
  setFont(UiFont());
  hostListSeen_ = HostListStamp(programFolder_);
  try {
    model_.Hosts.LoadHostList(programFolder_);
    if (!model_.Hosts.LoadProblem.empty()) {
      QMessageBox::warning(nullptr, QStringLiteral("ホスト一覧"), Q(model_.Hosts.LoadProblem));
    }
  } catch (const EInOutError& e) {
    QMessageBox::critical(nullptr, QStringLiteral("エラー"), Q(e.what()));
  }
  resize(640, 460);
  auto* central = new QWidget;
  auto* layout = new QVBoxLayout(central);
  layout->setContentsMargins(2, 2, 2, 0);
  layout->setSpacing(2);
  auto* top = new QWidget;
  BuildTopBar(top);
  layout->addWidget(top);
  BuildPages();
  layout->addWidget(pages_, 1);
  setCentralWidget(central);
  BuildMenu();
  auto* bar = new QStatusBar(this);
  bar->setFont(ProportionalMinchoFont(12));
  bar->setSizeGripEnabled(false);
  // A permanent field: the tips of menus and buttons, which the bar shows as
  // passing messages, never wipe the pass's progress.
  StatusText = new QLabel;
  StatusText->setTextFormat(Qt::PlainText);
  StatusText->setAccessibleName(QStringLiteral("ステータス"));
  // A long line (a round's host and what it does) is cut at the window's
  // edge; it never widens the window.
  StatusText->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  StatusText->setMinimumWidth(1);
  bar->addPermanentWidget(StatusText, 1);
  setStatusBar(bar);
  if (QScreen* s = QGuiApplication::primaryScreen()) {
    const QRect r = s->availableGeometry();
    move(r.center() - QPoint(width() / 2, height() / 2));
  }
  // The dialogs, in the order the program creates them; the modem dialog's
  // creation loads Modem.Ini into the session component.
  ModemSettingDailog = new TModemSettingDailog(model_.VeskoClient1, programFolder_, this);
  HostPropertyDialog = new THostPropertyDialog(model_.Hosts, programFolder_, this);
  HostAddDeleteDialog = new THostAddDeleteDialog(model_.Hosts, programFolder_, *HostPropertyDialog, this);
  HostAddDeleteDialog->OnHostsSaved = [this] { RebuildHostSelector(); };
  HostPropertyDialog->OnHostsChanged = [this] { HostTableReloaded(); };
  // The list is replaced whole (a rename), so the folder is watched; the
  // bursts of a save come to one look.
  hostListTimer_ = new QTimer(this);
  hostListTimer_->setSingleShot(true);
  hostListTimer_->setInterval(100);
  connect(hostListTimer_, &QTimer::timeout, this, &TMainForm::CheckHostList);
  auto* watcher = new QFileSystemWatcher(this);
  watcher->addPath(QString::fromStdString(programFolder_));
  connect(watcher, &QFileSystemWatcher::directoryChanged, hostListTimer_, qOverload<>(&QTimer::start));
  HostPropertyDialog->Connected = [this](int index) {
    return model_.VeskoClient1.SessionRunning() && model_.Policy.CurrentHost() == index;
  };
  MakeTextDialog = new TMakeTextDialog(templates_, this);
  demoHost_ = std::make_unique<TDemoHostStarter>(programFolder_, QCoreApplication::applicationDirPath().toStdString());
  SetControls(ESessionControls::kNoHost);
  // The options as the user last set them.
  model_.Policy.Options = model_.Policy.UserOptions = settings_.Options;
  OptionsPage->Refresh();
  OptionsPage->OnChecked = [this](bool TSessionOptions::*field) {
    model_.Policy.UserChanged(field);
    OptionsEdited();
  };
  OptionsPage->OnDateEdited = [this] {
    model_.Policy.UserChangedDate();
    OptionsEdited();
  };
  RestorePlace();
  Rounds = new TRounds(*this);
  // The counts change as the user reads: so does the news.
  browser_.OnCountsChanged = [this, counts = browser_.OnCountsChanged] {
    if (counts) counts();
    Rounds->NewsMayHaveChanged();
  };
  // The goodbye left to the user: the status line names what the host asks,
  // the line it left open at the end of the screen.
  goodbyeTimer_ = new QTimer(this);
  goodbyeTimer_->setInterval(300);
  connect(goodbyeTimer_, &QTimer::timeout, this, [this] {
    TVeskoClient& c = model_.VeskoClient1;
    if (!model_.Policy.AwaitingGoodbyeAnswer()) return;
    const std::string open = c.Lines(c.LineIndex());
    if (open.empty() || open == goodbyeShown_) return;
    goodbyeShown_ = open;
    SetStatus(TSessionPolicy::GoodbyeWaitStatus(open));
  });
  goodbyeTimer_->start();
  passTimer_ = new QTimer(this);
  passTimer_->setInterval(100);
  connect(passTimer_, &QTimer::timeout, this, [this] {
    if (model_.VeskoClient1.SessionRunning() || model_.VeskoClient1.WorkThreadRunning()) return;
    passTimer_->stop();
    // Behind what the work thread posted before it ended: its last status.
    PostToMain([form = QPointer<TMainForm>(this)] {
      if (form) form->PassEnded();
    });
  });
  // Quitting during a pass waits for the pass to put the line down and
  // store what arrived.
  quitTimer_ = new QTimer(this);
  quitTimer_->setInterval(100);
  connect(quitTimer_, &QTimer::timeout, this, [this] {
    if (model_.VeskoClient1.SessionRunning() || model_.VeskoClient1.WorkThreadRunning() || Rounds->Running()) return;
    quitTimer_->stop();
    close();
  });
  // A host a pilot holds shows again once the pilot lets go.
  busyTimer_ = new QTimer(this);
  busyTimer_->setInterval(1000);
  connect(busyTimer_, &QTimer::timeout, this, [this] {
    if (model_.Policy.HostBusy()) model_.Policy.RetryHostLock();
    else busyTimer_->stop();
  });
}

TMainForm::~TMainForm() {
  TExternalEdits::Instance().OnBodyChanged = nullptr;
  // The editors belong to the box they edit: they go first.
  for (TMessageEditor* e : Editors()) {
    e->SetReservationIndex(-1);
    delete e;
  }
}

QString TMainForm::WindowTitleText() {
  return QStringLiteral("Brelo  Vesko・KTBBS 対応 BBS 自動巡回・オフラインリーダー  Ver %1")
      .arg(QStringLiteral(BRELO_VERSION));
}

QString TMainForm::VersionText() {
  return QStringLiteral("Brelo バージョン %1\n\nVesko・KTBBS 系ホストの自動巡回とオフライン閲覧・書き込み予約")
      .arg(QStringLiteral(BRELO_VERSION));
}

void TMainForm::BuildTopBar(QWidget* holder) {
  auto* bar = new QHBoxLayout(holder);
  bar->setContentsMargins(0, 0, 0, 0);
  auto* hostLabel = new QLabel(QStringLiteral("ホスト :"));
  bar->addWidget(hostLabel);
  HostComboBox = new QComboBox;
  HostComboBox->setObjectName(QStringLiteral("HostComboBox"));
  HostComboBox->setMinimumWidth(200);
  HostComboBox->setAccessibleName(QStringLiteral("ホスト"));
  hostLabel->setBuddy(HostComboBox);
  SpeedButton5 = new QToolButton;
  SpeedButton5->setText(QStringLiteral("ﾌﾟﾛﾊﾟﾃｨ"));
  SpeedButton6 = new QToolButton;
  SpeedButton6->setText(QStringLiteral("追加・削除"));
  SpeedButton1 = new QToolButton;
  SpeedButton1->setText(QStringLiteral("接続/強制切断"));
  SpeedButton1->setCheckable(true);
  SpeedButton1->setToolTip(QStringLiteral("接続 / 強制切断 (Ctrl+K)"));
  // Down while a session runs, and plain to see.
  SpeedButton1->setStyleSheet(
      QStringLiteral("QToolButton:checked { background-color: #2d5f9a; color: white; font-weight: bold;"
                     " border: 2px inset #1d3f6a; padding: 2px 6px; }"));
  SpeedButton5->setToolTip(QStringLiteral("選んだホストの接続先とログイン"));
  SpeedButton6->setToolTip(QStringLiteral("ホストの追加と削除"));
  Label4 = new QLabel(QStringLiteral("0 "));
  Label4->setAccessibleName(QStringLiteral("受信数"));
  QFont big = Label4->font();
  big.setPixelSize(20);
  big.setBold(true);
  Label4->setFont(big);
  Label4Caption = new QLabel(QStringLiteral("受信"));
  for (QLabel* l : {Label4, Label4Caption}) {
    l->setToolTip(QStringLiteral("選んでいるホストの最後の接続 (巡回を含む) で受信したメッセージとメールの数"));
  }
  for (QWidget* w : std::initializer_list<QWidget*>{HostComboBox, SpeedButton5, SpeedButton6, SpeedButton1}) bar->addWidget(w);
  bar->addStretch(1);
  bar->addWidget(Label4Caption);
  bar->addWidget(Label4);
  connect(HostComboBox, &QComboBox::currentIndexChanged, this, [this](int i) {
    if (!selectorUpdating_) model_.Policy.HostComboBoxChange(i);
  });
  connect(SpeedButton1, &QToolButton::clicked, this, [this](bool down) {
    // Up during a round: the round stops with the pass in progress.
    if (!down && Rounds->Running()) {
      Rounds->StopRound();
      return;
    }
    if (down && SelectedHost() != nullptr) {
      // The sample demo host, installed beside the program, is started when
      // nothing answers there.
      const std::string said = demoHost_->Before(SelectedHost()->Address);
      if (!said.empty()) SetStatus(said);
    }
    model_.Policy.SpeedButton1Click(down);
    if (down && model_.VeskoClient1.SessionRunning()) passTimer_->start();
  });
  connect(SpeedButton5, &QToolButton::clicked, this, [this] {
    HostPropertyDialog->HostIndex = HostComboBox->currentIndex();
    HostPropertyDialog->exec();
    hostListTimer_->start();  // what changed while it was open
  });
  connect(SpeedButton6, &QToolButton::clicked, this, [this] {
    // OK rebuilds the selector itself; any other way out may still have
    // changed the table (a saved property, the reload of a cancel).
    if (HostAddDeleteDialog->exec() != QDialog::Accepted) HostTableReloaded();
    hostListTimer_->start();
  });
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
  Recapture1 = add(file, QStringLiteral("セッションログから再取り込み(&R)..."));
  connect(Recapture1, &QAction::triggered, this, [this] {
    if (SelectedHost() == nullptr || model_.VeskoClient1.SessionRunning() || Rounds->Running()) {
      QMessageBox::information(this, QStringLiteral("再取り込み"),
                               QStringLiteral("接続していないときに、ホストを選んでから行ってください。"));
      return;
    }
    const QString log = QFileDialog::getOpenFileName(this, QStringLiteral("再取り込みするセッションログ"),
                                                     QString::fromStdString(model_.Store.HostFolder),
                                                     QStringLiteral("セッションログ (*.LOG *.log);;すべて (*)"));
    if (!log.isEmpty()) RecaptureFile(log.toStdString());
  });
  file->addSeparator();
  // File transfers over the line, on the terminal page.
  Download1 = add(file, QStringLiteral("ダウンロード(&D)..."));
  connect(Download1, &QAction::triggered, this, [this] {
    ShowTerminal(false);
    TerminalPage->StartDownload();
  });
  Upload1 = add(file, QStringLiteral("アップロード(&U)..."));
  connect(Upload1, &QAction::triggered, this, [this] {
    ShowTerminal(false);
    TerminalPage->StartUpload();
  });
  file->addSeparator();
  Exit1 = add(file, QStringLiteral("終了(&X)"), QKeySequence(Qt::CTRL | Qt::Key_Q));
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

  QMenu* settings = SettingsMenu = mb->addMenu(QStringLiteral("設定(&I)"));
  H1 = add(settings, QStringLiteral("ヘッダフッダ(&T)"));
  M1 = add(settings, QStringLiteral("モデム設定(&M)"));
  Q1 = add(settings, QStringLiteral("引用符(&Q)"));
  E1 = add(settings, QStringLiteral("外部エディタ(&E)"));
  connect(H1, &QAction::triggered, this, [this] { MakeTextDialog->exec(); });
  connect(M1, &QAction::triggered, this, [this] { ModemSettingDailog->exec(); });
  connect(Q1, &QAction::triggered, this, &TMainForm::Q1Click);
  connect(E1, &QAction::triggered, this, &TMainForm::E1Click);

  QMenu* jump = JumpMenu = mb->addMenu(QStringLiteral("ｼﾞｬﾝﾌﾟ(&J)"));
  K1 = add(jump, QStringLiteral("前のアーティクル"), QKeySequence(Qt::CTRL | Qt::Key_Up));
  K2 = add(jump, QStringLiteral("次のアーティクル"), QKeySequence(Qt::CTRL | Qt::Key_Down));
  K3 = add(jump, QStringLiteral("すぐ前のアーティクル"), QKeySequence(Qt::ALT | Qt::Key_Up));
  K4 = add(jump, QStringLiteral("すぐ次のアーティクル"), QKeySequence(Qt::ALT | Qt::Key_Down));
  connect(K1, &QAction::triggered, this, [this] {
    BrowserPage->UPButton->setFocus();
    browser_.UPButtonClick();
  });
  connect(K2, &QAction::triggered, this, [this] {
    BrowserPage->DOWNButton->setFocus();
    browser_.DOWNButtonClick();
  });
  connect(K3, &QAction::triggered, this, [this] { browser_.K3Click(); });
  connect(K4, &QAction::triggered, this, [this] { browser_.K4Click(); });

  ActionMenu = mb->addMenu(QStringLiteral("ｱｸｼｮﾝ(&A)"));
  M_Res = add(ActionMenu, QStringLiteral("レス(&R)"), QKeySequence(Qt::ALT | Qt::Key_R));
  M_New = add(ActionMenu, QStringLiteral("新規書き込み(&W)"), QKeySequence(Qt::ALT | Qt::Key_N));
  M_Mail = add(ActionMenu, QStringLiteral("新規メール(&N)"));
  ActionMenu->addSeparator();
  Connect1 = add(ActionMenu, QStringLiteral("接続/強制切断(&C)"), QKeySequence(Qt::CTRL | Qt::Key_K));
  connect(Connect1, &QAction::triggered, this, [this] {
    if (SpeedButton1->isEnabled()) SpeedButton1->click();
  });
  connect(ActionMenu, &QMenu::aboutToShow, this, &TMainForm::K5Click);
  connect(ActionMenu, &QMenu::aboutToHide, this, [this] {
    // The shortcuts stay usable; the handlers check the buttons themselves.
    M_Res->setEnabled(true);
    M_New->setEnabled(true);
  });
  connect(M_Res, &QAction::triggered, this, &TMainForm::ResButtonClick);
  connect(M_New, &QAction::triggered, this, &TMainForm::NewButtonClick);
  connect(M_Mail, &QAction::triggered, this, &TMainForm::M_MailClick);

  QMenu* help = mb->addMenu(QStringLiteral("ﾍﾙﾌﾟ(&H)"));
  Readme1 = add(help, QStringLiteral("Readme"));
  V1 = add(help, QStringLiteral("ﾊﾞｰｼﾞｮﾝ情報(&A)"));
  connect(Readme1, &QAction::triggered, this, &TMainForm::Readme1Click);
  connect(V1, &QAction::triggered, this,
          [this] { QMessageBox::information(this, QStringLiteral("ﾊﾞｰｼﾞｮﾝ情報"), VersionText()); });
}

void TMainForm::BuildPages() {
  pages_ = new QTabWidget;
  pages_->setAccessibleName(QStringLiteral("ページ"));
  BrowserPage = new TBrowserPage(browser_);
  connect(BrowserPage->NewButton, &QPushButton::clicked, this, &TMainForm::NewButtonClick);
  connect(BrowserPage->ResButton, &QPushButton::clicked, this, &TMainForm::ResButtonClick);
  connect(BrowserPage->SearchButton, &QToolButton::clicked, this, &TMainForm::SearchClick);
  connect(BrowserPage->SearchText, &QLineEdit::returnPressed, this, &TMainForm::SearchClick);
  TerminalPage = new TTerminalPage(model_.VeskoClient1);
  model_.VeskoClient1.OnReceive = [page = TerminalPage](TVeskoClient*, const std::string&) { page->MarkChanged(); };
  TerminalPage->SetLineView(settings_.TerminalLines);
  TerminalPage->OnViewChosen = [this](bool lines) { settings_.TerminalLines = lines; };
  TerminalPage->SetTerminalFont(Q(settings_.TerminalFont), settings_.TerminalFontSize);
  // Each session starts with its host's terminal profile, before its first
  // byte (the host hears the window's size at the font's size).
  model_.VeskoClient1.OnConnect = [this, policy = model_.VeskoClient1.OnConnect](TVeskoClient* c) {
    if (const int h = model_.Policy.CurrentHost(); h >= 0 && h < model_.Hosts.HostCount) {
      TerminalPage->StartSession(model_.Hosts.HostTable[static_cast<size_t>(h)], !KeepingPlace());
    }
    if (policy) policy(c);
  };
  if (settings_.TerminalKeys) TerminalPage->SetKeyMode(true);
  connect(TerminalPage->KeyModeButton, &QToolButton::toggled, this, [this](bool on) { settings_.TerminalKeys = on; });
  TerminalPage->OnProtocolChanged = [this] {
    TModemSettings s;
    s.Read(programFolder_);
    s.Protocol = model_.VeskoClient1.ModemPort().Protocol;
    try {
      s.Write(programFolder_);
    } catch (const EInOutError& err) {
      QMessageBox::critical(this, QStringLiteral("エラー"), Q(err.what()));
    }
  };
  OptionsPage = new TOptionsPage(model_.Policy.Options);
  OptionsPage->SetTerminalFont(Q(settings_.TerminalFont), settings_.TerminalFontSize);
  OptionsPage->OnTerminalFontChanged = [this](const QString& family, int pixelSize) {
    if (auto name = ToSjisOrWarn(this, family)) settings_.TerminalFont = *name;
    settings_.TerminalFontSize = pixelSize;
    TerminalPage->SetTerminalFont(family, pixelSize);
  };
  ReservationPage = new TReservationPage(model_.Box, model_.Store);
  ReservationPage->OpenEditor = [this](int i) { OpenEditor(i); };
  model_.Box.OnChanged = [this] {
    if (!KeepingPlace()) ReservationPage->Refresh();
  };
  // What an outside editor saved shows in the box's preview.
  TExternalEdits::Instance().OnBodyChanged = [this](const std::string&) {
    if (!KeepingPlace()) ReservationPage->Refresh();
  };
  notepad_ = new QPlainTextEdit;
  notepad_->setAccessibleName(QStringLiteral("メモ帳"));
  notepad_->setFont(FixedGothicFont(19));
  notepad_->setPlainText(QStringLiteral("メモ帳(^^;"));
  UserListPage = new TUserListPage(model_.Users);
  model_.Users.OnChanged = [this] {
    if (!KeepingPlace()) UserListPage->Refresh();
  };
  connect(UserListPage->Button3, &QPushButton::clicked, this, &TMainForm::UserListMailClick);
  connect(UserListPage->Button4, &QPushButton::clicked, this, &TMainForm::UserListReserveClick);
  pages_->addTab(BrowserPage, QStringLiteral("アーティクルブラウザ"));
  pages_->addTab(TerminalPage, QStringLiteral("ターミナル"));
  pages_->addTab(OptionsPage, QStringLiteral("ﾀｰﾐﾅﾙ･ｵﾌﾟｼｮﾝ"));
  pages_->addTab(ReservationPage, QStringLiteral("書き込み予約箱"));
  pages_->addTab(notepad_, QStringLiteral("メモ帳"));
  pages_->addTab(UserListPage, QStringLiteral("ﾕｰｻﾞｰﾘｽﾄ"));
  pages_->setCurrentIndex(kPageBrowser);
}

// ----------------------------------------------------------- host selector

void TMainForm::RebuildHostSelector() {
  selectorUpdating_ = true;
  HostComboBox->clear();
  for (int i = 0; i < model_.Hosts.HostCount; ++i) HostComboBox->addItem(Q(model_.Hosts.HostTable[static_cast<size_t>(i)].Title));
  HostComboBox->setCurrentIndex(-1);
  selectorUpdating_ = false;
  SpeedButton1->setEnabled(false);
  SpeedButton5->setEnabled(false);
  model_.Policy.HostSelectorRebuilt();
}

void TMainForm::HostTableReloaded() {
  const int current = model_.Policy.HostTableChanged();
  selectorUpdating_ = true;
  HostComboBox->clear();
  for (int i = 0; i < model_.Hosts.HostCount; ++i) HostComboBox->addItem(Q(model_.Hosts.HostTable[static_cast<size_t>(i)].Title));
  HostComboBox->setCurrentIndex(current);
  selectorUpdating_ = false;
}

void TMainForm::CheckHostList() {
  const std::string now = HostListStamp(programFolder_);
  if (now == hostListSeen_) return;
  // Unsaved edits in a dialog, or a host in use: the next look reads it.
  if (HostAddDeleteDialog->isVisible() || HostPropertyDialog->isVisible() || model_.VeskoClient1.SessionRunning() ||
      (Rounds != nullptr && Rounds->Running())) {
    return;
  }
  hostListSeen_ = now;
  THostTable hosts;
  try {
    hosts.LoadHostList(programFolder_);
  } catch (const EInOutError& e) {
    SetStatus(e.what());  // the table shown stays as it was read
    return;
  }
  if (!hosts.LoadProblem.empty()) SetStatus(hosts.LoadProblem);
  model_.Hosts = hosts;
  HostTableReloaded();
}

const THostEntry* TMainForm::SelectedHost() const {
  // A busy host's folder is not this window's to write.
  const int i = model_.Policy.HostBusy() ? -1 : model_.Policy.CurrentHost();
  return i >= 0 ? &model_.Hosts.HostTable[static_cast<size_t>(i)] : nullptr;
}

// ---------------------------------------------------------------- IMainView

bool TMainForm::KeepingPlace() const { return Rounds != nullptr && Rounds->KeepingPlace(); }

void TMainForm::SetStatus(const std::string& sjis) {
  // During a round the line says which host it is at, before what that host does.
  const QString progress = Rounds != nullptr ? Rounds->ProgressText() : QString();
  if (progress.isEmpty()) StatusText->setText(Q(sjis));
  else StatusText->setText(sjis.empty() ? progress : progress + QStringLiteral("  ") + Q(sjis));
  StatusText->setToolTip(StatusText->text());  // whole, where the window cuts it
}

void TMainForm::SetCounter(const std::string&) {
  // A round's passes count other hosts too: each keeps its own.
  received_[model_.Policy.HostFolder()] = model_.Policy.ReceivedCount();
  ShowCounter();
}

void TMainForm::ShowCounter() {
  const auto it = received_.find(readStore_.HostFolder);
  Label4->setText(QString::number(it == received_.end() ? 0 : it->second) + QStringLiteral(" "));
}

void TMainForm::PassEnded() {
  TVeskoClient& c = model_.VeskoClient1;
  if (c.SessionRunning() || KeepingPlace()) return;  // another began meanwhile
  const TSessionPolicy& p = model_.Policy;
  ShowBoardList();  // what the pass left: its captures, the new marks it cleared
  TPatrolResult r;
  r.title = p.CurrentHost() >= 0 ? model_.Hosts.HostTable[static_cast<size_t>(p.CurrentHost())].Title : std::string();
  r.summary = p.Summary();
  r.summary.logoutSent = r.summary.logoutSent || c.LogoutCommandSent;  // typed at the terminal, too
  r.lineError = c.LastLineError();
  r.status = PassStatus(r.summary, false);
  // A session that was the user's own (a terminal-only host, keys typed
  // during the login) ends as they end it: only the line's failure is told.
  const bool own = c.TerminalOnly || c.UserHasTyped();
  if (own && (r.status == kExitNoLogin || r.status == kExitLineLost) && r.lineError.code == 0) return;
  const std::vector<std::string> lines = FailureLines({r});
  if (!lines.empty()) SetStatus(lines.front());
}

void TMainForm::SetControls(ESessionControls state) {
  // A round's passes come and go; for the user the round is one session.
  if (KeepingPlace()) state = ESessionControls::kSession;
  else if (Rounds != nullptr && state != ESessionControls::kSession) Rounds->NewsMayHaveChanged();
  const bool session = state == ESessionControls::kSession;
  HostComboBox->setEnabled(!session);
  SpeedButton6->setEnabled(!session);
  SpeedButton5->setEnabled(state != ESessionControls::kNoHost);
  SpeedButton1->setEnabled(state == ESessionControls::kHostSelected || session);
  SpeedButton1->setChecked(session);
  if (state == ESessionControls::kHostBusy && busyTimer_ != nullptr) busyTimer_->start();
  if (!session && hostListTimer_ != nullptr) hostListTimer_->start();  // a change that waited for the session
}

void TMainForm::ShowTerminal(bool focusInput) {
  if (KeepingPlace()) return;  // the terminal fills in the background
  pages_->setCurrentIndex(kPageTerminal);
  if (focusInput) TerminalPage->Edit1->setFocus();
}

void TMainForm::OptionsChanged() { OptionsPage->Refresh(); }
void TMainForm::ShowBoardList() {
  // The session's store follows its host's file: a pass saves what it
  // announces over it, and a round moves it from host to host.
  try {
    model_.Store.LoadBoards();
  } catch (const EInOutError& e) {
    if (KeepingPlace()) SetStatus(e.what());
    else ReportError(e.what());
  }
  // A pass or a round at the host being read: the lines, the counts and the
  // chosen board's list follow, the place stays.
  const bool reading = !readStore_.HostFolder.empty() && readStore_.HostFolder == model_.Store.HostFolder;
  if (reading) browser_.RefreshBoards();
  if (KeepingPlace()) return;
  if (!reading) {
    readStore_.HostFolder = model_.Store.HostFolder;
    browser_.ShowBoardList();
  }
  ShowCounter();
  if (Rounds != nullptr) Rounds->NewsMayHaveChanged();
}

void TMainForm::ClearBrowser() {
  if (KeepingPlace()) return;
  readStore_.HostFolder.clear();
  browser_.Clear();
  ShowCounter();
}

void TMainForm::RoundBegins() {
  ReservationPage->setEnabled(false);
  UserListPage->setEnabled(false);
  SetControls(ESessionControls::kSession);
}

void TMainForm::RoundEnds() {
  ReservationPage->setEnabled(true);
  UserListPage->setEnabled(true);
  ReservationPage->Refresh();
  UserListPage->Refresh();
  const TSessionPolicy& p = model_.Policy;
  SetControls(model_.VeskoClient1.SessionRunning() ? ESessionControls::kSession
              : p.CurrentHost() < 0                ? ESessionControls::kNoHost
              : p.HostBusy()                       ? ESessionControls::kHostBusy
                                                   : ESessionControls::kHostSelected);
  if (readStore_.HostFolder == model_.Store.HostFolder) browser_.RefreshBoards();
  else ShowBoardList();  // the user's host could not be selected again
  ShowCounter();
}

bool TMainForm::RefusedDuringRound() {
  if (!KeepingPlace()) return false;
  QMessageBox::information(this, QStringLiteral("巡回中"),
                           QStringLiteral("巡回中は書き込みの予約ができません。巡回が終わってからどうぞ。"));
  return true;
}

void TMainForm::SelectHost(int index) {
  if (KeepingPlace()) return;
  selectorUpdating_ = true;
  HostComboBox->setCurrentIndex(index);
  selectorUpdating_ = false;
}

std::vector<TMessageEditor*> TMainForm::Editors() const {
  std::vector<TMessageEditor*> out;
  for (int i = 0; i < kReservationSlots; ++i) {
    if (auto* e = dynamic_cast<TMessageEditor*>(model_.Box.EditorSlots[static_cast<size_t>(i)])) out.push_back(e);
  }
  return out;
}

bool TMainForm::CloseEditors() {
  for (TMessageEditor* e : Editors()) {
    if (!e->RequestClose()) return false;
  }
  return Editors().empty();
}

void TMainForm::ReportError(const std::string& sjis) {
  QMessageBox::critical(this, QStringLiteral("エラー"), Q(sjis));
}

EHostKeyAnswer TMainForm::AskUnknownHostKey(const std::string& hostName, const THostKey& key) {
  const int host = model_.Policy.CurrentHost();
  const std::string title = host >= 0 ? model_.Hosts.HostTable[static_cast<size_t>(host)].Title : std::string();
  THostKeyDialog dialog(title, hostName, key, this);
  dialog.exec();
  return dialog.Answer();
}

std::optional<std::string> TMainForm::AskKeyPassphrase(const std::string& keyFile, bool again) {
  bool ok = false;
  const QString label = (again ? QStringLiteral("パスフレーズが違います。") : QString()) +
                        QStringLiteral("鍵 %1 のパスフレーズ:").arg(QString::fromStdString(keyFile));
  const QString passphrase =
      QInputDialog::getText(this, QStringLiteral("鍵のパスフレーズ"), label, QLineEdit::Password, QString(), &ok);
  if (!ok) return std::nullopt;
  return passphrase.toStdString();
}

// --------------------------------------------------------------- editors

void TMainForm::OpenEditor(int index) {
  if (index < 0 || index >= model_.Box.ReservationCount || RefusedDuringRound()) return;
  if (IReservationEditor* e = model_.Box.EditorSlots[static_cast<size_t>(index)]) {
    e->BringToFront();
    return;
  }
  if (!model_.Box.SendingName.empty() &&
      model_.Box.ReservationTable[static_cast<size_t>(index)].FileName == model_.Box.SendingName) {
    // What would be typed now could not reach the host, and the entry goes
    // once the host confirms it.
    QMessageBox::information(this, QStringLiteral("編集"),
                             QStringLiteral("この予約は送信中のため編集できません。送信の結果が出るまでお待ちください。"));
    return;
  }
  auto* editor = new TMessageEditor(model_.Box, model_.Store, settings_.Editor);
  model_.Box.EditorSlots[static_cast<size_t>(index)] = editor;
  QCoreApplication::processEvents();
  editor->LoadReservationIntoEditor(index);
  editor->show();
  ReservationPage->Refresh();
}

// -------------------------------------------------------------- drafting

void TMainForm::DraftFlow(int kind, bool showDialog, int board, const std::string& title,
                          const std::string& recipients) {
  MakeTextDialog->PrepareTemplates(kind);
  if (showDialog) MakeTextDialog->exec();
  std::optional<std::string> draft = MakeTextDialog->Preview();
  if (!draft) return;
  std::string name;
  try {
    name = model_.Box.AddReservation(board, title, recipients);
  } catch (const EInOutError& e) {
    ReportError(e.what());
    return;
  }
  const std::string text = WithFinalLineBreak(*draft);
  try {
    WriteFileAtomic(model_.Box.HostFolder + name, text);
  } catch (const EInOutError& e) {
    ReportError(e.what());  // the reservation exists with whatever its file holds
  }
  OpenEditor(model_.Box.ReservationCount - 1);
}

void TMainForm::ResButtonClick() {
  if (!BrowserPage->ResButton->isEnabled() || SelectedHost() == nullptr) return;
  if (RefusedDuringRound()) return;
  const TVeskoMessage& a = browser_.CurrentArticle;
  TTemplateContext& c = templates_.Context;
  c.MyID = SelectedHost()->UserID;
  c.YourID = a.FromID;
  c.MyHandle = SelectedHost()->HandleName;
  c.YourHandle = a.FromHandle;
  c.Subject = a.Title;
  c.BoardLabel = TMessageStore::ValidBoard(a.BoardNo) ? model_.Store.BoardTable[static_cast<size_t>(a.BoardNo)].Name : "";
  c.OrgNo = SafeIntToStr(a.MesNo);
  c.BodyText = QuoteLines(ShownLines(BrowserPage->Memo1), settings_.QuoteString);
  DraftFlow(1, true, browser_.CurrentBoard, ResponseTitle(a), a.FromID);
}

void TMainForm::NewButtonClick() {
  if (!BrowserPage->NewButton->isEnabled() || SelectedHost() == nullptr) return;
  if (RefusedDuringRound()) return;
  const TVeskoMessage& a = browser_.CurrentArticle;
  TTemplateContext& c = templates_.Context;
  c.MyID = SelectedHost()->UserID;
  c.MyHandle = SelectedHost()->HandleName;
  c.BoardLabel = TMessageStore::ValidBoard(a.BoardNo) ? model_.Store.BoardTable[static_cast<size_t>(a.BoardNo)].Name : "";
  c.OrgNo = SafeIntToStr(a.MesNo);
  c.BodyText = "\r\n";
  DraftFlow(0, true, browser_.CurrentBoard, NewTitle(), NewRecipients());
}

void TMainForm::M_MailClick() {
  if (SelectedHost() == nullptr) return;
  if (RefusedDuringRound()) return;
  TTemplateContext& c = templates_.Context;
  c.MyID = SelectedHost()->UserID;
  c.MyHandle = SelectedHost()->HandleName;
  c.BoardLabel = "@MAIL";
  c.OrgNo = "MAIL";
  c.BodyText = "\r\n";
  DraftFlow(0, false, 0, NewTitle(), NewRecipients());
}

void TMainForm::K5Click() {
  M_Res->setEnabled(BrowserPage->ResButton->isEnabled());
  M_New->setEnabled(BrowserPage->NewButton->isEnabled());
  M_Mail->setEnabled(SelectedHost() != nullptr);
}

void TMainForm::UserListMailClick() {
  if (SelectedHost() == nullptr) return;
  if (RefusedDuringRound()) return;
  auto id = ToSjisOrWarn(this, UserListPage->Edit3->text());
  auto handle = ToSjisOrWarn(this, UserListPage->Edit4->text());
  if (!id || !handle) return;
  TTemplateContext& c = templates_.Context;
  c.MyID = SelectedHost()->UserID;
  c.YourID = *id;
  c.MyHandle = SelectedHost()->HandleName;
  c.YourHandle = *handle;
  c.Subject = Sjis("新規メール");
  c.BoardLabel = "@MAIL";
  c.OrgNo = "MAIL";
  c.BodyText = "\r\n";
  DraftFlow(0, false, 0, NewTitle(), *id);
}

void TMainForm::UserListReserveClick() {
  model_.Policy.Options.GetUserList = true;
  OptionsPage->Refresh();
  QMessageBox::information(this, QStringLiteral("ユーザーリスト"), QStringLiteral("予約しました"));
}

// ------------------------------------------------------------- settings

void TMainForm::Q1Click() {
  bool ok = false;
  const QString text = QInputDialog::getText(this, QStringLiteral("引用符の設定"),
                                             QStringLiteral("引用符にする文字列を入力してください"), QLineEdit::Normal,
                                             Q(settings_.QuoteString), &ok);
  if (ok) {
    if (auto s = ToSjisOrWarn(this, text)) settings_.QuoteString = *s;
  }
  WriteSettingsReporting();  // also after a cancel
}

void TMainForm::E1Click() {
  const QString file = QFileDialog::getOpenFileName(this, QStringLiteral("外部エディタの指定"),
                                                    QString::fromStdString(settings_.Editor),
                                                    QStringLiteral("実行ファイル (*)"));
  if (file.isEmpty()) return;
  settings_.Editor = file.toStdString();
  WriteSettingsReporting();
}

void TMainForm::Readme1Click() {
  // The readme is Shift-JIS, which a desktop's text editor takes for
  // another code and garbles: the program shows it itself.
  ShowReadmeWindow();
}

void TMainForm::ShowReadmeWindow() {
  std::string text;
  try {
    text = ReadWholeFile(programFolder_ + "readme.TXT").value_or(std::string());
  } catch (const EInOutError& e) {
    ReportError(e.what());
    return;
  }
  auto* box = new QDialog(this);
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->setWindowTitle(QStringLiteral("Readme"));
  auto* view = new QPlainTextEdit(ForTextBox(text));
  view->setReadOnly(true);
  view->setFont(FixedGothicFont(14));
  view->setAccessibleName(QStringLiteral("Readme"));
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close);
  connect(buttons, &QDialogButtonBox::rejected, box, &QDialog::close);
  auto* layout = new QVBoxLayout(box);
  layout->addWidget(view);
  layout->addWidget(buttons);
  box->resize(680, 520);
  box->show();
}

void TMainForm::SearchClick() {
  if (SelectedHost() == nullptr) return;
  const QString text = BrowserPage->SearchText->text();
  auto needle = ToSjisOrWarn(this, text);
  if (!needle || needle->empty()) return;
  if (SearchDialog == nullptr) {
    SearchDialog = new TSearchDialog(this);
    SearchDialog->OnOpen = [this](int board, int indexNo) {
      // Hits of a host that is no longer selected would open other articles.
      if (SearchDialog->Folder() != readStore_.HostFolder) {
        SearchDialog->Stop();
        SearchDialog->hide();
        return;
      }
      pages_->setCurrentIndex(kPageBrowser);
      browser_.OpenStored(board, indexNo);
    };
    SearchDialog->OnError = [this](const std::string& error) { ReportError(error); };
  }
  SearchDialog->Start(readStore_, *needle, text);
}

void TMainForm::RecaptureFile(const std::string& logPath) {
  try {
    const std::optional<TRecaptureResult> done = brelo::RecaptureFile(model_, logPath);
    if (!done) return;
    const TRecaptureResult& r = *done;
    ShowBoardList();
    QMessageBox::information(this, QStringLiteral("再取り込み"),
                             QStringLiteral("%1 件を取り込みました。既にあったもの %2 件は取り込んでいません。\nログの終わりで切れていたもの %3 件は、ログにあるところまで取り込みました。")
                                 .arg(r.stored)
                                 .arg(r.skipped)
                                 .arg(r.cut));
  } catch (const EInOutError& e) {
    ReportError(e.what());
  }
}

void TMainForm::OptionsEdited() {
  settings_.Options = model_.Policy.UserOptions;
  WriteSettingsReporting();
}

void TMainForm::WriteSettingsReporting() {
  try {
    settings_.Write(programFolder_);
  } catch (const EInOutError& err) {
    ReportError(err.what());
  }
}

// ------------------------------------------------------------ the window's place

namespace {
QList<int> Ints(const std::string& text) {
  QList<int> out;
  for (const QString& part : QString::fromStdString(text).split(QLatin1Char(','))) {
    bool ok = false;
    const int v = part.trimmed().toInt(&ok);
    if (!ok) return {};
    out << v;
  }
  return out;
}
std::string Text(const QList<int>& values) {
  QStringList parts;
  for (int v : values) parts << QString::number(v);
  return parts.join(QLatin1Char(',')).toStdString();
}
}  // namespace

void TMainForm::RestorePlace() {
  const TWindowPlace& w = settings_.Window;
  const QList<int> g = Ints(w.Geometry);
  if (g.size() == 4 && g[2] >= 320 && g[3] >= 240) {
    QRect r(g[0], g[1], g[2], g[3]);
    // Kept whole on a screen that is there now.
    QScreen* s = QGuiApplication::screenAt(r.center());
    if (s == nullptr) s = QGuiApplication::primaryScreen();
    if (s != nullptr) {
      const QRect a = s->availableGeometry();
      r.setSize(r.size().boundedTo(a.size()));
      r.moveLeft(std::clamp(r.left(), a.left(), a.right() - r.width() + 1));
      r.moveTop(std::clamp(r.top(), a.top(), a.bottom() - r.height() + 1));
    }
    setGeometry(r);
  }
  if (w.Maximized) setWindowState(windowState() | Qt::WindowMaximized);
  const QList<int> split = Ints(w.BrowserSplit), board = Ints(w.BoardSplit);
  if (split.size() == 2) BrowserPage->MainSplitter->setSizes(split);
  if (board.size() == 2) BrowserPage->TopSplitter->setSizes(board);
}

void TMainForm::RememberPlace() {
  TWindowPlace& w = settings_.Window;
  const QRect r = normalGeometry();
  w.Geometry = Text({r.x(), r.y(), r.width(), r.height()});
  w.Maximized = isMaximized();
  w.BrowserSplit = Text(BrowserPage->MainSplitter->sizes());
  w.BoardSplit = Text(BrowserPage->TopSplitter->sizes());
  const int host = model_.Policy.CurrentHost();
  w.Host = host >= 0 ? model_.Hosts.HostTable[static_cast<size_t>(host)].Title : std::string();
  w.HostKnown = true;
  RememberReadingPlace();
}

void TMainForm::RememberReadingPlace() {
  TWindowPlace& w = settings_.Window;
  w.Page = pages_->currentIndex();
  w.Board = browser_.CurrentBoard;
  w.Article = browser_.ArticleOpened && browser_.CurrentArticle.BoardNo == browser_.CurrentBoard
                  ? browser_.CurrentArticle.IndexNo
                  : -1;
  w.Scroll = BrowserPage->Memo1->verticalScrollBar()->value();
}

void TMainForm::RestoreReadingPlace() {
  const TWindowPlace& w = settings_.Window;
  if (w.Page >= 0 && w.Page < pages_->count()) pages_->setCurrentIndex(w.Page);
  if (readStore_.HostFolder.empty() || !TMessageStore::ValidBoard(w.Board)) return;
  if (w.Article >= 0) {
    browser_.OpenStored(w.Board, w.Article);
    // The text is laid out once the page shows it; the scroll follows then.
    QTimer::singleShot(0, this, [this, scroll = w.Scroll] { BrowserPage->Memo1->verticalScrollBar()->setValue(scroll); });
    return;
  }
  for (int line = 0; line < static_cast<int>(browser_.BoardLines.size()); ++line) {
    if (TArticleBrowser::BoardOfLine(browser_.BoardLines[static_cast<size_t>(line)]) != w.Board) continue;
    browser_.BoardsClick(line);
    BrowserPage->Boards->setCurrentRow(line);
    return;
  }
}

// ------------------------------------------------------------ show, close

void TMainForm::showEvent(QShowEvent* e) {
  if (!shown_) {
    shown_ = true;
    RebuildHostSelector();
    // The host last selected, or the first one: 接続 works at once.
    int select = model_.Hosts.HostCount > 0 ? 0 : -1;
    for (int i = 0; i < model_.Hosts.HostCount; ++i) {
      if (settings_.Window.HostKnown && model_.Hosts.HostTable[static_cast<size_t>(i)].Title == settings_.Window.Host) {
        select = i;
        break;
      }
    }
    HostComboBox->setCurrentIndex(select);
    // The reading place belongs to the host it was remembered with.
    if (select >= 0 && settings_.Window.HostKnown &&
        model_.Hosts.HostTable[static_cast<size_t>(select)].Title == settings_.Window.Host) {
      RestoreReadingPlace();
    }
  }
  setWindowTitle(WindowTitleText());
  QMainWindow::showEvent(e);
}

void TMainForm::changeEvent(QEvent* e) {
  // Back in the window: what the shell did to the list meanwhile shows.
  if (e->type() == QEvent::ActivationChange && isActiveWindow() && hostListTimer_ != nullptr) hostListTimer_->start();
  QMainWindow::changeEvent(e);
}

void TMainForm::closeEvent(QCloseEvent* e) {
  // A pass or a round under way: the user says whether to end it. Ending it
  // puts the line down and keeps what arrived; the window closes once the
  // pass is over.
  const bool round = Rounds->Running();
  if (round || model_.VeskoClient1.SessionRunning() || model_.VeskoClient1.WorkThreadRunning()) {
    e->ignore();
    if (quitAfterPass_) return;
    QMessageBox ask(QMessageBox::Question, QStringLiteral("終了"),
                    round ? QStringLiteral("巡回中です。巡回を止めて終了しますか?\n(受信したものは保存します)")
                          : QStringLiteral("接続中です。切断して終了しますか?\n(受信したものは保存します)"),
                    QMessageBox::NoButton, this);
    QPushButton* end = ask.addButton(QStringLiteral("切断して終了(&D)"), QMessageBox::AcceptRole);
    QPushButton* keep = ask.addButton(round ? QStringLiteral("巡回を続ける(&C)") : QStringLiteral("接続を続ける(&C)"),
                                      QMessageBox::RejectRole);
    ask.setDefaultButton(keep);
    ask.setEscapeButton(keep);
    ask.exec();
    if (ask.clickedButton() != end) return;
    quitAfterPass_ = true;
    if (round) Rounds->StopRound();
    else if (model_.VeskoClient1.SessionRunning()) model_.Policy.SpeedButton1Click(false);
    quitTimer_->start();
    return;
  }
  // FormCloseQuery: every open editor is asked; one that stays keeps the window.
  if (!CloseEditors()) {
    quitAfterPass_ = false;
    e->ignore();
    return;
  }
  // FormClose: a settings file that cannot be written is reported and the
  // window still closes, so that the user can always quit.
  RememberPlace();
  WriteSettingsReporting();
  e->accept();
}

}  // namespace brelo
