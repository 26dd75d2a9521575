// `brelo` without a mode: it starts the window program where a display
// answers, and says in one line why not where none does.
#include <gtest/gtest.h>

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QProcess>
#include <QProcessEnvironment>
#include <algorithm>
#include <atomic>
#include <map>
#include <filesystem>
#include <thread>

#include "support/TempDir.h"

namespace brelo {
namespace {

struct TRun {
  int exit = -1;
  std::string out, err;
};

// Runs program with the display variables given (the others of the test's
// environment stay, Qt's platform choice among them only when given).
TRun Start(const std::string& program, const QStringList& args, const std::map<QString, QString>& display) {
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "QT_LOGGING_RULES"}) env.remove(name);
  for (const auto& [name, value] : display) env.insert(name, value);
  QProcess p;
  p.setProcessEnvironment(env);
  p.start(QString::fromStdString(program), args);
  p.waitForFinished(60000);
  return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, p.readAllStandardOutput().toStdString(),
          p.readAllStandardError().toStdString()};
}

// A TCP port of the loopback from the kernel: listening (a display server
// that answers) or only bound (nobody answers there).
struct TPort {
  explicit TPort(bool listening) {
    fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    socklen_t len = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    port = ntohs(a.sin_port);
    if (listening) {
      EXPECT_EQ(::listen(fd, 4), 0);
    }
  }
  ~TPort() { ::close(fd); }
  // The X display name whose TCP port (6000 + number) this is.
  QString Display() const { return QStringLiteral("127.0.0.1:%1").arg(port - 6000); }
  int fd = -1;
  int port = 0;
};

// A copy of brelo with a stand-in window program beside it, which notes
// its arguments and exits 42.
struct TInstall {
  TInstall() {
    std::filesystem::copy_file(BRELO_PROGRAM, dir.File("brelo"));
    test::WriteBytes(dir.File("brelo-desktop"), "#!/bin/sh\nprintf '%s\\n' \"$@\" > \"$(dirname \"$0\")/args\"\nexit 42\n");
    ::chmod(dir.File("brelo-desktop").c_str(), 0755);
  }
  std::string Brelo() const { return dir.File("brelo"); }
  bool Started() const { return std::filesystem::exists(dir.File("args")); }
  test::TTempDir dir;
};

TEST(WindowStart, TheWindowProgramGetsTheSameArgumentsWhereADisplayAnswers) {
  TInstall install;
  TPort x(true);
  TRun r = Start(install.Brelo(), {"--home", "/some where"}, {{"DISPLAY", x.Display()}});
  EXPECT_EQ(r.exit, 42) << r.err;  // its status is brelo's
  EXPECT_EQ(test::ReadBytes(install.dir.File("args")), "--home\n/some where\n");
  // Qt told to draw elsewhere needs no display server.
  std::filesystem::remove(install.dir.File("args"));
  r = Start(install.Brelo(), {"-platform", "offscreen"}, {});
  EXPECT_EQ(r.exit, 42) << r.err;
  EXPECT_EQ(test::ReadBytes(install.dir.File("args")), "-platform\noffscreen\n");
}

TEST(WindowStart, WithoutADisplayOneLineAndStatusEight) {
  TInstall install;
  TRun r = Start(install.Brelo(), {}, {});
  EXPECT_EQ(r.exit, 8);
  EXPECT_EQ(r.err, "brelo: there is no display here (neither DISPLAY nor WAYLAND_DISPLAY is set), so the window "
                   "cannot open; a pass runs without one: brelo --pilot HOST\n");
  TPort nobody(false);
  r = Start(install.Brelo(), {}, {{"DISPLAY", nobody.Display()}, {"QT_QPA_PLATFORM", "xcb"}});
  EXPECT_EQ(r.exit, 8);
  EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
  EXPECT_NE(r.err.find("DISPLAY=" + nobody.Display().toStdString() + " (Connection refused)"), std::string::npos)
      << r.err;
  r = Start(install.Brelo(), {}, {{"DISPLAY", "no display name"}, {"WAYLAND_DISPLAY", "wayland-nowhere"}});
  EXPECT_EQ(r.exit, 8);
  EXPECT_NE(r.err.find("WAYLAND_DISPLAY=wayland-nowhere ("), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("DISPLAY=no display name (not a display name)"), std::string::npos) << r.err;
  EXPECT_FALSE(install.Started());
  EXPECT_EQ(r.out, "");
  // The modes never need it.
  r = Start(install.Brelo(), {"--version"}, {});
  EXPECT_EQ(r.exit, 0);
}

TEST(WindowStart, WithoutTheWindowProgramOneLineAndStatusEight) {
  test::TTempDir dir;
  std::filesystem::copy_file(BRELO_PROGRAM, dir.File("brelo"));
  TRun r = Start(dir.File("brelo"), {"-platform", "offscreen"}, {});
  if (std::filesystem::exists("/usr/lib/brelo/brelo-desktop") || std::filesystem::exists("/usr/local/lib/brelo/brelo-desktop")) {
    GTEST_SKIP() << "an installed window program stands in";
  }
  EXPECT_EQ(r.exit, 8);
  EXPECT_NE(r.err.find("brelo-desktop is not installed"), std::string::npos) << r.err;
}

#ifdef BRELO_DESKTOP_PROGRAM
TEST(WindowStart, ADisplayServerThatRefusesTheWindowIsOneLineAndStatusEight) {
  // Something answers on the display's port but hangs up at once: the window
  // program's own check passes, and Qt's display connection then fails.
  TPort x(true);
  std::atomic<bool> done{false};
  std::thread server([&] {
    for (int i = 0; i < 600 && !done; ++i) {
      pollfd p{x.fd, POLLIN, 0};
      if (::poll(&p, 1, 100) == 1) ::close(::accept(x.fd, nullptr, nullptr));
    }
  });
  test::TTempDir home;
  TRun r = Start(BRELO_DESKTOP_PROGRAM, {"--home", QString::fromStdString(home.Path())}, {{"DISPLAY", x.Display()}});
  done = true;
  server.join();
  EXPECT_EQ(r.exit, 8) << r.err;
  EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
  EXPECT_EQ(r.err.rfind("brelo: the window cannot open: no display server took it", 0), 0u) << r.err;
}
#endif

}  // namespace
}  // namespace brelo
