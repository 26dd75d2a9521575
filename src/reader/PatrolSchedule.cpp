#include "reader/PatrolSchedule.h"

#include <QRegularExpression>
#include <QStringList>
#include <algorithm>
#include <cstdio>

namespace brelo {

std::string TPatrolSettings::TimesText(const std::vector<int>& times) {
  std::string out;
  for (int t : times) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "%02d:%02d", t / 60 % 24, t % 60);
    if (!out.empty()) out += ',';
    out += buf;
  }
  return out;
}

std::optional<std::vector<int>> TPatrolSettings::ParseTimes(const std::string& text) {
  QString s = QString::fromUtf8(text);
  s.replace(QChar(0x3001), QLatin1Char(','));  // 、
  s.replace(QChar(0xFF0C), QLatin1Char(','));  // ，
  s.replace(QChar(0xFF1A), QLatin1Char(':'));  // ：
  std::vector<int> out;
  for (QString part : s.split(QRegularExpression(QStringLiteral("[,\\s]+")), Qt::SkipEmptyParts)) {
    const QStringList hm = part.split(QLatin1Char(':'));
    if (hm.size() != 2) return std::nullopt;
    bool okH = false, okM = false;
    const int h = hm[0].toInt(&okH), m = hm[1].toInt(&okM);
    if (!okH || !okM || h < 0 || h > 23 || m < 0 || m > 59 || hm[0].isEmpty() || hm[1].isEmpty()) return std::nullopt;
    out.push_back(h * 60 + m);
  }
  if (out.empty()) return std::nullopt;
  std::sort(out.begin(), out.end());
  out.erase(std::unique(out.begin(), out.end()), out.end());
  return out;
}

TPatrolSchedule::TPatrolSchedule(TClock clock) : clock_(std::move(clock)) {}

void TPatrolSchedule::Set(const TPatrolSettings& s) {
  settings_ = s;
  settings_.EveryMinutes = std::clamp(settings_.EveryMinutes, 1, 1440);
  next_ = QDateTime();
}

qint64 TPatrolSchedule::PeriodSeconds() const {
  return settings_.AtTimes ? 24 * 3600 : static_cast<qint64>(settings_.EveryMinutes) * 60;
}

QDateTime TPatrolSchedule::StartAfter(const QDateTime& now) const {
  if (!settings_.AtTimes) return now.addSecs(PeriodSeconds());
  // The first of the times strictly after now, today or on a following day.
  for (int day = 0; day <= 2; ++day) {
    const QDate date = now.date().addDays(day);
    for (int t : settings_.Times) {
      const QDateTime at(date, QTime(t / 60, t % 60));
      if (at > now) return at;
    }
  }
  return QDateTime();
}

QDateTime TPatrolSchedule::Next() {
  if (!settings_.Enabled || (settings_.AtTimes && settings_.Times.empty())) return QDateTime();
  const QDateTime now = clock_();
  // Set back: a start further away than one period would come late by as
  // much as the clock went back.
  if (!next_.isValid() || now.secsTo(next_) > PeriodSeconds()) next_ = StartAfter(now);
  return next_;
}

bool TPatrolSchedule::Due() {
  const QDateTime next = Next();
  return next.isValid() && clock_() >= next;
}

void TPatrolSchedule::RoundStarted() { next_ = StartAfter(clock_()); }

}  // namespace brelo
