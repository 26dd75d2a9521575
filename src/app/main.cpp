// Program entry: the command line, the program folder, then either the main
// window or one of the windowless modes.
#include <QApplication>

#include "common/MainThread.h"
#include <QDir>
#include <QFileInfo>
#include <QIcon>
#include <QLocale>
#include <QMessageBox>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "app/CommandLine.h"
#include "app/Pilot.h"
#include "app/Tools.h"
#include "app/ProgramFolder.h"
#include "app/Readme.h"
#include "reader/Settings.h"
#include "common/ErrorDisplay.h"
#include "common/FileUtil.h"
#include "common/Sjis.h"
#include "common/StringLock.h"
#include "ui/MainForm.h"
#include "ui/Translations.h"

namespace {

std::string ExecutableFolder(const char* argv0) {
  QFileInfo exe(QStringLiteral("/proc/self/exe"));
  QString path = exe.exists() ? exe.canonicalFilePath() : QFileInfo(QString::fromLocal8Bit(argv0)).absoluteFilePath();
  return QFileInfo(path).absolutePath().toStdString();
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  brelo::TCommandLine cmd = brelo::ParseCommandLine(args);
  if (!cmd.error.empty()) {
    std::fprintf(stderr, "brelo: %s (brelo --help lists the options)\n", cmd.error.c_str());
    return brelo::kExitUsage;
  }
  if (cmd.action == brelo::TCommandLine::kHelp) {
    std::fputs(brelo::HelpText().c_str(), stdout);
    return brelo::kExitOk;
  }
  if (cmd.action == brelo::TCommandLine::kVersion) {
    std::printf("brelo %s\n", BRELO_VERSION);
    return brelo::kExitOk;
  }
  const bool window = cmd.action == brelo::TCommandLine::kWindow;
  if (window && !cmd.qtPlatformGiven && std::getenv("QT_QPA_PLATFORM") == nullptr &&
      std::getenv("DISPLAY") == nullptr && std::getenv("WAYLAND_DISPLAY") == nullptr) {
    std::fprintf(stderr,
                 "brelo: there is no display here (neither DISPLAY nor WAYLAND_DISPLAY is set), so the window "
                 "cannot open; a pass runs without one: brelo --pilot HOST\n");
    return brelo::kExitNoDisplay;
  }

  // Before anything else runs: the string lock, then the program folder.
  brelo::StringLock();
  const std::string folder = brelo::DetermineProgramFolder(cmd.home, ExecutableFolder(argv[0]));
  brelo::EnsureHostList(folder);

  if (!window) {
    QCoreApplication app(argc, argv);
    brelo::InstallMainThreadQueue();
    switch (cmd.action) {
      case brelo::TCommandLine::kPilot: return brelo::RunPilot(cmd, folder);
      case brelo::TCommandLine::kSearch: return brelo::RunSearch(cmd, folder);
      case brelo::TCommandLine::kRecapture: return brelo::RunRecapture(cmd, folder);
      default: return brelo::RunExport(cmd, folder);
    }
  }

  QApplication app(argc, argv);
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
