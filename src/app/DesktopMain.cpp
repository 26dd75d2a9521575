// The window program, brelo-desktop: `brelo` without a mode starts it with
// the same arguments. The windowless modes are the command-line program's.
#include <QApplication>

#include <QIcon>
#include <QLocale>
#include <QMessageBox>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

#include "app/CommandLine.h"
#include "app/Display.h"
#include "app/ProgramFolder.h"
#include "app/Readme.h"
#include "common/ErrorDisplay.h"
#include "common/MainThread.h"
#include "common/Programs.h"
#include "common/Sjis.h"
#include "common/StringLock.h"
#include "reader/Patrol.h"
#include "reader/Settings.h"
#include "ui/MainForm.h"
#include "ui/Translations.h"

namespace {

// Until the application stands, Qt's platform messages are held back: when
// no display server takes the window after all (one that refuses us, a
// plugin that fails), one line and exit status 8 say so, not Qt's abort.
bool g_starting = true;
std::string g_held;

void StartMessages(QtMsgType type, const QMessageLogContext& context, const QString& text) {
  const std::string line = text.toStdString();
  if (g_starting && type == QtFatalMsg) {
    std::fprintf(stderr, "brelo: the window cannot open: no display server took it (%s)\n",
                 g_held.empty() ? "the platform plugin failed" : g_held.c_str());
    std::fflush(stderr);
    ::_exit(brelo::kExitNoDisplay);
  }
  if (g_starting && context.category != nullptr && std::strncmp(context.category, "qt.qpa", 6) == 0) {
    g_held += (g_held.empty() ? "" : "; ") + line;
    return;
  }
  std::fprintf(stderr, "%s\n", qFormatLogMessage(type, context, text).toLocal8Bit().constData());
  if (type == QtFatalMsg) std::abort();
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  brelo::TCommandLine cmd = brelo::ParseCommandLine(args);
  if (int status = 0; brelo::AnswerAtOnce(cmd, status)) return status;
  if (cmd.action != brelo::TCommandLine::kWindow) {
    std::fprintf(stderr, "brelo-desktop: this program opens the window; the other modes are brelo's (brelo --help)\n");
    return brelo::kExitUsage;
  }
  if (const std::string problem = brelo::DisplayProblem(cmd); !problem.empty()) {
    std::fprintf(stderr, "brelo: %s\n", problem.c_str());
    return brelo::kExitNoDisplay;
  }

  // Before anything else runs: the string lock, then the program folder.
  brelo::StringLock();
  const std::string folder = brelo::DetermineProgramFolder(cmd.home, brelo::ExecutableFolder());
  brelo::EnsureHostList(folder);

  qInstallMessageHandler(StartMessages);
  QApplication app(argc, argv);
  g_starting = false;
  if (!g_held.empty()) std::fprintf(stderr, "%s\n", g_held.c_str());
  qInstallMessageHandler(nullptr);
  // The desktop matches the window to io.github.brelo.Brelo.desktop.
  QGuiApplication::setDesktopFileName(QStringLiteral("io.github.brelo.Brelo"));
  QIcon icon;
  for (int size : {16, 32, 48, 64, 128, 256}) icon.addFile(QStringLiteral(":/icons/%1.png").arg(size));
  QApplication::setWindowIcon(icon);
  brelo::InstallMainThreadQueue();
  brelo::InstallJapaneseTranslations(app);
  // Without a locale of its own the system reads dates the Japanese way.
  if (QLocale::system().language() == QLocale::C) QLocale::setDefault(QLocale(QLocale::Japanese, QLocale::Japan));
  brelo::EnsureReadme(folder);
  brelo::SetErrorDisplay([](const std::string& sjis) {
    // Errors of threads without a caller (the serial watch thread).
    brelo::PostToMain([sjis] {
      QMessageBox::critical(nullptr, QStringLiteral("エラー"), brelo::SjisToQString(sjis));
    });
  });
  brelo::TAppSettings settings;
  settings.Read(folder);
  brelo::TMainForm form(folder, settings);
  form.show();
  return app.exec();
}
