// Receive throughput over SSH: OpenSSH's sshd on a loopback port (one sshd
// per caller, as inetd starts it, configured in a folder of the benchmark's
// own) runs the demo host, which floods the line with numbered Shift-JIS
// lines and hangs up. Brelo's session calls it (its connector, libssh, a
// terminal, the channel into the receive path, every line consumed by the
// work thread) and is timed from the call to the line's end; the baseline
// is OpenSSH's own client reading the same flood from the same sshd, with a
// terminal as Brelo asks for one, into /dev/null, timed from its start to
// its exit. Both sides pay the handshake and the login once per round.
// A round measures the two one right after the other, in turn the client
// first and Brelo first; a first round is not counted.
//
// Options: LINES (default 1000000, some 52 MB); --rounds N.
#include <QCoreApplication>
#include <QTimer>

#include <fcntl.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "BenchUtil.h"
#include "common/MainThread.h"
#include "common/Sjis.h"
#include "session/VeskoClient.h"

extern char** environ;

using namespace brelo;

namespace {

constexpr const char* kSshd = "/usr/sbin/sshd";
constexpr const char* kSsh = "/usr/bin/ssh";
constexpr int kMeasureLimitMs = 120000;

std::string ReadFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

bool Run(const std::vector<std::string>& args) { return bench::RunQuietly(args); }

// sshd for each caller on a loopback port, the demo host's flood behind it.
class TSshd {
 public:
  explicit TSshd(long lines) {
    dir_ = bench::TempFolder("sshd");
    if (::geteuid() == 0) ::mkdir("/run/sshd", 0755);  // a root sshd's privilege separation folder
    for (const char* key : {"host_key", "client_key"}) {
      if (!Run({"/usr/bin/ssh-keygen", "-q", "-t", "ed25519", "-N", "", "-f", dir_ + "/" + key})) std::exit(1);
    }
    std::ofstream(dir_ + "/authorized_keys") << ReadFile(dir_ + "/client_key.pub");
    std::ofstream(dir_ + "/sshd_config")
        << "HostKey " << dir_ << "/host_key\n"
        << "AuthorizedKeysFile " << dir_ << "/authorized_keys\n"
        << "StrictModes no\nUsePAM no\nPasswordAuthentication no\nKbdInteractiveAuthentication no\n"
        << "PermitRootLogin prohibit-password\nPrintMotd no\nPrintLastLog no\nUseDNS no\nPidFile none\n"
        // No startup file of the account's shell holds the command up.
        << "SetEnv SHLVL=1\n"
        << "ForceCommand " << BRELO_DEMOHOST << " --stdio --data " << dir_ << "/data --flood " << lines
        << " --flood-only\n";
    ::mkdir((dir_ + "/data").c_str(), 0755);
    listen_ = bench::ListenLoopback(port_);
    const std::string line = ReadFile(dir_ + "/host_key.pub");
    std::ofstream(dir_ + "/known_hosts") << "[127.0.0.1]:" << port_ << " " << line.substr(0, line.rfind(' ')) << "\n";
    thread_ = std::thread([this] { Serve(); });
  }
  ~TSshd() {
    stop_ = true;
    thread_.join();
    ::close(listen_);
    for (const int pid : pids_) {
      ::kill(pid, SIGTERM);
      ::waitpid(pid, nullptr, 0);
    }
    if (std::system(("rm -rf '" + dir_ + "'").c_str()) != 0) return;
  }
  int Port() const { return port_; }
  std::string Folder() const { return dir_; }

