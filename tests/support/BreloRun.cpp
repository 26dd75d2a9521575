#include "support/BreloRun.h"

#include <QProcess>

namespace brelo::test {

TRun Brelo(const std::string& home, const QStringList& args, const std::string& input, int limitMs,
           const std::function<void()>& before) {
  QProcess p;
  if (before) p.setChildProcessModifier(before);
  p.start(BRELO_PROGRAM, QStringList{"--home", QString::fromStdString(home)} + args);
  p.write(input.data(), static_cast<qint64>(input.size()));
  p.closeWriteChannel();
  p.waitForFinished(limitMs);
  return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, p.readAllStandardOutput().toStdString(),
          p.readAllStandardError().toStdString()};
}

}  // namespace brelo::test
