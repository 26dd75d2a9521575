#include "ui/Rounds.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDateTime>
#include <QFontMetrics>
#include <QIcon>
#include <QMenu>
#include <QMessageBox>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QTabWidget>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>

#include "common/Sjis.h"
#include "ui/BrowserPage.h"
#include "ui/MainForm.h"
#include "ui/MessageEditor.h"
#include "ui/NewsDialog.h"
#include "ui/PatrolDialog.h"
#include "ui/Text.h"

namespace brelo {

TRounds::TRounds(TMainForm& form) : QObject(&form), form_(form), patrol_(form.Model()) {
  // The round selects each host in the policy alone: the selector, the
  // browser and the pages stay the user's.
  patrol_.KeepNews = true;
  patrol_.OnHostStarting = [this](int host) {
    // The host starting has its result entry already.
    progress_ = QStringLiteral("巡回中 (%1/%2): %3")
                    .arg(patrol_.Results().size())
                    .arg(total_)
                    .arg(Q(form_.Model().Hosts.HostTable[static_cast<size_t>(host)].Title));
    form_.SetStatus(std::string());
    UpdateTray();
  };
  patrol_.OnHostDone = [this](const TPatrolResult& r) {
    if (r.status == kExitBusy) form_.SetStatus(r.problem);
  };
  patrol_.OnFinished = [this] { Finished(); };

  Patrol1 = form_.ActionMenu->addAction(QStringLiteral("全ホスト巡回(&P)"));
  Patrol1->setShortcutContext(Qt::WindowShortcut);
  connect(Patrol1, &QAction::triggered, this, [this] {
    if (patrol_.Running()) StopRound();
    else StartRound(false);
  });
  PatrolSettings1 = form_.SettingsMenu->addAction(QStringLiteral("自動巡回(&P)..."));
  connect(PatrolSettings1, &QAction::triggered, this, [this] {
    if (PatrolDialog == nullptr) PatrolDialog = new TPatrolDialog(&form_);
    PatrolDialog->Load(form_.MutableSettings().Patrol);
    if (PatrolDialog->exec() != QDialog::Accepted) return;
    if (auto s = PatrolDialog->Result()) {
      form_.MutableSettings().Patrol = *s;
      form_.SaveSettings();
      ApplySettings();
    }
  });
  News1 = form_.JumpMenu->addAction(QStringLiteral("新着一覧(&N)..."));
  News1->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_N));
  News1->setShortcutContext(Qt::WindowShortcut);
  connect(News1, &QAction::triggered, this, &TRounds::ShowNewsList);

  if (QSystemTrayIcon::isSystemTrayAvailable()) {
    Tray = new QSystemTrayIcon(QApplication::windowIcon(), this);
    TrayMenu = new QMenu(&form_);
    TrayLast = TrayMenu->addAction(QStringLiteral("最後の巡回: まだありません"));
    TrayLast->setEnabled(false);
    TrayMenu->addSeparator();
    TrayRead = TrayMenu->addAction(QStringLiteral("新着一覧(&N)..."));
    connect(TrayRead, &QAction::triggered, this, &TRounds::ShowNewsList);
    QAction* round = TrayMenu->addAction(QStringLiteral("全ホスト巡回(&P)"));
    connect(round, &QAction::triggered, Patrol1, &QAction::trigger);
    connect(TrayMenu, &QMenu::aboutToShow, this, [this, round] { round->setText(Patrol1->text()); });
    QAction* show = TrayMenu->addAction(QStringLiteral("ウィンドウを表示(&W)"));
    connect(show, &QAction::triggered, this, &TRounds::ShowWindow);
    TrayMenu->addSeparator();
    QAction* quit = TrayMenu->addAction(QStringLiteral("終了(&X)"));
    connect(quit, &QAction::triggered, &form_, &QWidget::close);
    Tray->setContextMenu(TrayMenu);
    connect(Tray, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason why) {
      if (why == QSystemTrayIcon::Trigger || why == QSystemTrayIcon::DoubleClick) ShowNewsList();
    });
    connect(Tray, &QSystemTrayIcon::messageClicked, this, &TRounds::ShowNewsList);
    Tray->show();
  }

  newsTimer_ = new QTimer(this);
  newsTimer_->setSingleShot(true);
  newsTimer_->setInterval(300);
  connect(newsTimer_, &QTimer::timeout, this, &TRounds::RefreshNews);
  ScheduleTimer = new QTimer(this);
  ScheduleTimer->setInterval(20 * 1000);
  connect(ScheduleTimer, &QTimer::timeout, this, &TRounds::Tick);
  RefreshNews();  // what earlier rounds brought and nobody read yet
  ApplySettings();
}

