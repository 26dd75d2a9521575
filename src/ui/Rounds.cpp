#include "ui/Rounds.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDateTime>
#include <QIcon>
#include <QMenu>
#include <QMessageBox>
#include <QSystemTrayIcon>
#include <QTabWidget>
#include <QTimer>
#include <QToolButton>

#include "common/Sjis.h"
#include "ui/BrowserPage.h"
#include "ui/MainForm.h"
#include "ui/MessageEditor.h"
#include "ui/PatrolDialog.h"
#include "ui/Text.h"

namespace brelo {

TRounds::TRounds(TMainForm& form) : QObject(&form), form_(form), patrol_(form.Model()) {
  // The round moves the selector, which tells the policy: the window shows
  // the host being called.
  patrol_.SelectHost = [this](int host) { form_.HostComboBox->setCurrentIndex(host); };
  patrol_.OnHostStarting = [this](int host) {
    form_.SetStatus(Sjis("巡回中 (") + std::to_string(patrol_.Results().size() + 1) + "/" + std::to_string(total_) +
                    "): " + form_.Model().Hosts.HostTable[static_cast<size_t>(host)].Title);
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

  if (QSystemTrayIcon::isSystemTrayAvailable()) {
    Tray = new QSystemTrayIcon(QApplication::windowIcon(), this);
    TrayMenu = new QMenu(&form_);
    TrayLast = TrayMenu->addAction(QStringLiteral("最後の巡回: まだありません"));
    TrayLast->setEnabled(false);
    TrayNews = TrayMenu->addAction(QString());
    TrayNews->setEnabled(false);
    TrayNews->setVisible(false);
    TrayMenu->addSeparator();
    TrayRead = TrayMenu->addAction(QStringLiteral("新着を読む(&R)"));
    TrayRead->setEnabled(false);
    connect(TrayRead, &QAction::triggered, this, &TRounds::OpenFirstNew);
    QAction* round = TrayMenu->addAction(QStringLiteral("全ホスト巡回(&P)"));
    connect(round, &QAction::triggered, Patrol1, &QAction::trigger);
    connect(TrayMenu, &QMenu::aboutToShow, this, [this, round] { round->setText(Patrol1->text()); });
    QAction* show = TrayMenu->addAction(QStringLiteral("ウィンドウを表示(&W)"));
    connect(show, &QAction::triggered, this, [this] {
      form_.showNormal();
      form_.raise();
      form_.activateWindow();
    });
    TrayMenu->addSeparator();
    QAction* quit = TrayMenu->addAction(QStringLiteral("終了(&X)"));
    connect(quit, &QAction::triggered, &form_, &QWidget::close);
    Tray->setContextMenu(TrayMenu);
    connect(Tray, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason why) {
      if (why != QSystemTrayIcon::Trigger && why != QSystemTrayIcon::DoubleClick) return;
      form_.showNormal();
      form_.raise();
      form_.activateWindow();
    });
    connect(Tray, &QSystemTrayIcon::messageClicked, this, &TRounds::OpenFirstNew);
    UpdateTray();
    Tray->show();
  }

  ScheduleTimer = new QTimer(this);
  ScheduleTimer->setInterval(20 * 1000);
  connect(ScheduleTimer, &QTimer::timeout, this, &TRounds::Tick);
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
  scheduled_ = scheduled;
  before_ = form_.Model().Policy.CurrentHost();
  std::vector<int> hosts;
  for (int i = 0; i < form_.Model().Hosts.HostCount; ++i) hosts.push_back(i);
  Patrol1->setText(QStringLiteral("巡回を止める(&P)"));
  total_ = static_cast<int>(hosts.size());
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
  form_.OptionsChanged();
  // Back to the host the user had, when nothing keeps the selector.
  if (before_ >= 0 && before_ < form_.Model().Hosts.HostCount && !form_.Model().VeskoClient1.SessionRunning()) {
    form_.HostComboBox->setCurrentIndex(before_);
  }
  lastText_ = QLocale().toString(QDateTime::currentDateTime(), QStringLiteral("M/d HH:mm ")) +
              Q(RoundOutcome(last_, patrol_.Stopped()));
  newsText_ = Q(RoundNews(last_)).replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  form_.SetStatus(Sjis("巡回が終わりました: ") + RoundOutcome(last_, patrol_.Stopped()));
  UpdateTray();
  if (!newsText_.isEmpty() && form_.Settings().Patrol.Notify) Notify();
}

void TRounds::UpdateTray() {
  if (Tray == nullptr) return;
  QString tip = QStringLiteral("Brelo");
  if (!lastText_.isEmpty()) {
    TrayLast->setText(QStringLiteral("最後の巡回: ") + lastText_);
    tip += QStringLiteral("\n最後の巡回: ") + lastText_;
  }
  TrayNews->setText(newsText_.isEmpty() ? QString() : newsText_);
  TrayNews->setVisible(!newsText_.isEmpty());
  TrayRead->setEnabled(!newsText_.isEmpty());
  if (!newsText_.isEmpty()) tip += QStringLiteral("\n") + newsText_;
  else if (!lastText_.isEmpty()) tip += QStringLiteral("\n新着はありません");
  const QDateTime next = schedule_.Next();
  if (next.isValid()) tip += QStringLiteral("\n次の巡回: ") + QLocale().toString(next, QStringLiteral("M/d HH:mm"));
  Tray->setToolTip(tip);
}

void TRounds::Notify() {
  if (Tray != nullptr) Tray->showMessage(QStringLiteral("Brelo 巡回"), newsText_, QSystemTrayIcon::Information, 15000);
}

void TRounds::OpenFirstNew() {
  form_.showNormal();
  form_.raise();
  form_.activateWindow();
  for (const TPatrolResult& r : last_) {
    if (r.summary.stored == 0 || r.host >= form_.Model().Hosts.HostCount) continue;
    if (form_.Model().VeskoClient1.SessionRunning() && form_.Model().Policy.CurrentHost() != r.host) return;
    form_.HostComboBox->setCurrentIndex(r.host);
    if (form_.Model().Policy.CurrentHost() != r.host || form_.Model().Policy.HostBusy()) return;
    form_.Pages()->setCurrentIndex(kPageBrowser);
    form_.BrowserPage->NewMode->click();
    form_.Browser().DOWNButtonClick();
    return;
  }
}

}  // namespace brelo
