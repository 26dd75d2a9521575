// The window's rounds: アクション → "全ホスト巡回", the schedule of
// 設定 → "自動巡回", the tray icon with the last round, and the notification
// of what a round brought.
#pragma once

#include <QObject>
#include <QString>
#include <memory>

#include "reader/Patrol.h"
#include "reader/PatrolSchedule.h"

class QAction;
class QMenu;
class QSystemTrayIcon;
class QTimer;

namespace brelo {

class TMainForm;
class TPatrolDialog;

class TRounds : public QObject {
  Q_OBJECT
 public:
  explicit TRounds(TMainForm& form);
  ~TRounds() override;

  QAction* Patrol1 = nullptr;          // アクション → 全ホスト巡回 / 巡回を止める
  QAction* PatrolSettings1 = nullptr;  // 設定 → 自動巡回
  TPatrolDialog* PatrolDialog = nullptr;
  QSystemTrayIcon* Tray = nullptr;     // when the desktop has a tray
  QMenu* TrayMenu = nullptr;
  QAction* TrayLast = nullptr;         // the last round, as words
  QAction* TrayNews = nullptr;         // what it brought
  QAction* TrayRead = nullptr;         // 新着を読む
  QTimer* ScheduleTimer = nullptr;

  // Why a round may not start now ("" when it may): the user is connected,
  // an editor is open, there is no host.
  QString WhyNotNow() const;
  // Starts a round of every host; a round asked for by the user says why it
  // cannot start.
  bool StartRound(bool scheduled);
  void StopRound();
  bool Running() const { return patrol_.Running(); }
  // The schedule's timer: starts the round that is due, when it may.
  void Tick();
  // The browser on the first new article of the last round.
  void OpenFirstNew();
  // After the settings changed.
  void ApplySettings();
  TPatrolSchedule& Schedule() { return schedule_; }
  const std::vector<TPatrolResult>& LastResults() const { return last_; }
  QString LastRoundText() const { return lastText_; }
  QString NewsText() const { return newsText_; }
  int PerHostTimeoutSeconds() const { return patrol_.TimeoutSeconds; }
  void SetPerHostTimeoutSeconds(int s) { patrol_.TimeoutSeconds = s; }

 private:
  void Finished();
  void UpdateTray();
  void Notify();

  TMainForm& form_;
  TPatrol patrol_;
  TPatrolSchedule schedule_;
  int before_ = -1;  // the host selected before the round
  bool scheduled_ = false;
  int total_ = 0;
  std::vector<TPatrolResult> last_;
  QString lastText_;
  QString newsText_;
};

}  // namespace brelo
