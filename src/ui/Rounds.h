// The window's rounds: アクション → "全ホスト巡回", the schedule of
// 設定 → "自動巡回", the tray icon, and the news they bring.
//
// A round never takes the window from the user: the page, the board, the
// article and its scroll stay as they are, the host selector keeps the
// host being read, and the terminal page fills in the background; the
// status line and the tray tell how far the round is. What a round brings
// waits until it is read: the new marks of earlier rounds stay, and the
// tray counts every host's unread news, which 新着一覧 lists.
#pragma once

#include <QObject>
#include <QString>
#include <memory>
#include <vector>

#include "reader/News.h"
#include "reader/Patrol.h"
#include "reader/PatrolSchedule.h"

class QAction;
class QMenu;
class QSystemTrayIcon;
class QTimer;

namespace brelo {

class TMainForm;
class TNewsDialog;
class TPatrolDialog;

class TRounds : public QObject {
  Q_OBJECT
 public:
  explicit TRounds(TMainForm& form);
  ~TRounds() override;

  QAction* Patrol1 = nullptr;          // アクション → 全ホスト巡回 / 巡回を止める
  QAction* PatrolSettings1 = nullptr;  // 設定 → 自動巡回
  QAction* News1 = nullptr;            // ｼﾞｬﾝﾌﾟ → 新着一覧
  TPatrolDialog* PatrolDialog = nullptr;
  TNewsDialog* NewsDialog = nullptr;   // made when first shown
  QSystemTrayIcon* Tray = nullptr;     // when the desktop has a tray
  QMenu* TrayMenu = nullptr;
  QAction* TrayLast = nullptr;         // the last round, as words
  QAction* TrayRead = nullptr;         // 新着一覧
  QTimer* ScheduleTimer = nullptr;

  // Why a round may not start now ("" when it may): the user is connected,
  // an editor is open, there is no host.
  QString WhyNotNow() const;
  // Starts a round of every host; a round asked for by the user says why it
  // cannot start.
  bool StartRound(bool scheduled);
  void StopRound();
  bool Running() const { return patrol_.Running(); }
  // From the start of a round until the window is back on the user's host:
  // the window keeps the user's place.
  bool KeepingPlace() const { return keeping_; }
  // "巡回中 (2/3): 大きな局" while a round runs, "" otherwise.
  QString ProgressText() const { return progress_; }
  // The schedule's timer: starts the round that is due, when it may.
  void Tick();
  // 新着一覧, shown and brought up to date.
  void ShowNewsList();
  // Opens an article of the news in the browser (the host selected first,
  // when that may be done now).
  void OpenNews(int host, int board, int indexNo);
  // 一覧をクリア: after the user says yes, what the list shows leaves it.
  void ClearNews();
  // The news is read again from the hosts' files soon (a pass, the reading).
  void NewsMayHaveChanged();
  void RefreshNews();
  // After the settings changed.
  void ApplySettings();
  TPatrolSchedule& Schedule() { return schedule_; }
  const std::vector<TPatrolResult>& LastResults() const { return last_; }
  const std::vector<THostNews>& News() const { return news_; }
  QString LastRoundText() const { return lastText_; }
  // Every host's unread news, a line each ("" when there is none).
  QString NewsText() const { return newsText_; }
  // The failed hosts of the last round with their reasons, a line each.
  QStringList FailureTexts() const { return failures_; }
  // What the tray icon's tooltip says, and the last balloon (kept also
  // where the desktop has no tray).
  QString TrayTip() const { return tip_; }
  QString LastBalloon() const { return balloon_; }
  // The lines of the tray menu above its commands, cut to the screen.
  QStringList TrayLines() const;
  int PerHostTimeoutSeconds() const { return patrol_.TimeoutSeconds; }
  void SetPerHostTimeoutSeconds(int s) { patrol_.TimeoutSeconds = s; }

 private:
  void Finished();
  void UpdateTray();
  void Notify();
  void ShowWindow();

  TMainForm& form_;
  TPatrol patrol_;
  TPatrolSchedule schedule_;
  int before_ = -1;  // the host selected before the round
  bool keeping_ = false;
  int total_ = 0;
  std::vector<TPatrolResult> last_;
  std::vector<THostNews> news_;
  QString lastText_;
  QString newsText_;
  QString progress_;
  QString tip_;
  QString balloon_;
  QStringList failures_;
  std::vector<QAction*> trayLines_;
  QTimer* newsTimer_ = nullptr;
};

}  // namespace brelo