TRounds::~TRounds() = default;

void TRounds::ApplySettings() {
  schedule_.Set(form_.Settings().Patrol);
  if (schedule_.Next().isValid()) ScheduleTimer->start();
  else ScheduleTimer->stop();
  UpdateTray();
}

QString TRounds::WhyNotNow() const {
  if (form_.Model().Hosts.HostCount == 0) return QStringLiteral("ホストがありません。");
  if (form_.Model().VeskoClient1.SessionRunning()) return QStringLiteral("接続中は巡回しません。");
  if (!form_.Editors().empty()) return QStringLiteral("エディタを開いているあいだは巡回しません。");
  return QString();
}

bool TRounds::StartRound(bool scheduled) {
  if (patrol_.Running()) return false;
  const QString why = WhyNotNow();
  if (!why.isEmpty()) {
    if (!scheduled) QMessageBox::information(&form_, QStringLiteral("全ホスト巡回"), why);
    return false;
  }
  before_ = form_.Model().Policy.CurrentHost();
  std::vector<int> hosts;
  for (int i = 0; i < form_.Model().Hosts.HostCount; ++i) hosts.push_back(i);
  Patrol1->setText(QStringLiteral("巡回を止める(&P)"));
  total_ = static_cast<int>(hosts.size());
  keeping_ = true;
  form_.RoundBegins();
  patrol_.Start(hosts);
  return true;
}

void TRounds::StopRound() {
  if (!patrol_.Running()) return;
  form_.SetStatus(Sjis("巡回を止めています..."));
  patrol_.Stop();
}

void TRounds::Tick() {
  if (patrol_.Running() || !schedule_.Due()) return;
  // Never over the user's work: a dialog, a session, an editor. The round
  // stays due and starts at the first tick they allow.
  if (QApplication::activeModalWidget() != nullptr || !WhyNotNow().isEmpty()) return;
  schedule_.RoundStarted();
  StartRound(true);
  UpdateTray();
}

void TRounds::Finished() {
  Patrol1->setText(QStringLiteral("全ホスト巡回(&P)"));
  last_ = patrol_.Results();
  progress_.clear();
  // Back on the host the user had, in the policy: the browser keeps its place.
  TSessionPolicy& policy = form_.Model().Policy;
  if (before_ < form_.Model().Hosts.HostCount && !form_.Model().VeskoClient1.SessionRunning()) {
    policy.HostComboBoxChange(before_);
  }
  keeping_ = false;
  form_.RoundEnds();
  form_.OptionsChanged();
  const std::string outcome = RoundOutcome(last_, patrol_.Stopped());
  lastText_ = QLocale().toString(QDateTime::currentDateTime(), QStringLiteral("M/d HH:mm ")) + Q(outcome);
  failures_.clear();
  for (const std::string& line : FailureLines(last_)) failures_ << Q(line);
  form_.SetStatus(Sjis("巡回が終わりました: ") + outcome +
                  (failures_.isEmpty() ? std::string() : Sjis("  ") + FailureLines(last_).front()));
  RefreshNews();
  bool brought = false;
  for (const TPatrolResult& r : last_) brought = brought || r.summary.stored > 0;
  if (brought && !newsText_.isEmpty() && form_.Settings().Patrol.Notify) Notify();
}

void TRounds::NewsMayHaveChanged() { newsTimer_->start(); }

void TRounds::RefreshNews() {
  newsTimer_->stop();
  news_.clear();
  const THostTable& hosts = form_.Model().Hosts;
  for (int i = 0; i < hosts.HostCount; ++i) {
    news_.push_back(CollectNews(i, hosts.HostTable[static_cast<size_t>(i)].Title, form_.Model().Policy.FolderOf(i)));
  }
  newsText_ = Q(brelo::NewsText(news_));
  UpdateTray();
  if (NewsDialog != nullptr && NewsDialog->isVisible()) NewsDialog->Show(news_);
}

