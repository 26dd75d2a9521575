// When the window makes its rounds of every host by itself: every N minutes,
// or at given times of day. Display-free, with the clock handed in, so that
// midnight and a clock set back or forward can be tried.
#pragma once

#include <QDateTime>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace brelo {

// The section "Patrol" of Brelo_V3.ini.
struct TPatrolSettings {
  bool Enabled = false;        // rounds on a schedule at all
  bool AtTimes = false;        // at Times; otherwise every EveryMinutes
  int EveryMinutes = 60;       // 1 to 1440
  std::vector<int> Times;      // minutes after midnight, ascending, no repeats
  bool Notify = true;          // a desktop notification when a round brought something

  bool operator==(const TPatrolSettings&) const = default;

  // "06:00,22:30" and back. Parse accepts blanks, commas or Japanese
  // commas between the times and "6:5"; nullopt names no valid time list.
  static std::string TimesText(const std::vector<int>& times);
  static std::optional<std::vector<int>> ParseTimes(const std::string& text);
};

class TPatrolSchedule {
 public:
  using TClock = std::function<QDateTime()>;
  explicit TPatrolSchedule(TClock clock = [] { return QDateTime::currentDateTime(); });

  void Set(const TPatrolSettings& s);  // the next start is computed afresh
  void SetClock(TClock clock) {
    clock_ = std::move(clock);
    next_ = QDateTime();
  }
  const TPatrolSettings& Settings() const { return settings_; }

  // True when a round is due now. Asked again and again (a timer); stays true
  // until RoundStarted, so a round held back (the user is connected, an
  // editor is open) starts as soon as it may. A clock set forward past the
  // start gives one round, not one for each start missed; a clock set back
  // moves the start back with it.
  bool Due();
  void RoundStarted();
  // The next start (invalid when rounds are off).
  QDateTime Next();

 private:
  QDateTime StartAfter(const QDateTime& now) const;
  qint64 PeriodSeconds() const;

  TClock clock_;
  TPatrolSettings settings_;
  QDateTime next_;
};

}  // namespace brelo
