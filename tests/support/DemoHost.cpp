#include "support/DemoHost.h"

#include "common/Sjis.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace brelo::test {

TDemoHost::TDemoHost(const std::vector<std::string>& options, bool http) {
  const std::string ready = dir_.Path() + "ready";
  std::vector<std::string> args = {BRELO_DEMOHOST, "--port", "0", "--data", dir_.Path() + "data", "--ready", ready};
  if (http) args.insert(args.end(), {"--http-port", "0"});
  for (const auto& o : options) args.push_back(o);
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--modem" && (i + 1 == args.size() || args[i + 1].rfind("--", 0) == 0)) {
      args.insert(args.begin() + static_cast<long>(i) + 1, ModemLink());
    }
  }
  pid_ = ::fork();
  if (pid_ == 0) {
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    // The host goes with the test, however the test ends, and keeps none of
    // its output streams open.
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (::freopen("/dev/null", "w", stdout) == nullptr ||
        ::freopen((dir_.Path() + "host.err").c_str(), "w", stderr) == nullptr) {
      ::_exit(127);
    }
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  for (int i = 0; i < 1000; ++i) {
    std::ifstream f(ready);
    if (f >> port_ >> httpPort_) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  throw std::runtime_error("brelo-demohost did not start");
}

TDemoHost::~TDemoHost() {
  if (pid_ > 0) {
    ::kill(pid_, SIGTERM);
    ::waitpid(pid_, nullptr, 0);
  }
}

std::string TDemoHost::Received() const { return ReadBytes(DataFolder() + "received.log"); }
std::string TDemoHost::DataFile(const std::string& name) const { return ReadBytes(DataFolder() + name); }

TRawCaller::TRawCaller(int port) {
  fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) throw std::runtime_error("connect failed");
}

TRawCaller::~TRawCaller() { ::close(fd_); }

bool TRawCaller::Expect(const std::string& text, int limitMs) {
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
  for (;;) {
    size_t at = screen_.find(text, from_);
    if (at != std::string::npos) {
      from_ = at + text.size();
      return true;
    }
    if (std::chrono::steady_clock::now() >= end) return false;
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, 20) <= 0) continue;
    char buf[4096];
    ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
    if (n <= 0) return false;
    screen_.append(buf, static_cast<size_t>(n));
  }
}

void TRawCaller::Line(const std::string& text) {
  const std::string l = text + "\r\n";
  ::send(fd_, l.data(), l.size(), MSG_NOSIGNAL);
}

bool TRawCaller::ConfirmAndSend(const std::string& bodyLine) {
  if (!Expect(Sjis("これでよろしいですか"))) return false;
  Line("Y");
  if (!Expect("----+")) return false;
  Line(bodyLine);
  Line("//");
  if (!Expect(Sjis("S:送信"))) return false;
  Line("S");
  return Expect(Sjis("終了"));
}

bool TRawCaller::Closed(int limitMs) {
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
  while (std::chrono::steady_clock::now() < end) {
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, 20) <= 0) continue;
    char buf[4096];
    ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
    if (n <= 0) return true;
    screen_.append(buf, static_cast<size_t>(n));
  }
  return false;
}

}  // namespace brelo::test