QStringList TRounds::TrayLines() const {
  QStringList lines;
  for (const QString& l : newsText_.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) lines << l;
  for (const QString& f : failures_) lines << f;
  // Within the screen: a long title or reason is cut, never the menu widened.
  const QScreen* s = QGuiApplication::primaryScreen();
  const int room = s != nullptr ? std::min(s->availableGeometry().width() / 2, 640) : 480;
  const QFontMetrics fm(TrayMenu != nullptr ? TrayMenu->font() : QApplication::font());
  for (QString& l : lines) l = fm.elidedText(l, Qt::ElideRight, room);
  return lines;
}

void TRounds::UpdateTray() {
  QString tip = QStringLiteral("Brelo");
  if (!progress_.isEmpty()) tip += QStringLiteral("\n") + progress_;
  tip += QStringLiteral("\n") + (newsText_.isEmpty() ? QStringLiteral("新着はありません") : newsText_);
  if (!lastText_.isEmpty()) tip += QStringLiteral("\n最後の巡回: ") + lastText_;
  for (const QString& f : failures_) tip += QStringLiteral("\n") + f;
  const QDateTime next = schedule_.Next();
  if (next.isValid()) tip += QStringLiteral("\n次の巡回: ") + QLocale().toString(next, QStringLiteral("M/d HH:mm"));
  tip_ = tip;
  if (Tray == nullptr) return;
  if (!lastText_.isEmpty()) TrayLast->setText(QStringLiteral("最後の巡回: ") + lastText_);
  for (QAction* a : trayLines_) {
    TrayMenu->removeAction(a);
    a->deleteLater();
  }
  trayLines_.clear();
  for (const QString& l : TrayLines()) {
    auto* a = new QAction(l, TrayMenu);
    a->setEnabled(false);
    TrayMenu->insertAction(TrayRead, a);
    trayLines_.push_back(a);
  }
  Tray->setToolTip(tip);
}

void TRounds::Notify() {
  balloon_ = newsText_;
  if (Tray != nullptr) Tray->showMessage(QStringLiteral("Brelo 巡回"), balloon_, QSystemTrayIcon::Information, 15000);
}

void TRounds::ShowWindow() {
  form_.showNormal();
  form_.raise();
  form_.activateWindow();
}

void TRounds::ShowNewsList() {
  ShowWindow();
  if (NewsDialog == nullptr) {
    NewsDialog = new TNewsDialog(&form_);
    NewsDialog->OnOpen = [this](int host, int board, int indexNo) { OpenNews(host, board, indexNo); };
    NewsDialog->OnClear = [this] { ClearNews(); };
  }
  RefreshNews();
  NewsDialog->Show(news_);
  NewsDialog->show();
  NewsDialog->raise();
  NewsDialog->activateWindow();
}

void TRounds::ClearNews() {
  if (QMessageBox::question(NewsDialog, QStringLiteral("新着一覧"),
                            QStringLiteral("新着一覧を空にします。記事は未読のまま残ります。よろしいですか?")) !=
      QMessageBox::Yes) {
    return;
  }
  // What is listed now, as the user saw it: news a pass brings meanwhile stays.
  QStringList problems;
  for (const THostNews& h : news_) {
    if (h.Empty()) continue;
    if (const std::string why = ClearNewsList(h); !why.empty()) problems << Q(why);
  }
  RefreshNews();
  if (!problems.isEmpty()) QMessageBox::critical(NewsDialog, QStringLiteral("エラー"), problems.join(QLatin1Char('\n')));
}

void TRounds::OpenNews(int host, int board, int indexNo) {
  TMainModel& m = form_.Model();
  if (host < 0 || host >= m.Hosts.HostCount) return;
  if (m.Policy.FolderOf(host) != form_.ReadingFolder()) {
    if (patrol_.Running() || m.VeskoClient1.SessionRunning()) {
      QMessageBox::information(NewsDialog, QStringLiteral("新着一覧"),
                               QStringLiteral("巡回中や接続中は、ほかのホストの記事は開けません。終わってからどうぞ。"));
      return;
    }
    form_.HostComboBox->setCurrentIndex(host);
    if (m.Policy.CurrentHost() != host || m.Policy.HostBusy()) return;
  }
  form_.Pages()->setCurrentIndex(kPageBrowser);
  form_.Browser().OpenStored(board, indexNo);
  ShowWindow();
  NewsMayHaveChanged();
}

}  // namespace brelo