 private:
  void Serve() {
    const std::string config = dir_ + "/sshd_config";
    while (!stop_) {
      pollfd p{listen_, POLLIN, 0};
      if (::poll(&p, 1, 100) <= 0) continue;
      const int c = ::accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
      if (c < 0) continue;
      const char* argv[] = {"sshd", "-i", "-f", config.c_str(), nullptr};
      posix_spawn_file_actions_t fa;
      posix_spawn_file_actions_init(&fa);
      posix_spawn_file_actions_adddup2(&fa, c, 0);
      posix_spawn_file_actions_adddup2(&fa, c, 1);
      posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
      pid_t pid = -1;
      if (::posix_spawn(&pid, kSshd, &fa, nullptr, const_cast<char**>(argv), environ) == 0) pids_.push_back(pid);
      posix_spawn_file_actions_destroy(&fa);
      ::close(c);
      // The sshd of a caller that has gone is not left behind.
      for (auto it = pids_.begin(); it != pids_.end();) {
        it = ::waitpid(*it, nullptr, WNOHANG) == *it ? pids_.erase(it) : it + 1;
      }
    }
  }
  std::string dir_;
  int listen_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::vector<int> pids_;  // the serving thread's until it is joined
  std::thread thread_;
};

std::string UserName() {
  const passwd* pw = ::getpwuid(::geteuid());
  return pw != nullptr ? pw->pw_name : "root";
}

// OpenSSH's client: seconds from its start to its exit, 0 when it failed.
double OpenSsh(const TSshd& sshd) {
  const double t0 = bench::Seconds();
  const bool ok = Run({kSsh, "-F", "/dev/null", "-q", "-n", "-tt", "-p", std::to_string(sshd.Port()), "-i",
                       sshd.Folder() + "/client_key", "-o", "IdentitiesOnly=yes", "-o", "BatchMode=yes", "-o",
                       "StrictHostKeyChecking=yes", "-o", "UserKnownHostsFile=" + sshd.Folder() + "/known_hosts", "-o",
                       "GlobalKnownHostsFile=/dev/null", UserName() + "@127.0.0.1"});
  return ok ? bench::Seconds() - t0 : 0;
}

// Brelo's session: seconds from the call to the line's end, 0 when it
// failed or did not take every line.
double Brelo(const TSshd& sshd, long lines) {
  TVeskoClient c;
  c.Address = "ssh://" + UserName() + "@127.0.0.1:" + std::to_string(sshd.Port()) + "/";
  c.SshKey = sshd.Folder() + "/client_key";
  c.SshKnownHosts = sshd.Folder() + "/known_hosts";
  c.SshUserFolder = sshd.Folder() + "/none/";
  c.SshAgentSocket.clear();
  c.TerminalType = "xterm";
  double t1 = 0;
  const std::string lost = Sjis("接続が切れました");
  c.OnStatusOut = [&](TVeskoClient*, const std::string& s) {
    if (t1 == 0 && s.find(lost) != std::string::npos) {
      t1 = bench::Seconds();
      QCoreApplication::quit();
    }
  };
  QTimer limit;
  limit.setSingleShot(true);
  QObject::connect(&limit, &QTimer::timeout, [] { QCoreApplication::quit(); });
  limit.start(kMeasureLimitMs);
  const double t0 = bench::Seconds();
  c.Connect();
  QCoreApplication::exec();
  // The work thread takes what arrived before the end, then the session is over.
  for (const double end = bench::Seconds() + 10; c.SessionRunning() && bench::Seconds() < end;) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  }
  if (t1 == 0) {
    std::fprintf(stderr, "ssh_bench: the line did not end within %d s\n", kMeasureLimitMs / 1000);
    return 0;
  }
  if (c.Ring().TakenCount() < static_cast<unsigned long long>(lines)) {
    std::fprintf(stderr, "ssh_bench: lines taken: %llu of %ld\n", c.Ring().TakenCount(), lines);
    return 0;
  }
  return t1 - t0;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  brelo::InstallMainThreadQueue();
  long lines = 1000000;
  int rounds = 0;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--rounds") == 0 && i + 1 < argc) rounds = std::atoi(argv[++i]);
    else lines = std::atol(argv[i]);
  }
  if (::access(kSshd, X_OK) != 0 || ::access(kSsh, X_OK) != 0) {
    std::fprintf(stderr, "ssh_bench: %s and %s are needed (openssh-server, openssh-client)\n", kSshd, kSsh);
    return 1;
  }
  TSshd sshd(lines);
  // At least five rounds after the first; more while a minute lasts.
  bench::TRoundBudget budget(rounds > 0 ? rounds : 5, rounds > 0 ? rounds : 15, 60);
  bench::TRounds brelo, openssh;
  for (int round = -1; round < 0 || budget.Another(); ++round) {
    double b = 0, o = 0;
    if (round % 2 == 0) {
      o = OpenSsh(sshd);
      b = Brelo(sshd, lines);
    } else {
      b = Brelo(sshd, lines);
      o = OpenSsh(sshd);
    }
    if (b <= 0 || o <= 0) return 1;
    if (round < 0) continue;
    brelo.Add(static_cast<double>(lines) / b / 1e3);
    openssh.Add(static_cast<double>(lines) / o / 1e3);
  }
  bench::Report("receive over SSH: Brelo's session beside OpenSSH's ssh (same sshd, same flood)", brelo, openssh,
                "klines/s", ">= 0.8");
  return 0;
}
