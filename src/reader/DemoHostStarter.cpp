#include "reader/DemoHostStarter.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QProcess>
#include <QStringList>
#include <QThread>
#include <chrono>

#include "common/FileUtil.h"
#include "common/Programs.h"
#include "common/Sjis.h"
#include "hosts/HostTable.h"
#include "session/Address.h"

namespace brelo {

TDemoHostStarter::TDemoHostStarter(std::string programFolder, std::string programDir)
    : SampleAddress(THostTable::SampleEntry().Address),
      programFolder_(std::move(programFolder)),
      programDir_(std::move(programDir)) {}

TDemoHostStarter::~TDemoHostStarter() {
  if (process_ && process_->state() != QProcess::NotRunning) {
    process_->terminate();
    if (!process_->waitForFinished(3000)) process_->kill();
    process_->waitForFinished(1000);
  }
}

bool TDemoHostStarter::Running() const { return process_ && process_->state() == QProcess::Running; }

bool TDemoHostStarter::Listening(int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bool up = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  if (!up && errno == EINPROGRESS) {
    pollfd p{fd, POLLOUT, 0};
    int err = 0;
    socklen_t len = sizeof err;
    up = ::poll(&p, 1, 500) == 1 && ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) == 0 && err == 0;
  }
  ::close(fd);
  return up;
}

std::string TDemoHostStarter::Before(const std::string& address) {
  if (address != SampleAddress || Running()) return std::string();
  const TAddress a = ParseAddress(address);
  std::string host, port;
  SplitHostPort(a.host, "23", host, port);
  const int portNo = std::atoi(port.c_str());
  if (a.kind != TAddress::kTelnet || host != "127.0.0.1" || portNo <= 0 || Listening(portNo)) return std::string();
  const std::string program = FindPrivateProgram("brelo-demohost", programDir_);
  if (program.empty()) return std::string();
  const std::string ready = JoinPath(programFolder_, "demohost-data.ready");
  ::unlink(ready.c_str());
  process_ = std::make_unique<QProcess>();
  process_->setProgram(QString::fromStdString(program));
  process_->setArguments({QStringLiteral("--port"), QString::number(portNo), QStringLiteral("--data"),
                          QString::fromStdString(JoinPath(programFolder_, "demohost-data")), QStringLiteral("--ready"),
                          QString::fromStdString(ready)});
  process_->setStandardOutputFile(QProcess::nullDevice());
  process_->setStandardErrorFile(QString::fromStdString(JoinPath(programFolder_, "demohost.log")));
  process_->start();
  if (!process_->waitForStarted(3000)) {
    process_.reset();
    return Sjis("デモホストを起動できませんでした");
  }
  // Listening once it has written its ports.
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (!FileExists(ready) && process_->state() == QProcess::Running && std::chrono::steady_clock::now() < end) {
    QThread::msleep(20);
  }
  ::unlink(ready.c_str());
  if (!Listening(portNo)) return Sjis("デモホストを起動できませんでした");
  return Sjis("デモホストを起動しました (127.0.0.1:") + port + Sjis("、終了時に止めます)");
}

}  // namespace brelo
