// brelo-demohost: a bulletin-board host of the Vesko family (KTBBS with
// --ktbbs) on 127.0.0.1, for a first run of Brelo and for its end-to-end
// tests. Telnet on one port, the web page of the address look-up on another,
// and optionally a modem on a pseudo-terminal.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <QCoreApplication>
#include <QSslCertificate>
#include <QFile>
#include <QSslKey>
#include <QSslSocket>

#include "HostSession.h"
#include "Modem.h"
#include "common/FileUtil.h"
#include "common/Sjis.h"

using namespace demohost;

namespace {

std::atomic<bool> g_stop{false};

const char* kHelp =
    "Usage: brelo-demohost [options]\n"
    "\n"
    "A scripted bulletin-board host of the Vesko family on 127.0.0.1, for a\n"
    "first run of Brelo and its tests. It keeps boards, messages, mail and\n"
    "users in a folder (filled with sample content when empty); several\n"
    "callers may be on at once.\n"
    "\n"
    "  --port N          telnet port (default 2323; 0 picks a free one)\n"
    "  --stdio           one caller's session on standard input and output, and\n"
    "                    nothing else: the program a telnet server (in place of\n"
    "                    login) or a relay runs for each caller\n"
    "  --http-port N     web page of the address look-up (default: none); the path\n"
    "                    /redirect/N sends the caller on N times first\n"
    "  --https           serve that page over TLS, with the demo host's own\n"
    "                    self-signed certificate, made by openssl on first need\n"
    "                    in DIR/tls/ (certificate.pem; key.pem, readable by you only)\n"
    "  --data DIR        the host's data folder (default ./demohost-data)\n"
    "  --ktbbs           behave as a host of the KTBBS family\n"
    "                    (the file library is DIR/files/, uploads go to DIR/upload/;\n"
    "                    F lists, D[X|Y] name sends, UP[X name|Y] receives)\n"
    "  --modem LINK      answer calls on a pseudo-terminal, reachable as LINK\n"
    "  --busy N          answer the first N dials BUSY (default 0)\n"
    "  --log FILE        log what callers send (default DIR/received.log)\n"
    "  --ready FILE      write the ports to FILE once listening\n"
    "\n"
    "Faults on demand, for tests:\n"
    "  --chunks MODE     burst (default), trickle (3 bytes at a time), or split\n"
    "                    (writes cut inside CR LF and double-byte characters)\n"
    "  --negotiate       telnet negotiations and a subnegotiation at the start\n"
    "  --ansi            paints every line and prompt with colour escape sequences\n"
    "  --negotiate-strict  asks for ECHO, SUPPRESS-GO-AHEAD, TERMINAL-TYPE and NAWS\n"
    "                    and withholds the ID prompt until the caller has answered\n"
    "                    them all (30 seconds, then it hangs up)\n"
    "  --encoding ENC    speak euc-jp or utf-8 on the line instead of Shift-JIS\n"
    "  --send-on-login F  send the library's file F by ZMODEM right after the login\n"
    "  --no-binary       refuse telnet binary mode for file transfers\n"
    "  --tty-output      with --stdio, leave the terminal's output processing on\n"
    "                    (a CR LF reaches a telnet server as CR CR LF)\n"
    "  --long-lines      an over-long line in the banner\n"
    "  --garbage         garbage bytes in the banner\n"
    "  --silent          accept callers and never say anything\n"
    "  --drop-after N    hang up after N bytes of a news listing\n"
    "  --drop-after-messages N  hang up right after the N-th whole message of a\n"
    "                    news listing, without a pause\n"
    "  --message-pause MS  pause MS milliseconds after each message of a news\n"
    "                    listing (a slow line)\n"
    "  --drop-by HOW     how a telnet line is dropped: close (default) or reset;\n"
    "                    the modem line always hangs up\n"
    "  --fail-writes     every post and mail fails\n"
    "  --ignore-logout   takes \"Q\" for an unknown command and never ends the line\n"
    "  --flood N         send N numbered lines before the banner\n"
    "  --flood-rate N    send the flood at N lines a second (default: as fast as\n"
    "                    the line takes them)\n"
    "  --flood-only      hang up after the flood, without a banner\n"
    "  --echo-password   echo the password as it is typed\n"
    "  --quoting         a message on GENERAL and a mail to TARO whose every line\n"
    "                    quotes the host's own screens (prompts, results, headers)\n"
    "  --look-alike-mail  TARO finds four more mails: two from one sender with one\n"
    "                    title in one minute, the second a shorter beginning of the\n"
    "                    first, and two with a date no one can read\n"
    "  --no-address      the web page carries no telnet address\n"
    "  --help            this text\n";

int Listen(int port, std::string& error) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  int on = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    error = errno == EADDRINUSE ? "port " + std::to_string(port) + " is in use"
                                : "cannot listen on port " + std::to_string(port) + ": " + std::strerror(errno);
    ::close(fd);
    return -1;
  }
  ::listen(fd, 16);
  return fd;
}

// The same port on ::1, for callers that come over IPv6; -1 where the
// machine has no IPv6 loopback.
int ListenIpv6(int port) {
  int fd = ::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  int on = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  ::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on);
  sockaddr_in6 a{};
  a.sin6_family = AF_INET6;
  a.sin6_port = htons(static_cast<uint16_t>(port));
  a.sin6_addr = in6addr_loopback;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    ::close(fd);
    return -1;
  }
  ::listen(fd, 16);
  return fd;
}

int BoundPort(int fd) {
  sockaddr_in a{};
  socklen_t len = sizeof a;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  return ntohs(a.sin_port);
}

// Waits for a caller; -1 when stopping.
int AcceptOne(int fd) {
  while (!g_stop) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 200) > 0) return ::accept4(fd, nullptr, nullptr, SOCK_CLOEXEC);
  }
  return -1;
}

// The answer to a request for the address page. "/redirect/N" sends the
// caller on N times before the page.
std::string AddressPage(const std::string& request, int telnetPort, bool withAddress) {
  const std::string target = request.substr(0, request.find("\r\n"));
  const size_t at = target.find(" /redirect/");
  if (at != std::string::npos) {
    const long n = std::strtol(target.c_str() + at + 11, nullptr, 10);
    const std::string next = n > 1 ? "/redirect/" + std::to_string(n - 1) : "/bbs/index.html";
    return "HTTP/1.0 302 Found\r\nLocation: " + next + "\r\nContent-Length: 0\r\n\r\n";
  }
  std::string page = "HTTP/1.0 200 OK\r\nContent-Type: text/html; charset=Shift_JIS\r\n\r\n";
  page += "<HTML>\r\n<HEAD><TITLE>" + brelo::Sjis("デモ草の根ネット 接続先") + "</TITLE></HEAD>\r\n<BODY>\r\n";
  if (withAddress) {
    page += brelo::Sjis("現在の接続先は次のとおりです。") + "<BR>\r\n";
    page += "telnet://127.0.0.1:" + std::to_string(telnetPort) + "/<BR>\r\n";
  } else {
    page += brelo::Sjis("ただいま休止中です。") + "<BR>\r\n";
  }
  page += "</BODY>\r\n</HTML>\r\n";
  return page;
}

bool RequestComplete(const std::string& r) { return r.find("\r\n\r\n") != std::string::npos || r.size() >= 8192; }

void ServeHttp(int fd, int telnetPort, bool withAddress, ReceiveLog* log) {
  std::string request;
  char buf[1024];
  for (int i = 0; i < 50 && !RequestComplete(request); ++i) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 100) <= 0) continue;
    ssize_t n = ::recv(fd, buf, sizeof buf, 0);
    if (n <= 0) break;
    request.append(buf, static_cast<size_t>(n));
  }
  if (log) log->Add(0, request.data(), request.size());
  const std::string page = AddressPage(request, telnetPort, withAddress);
  ::send(fd, page.data(), page.size(), MSG_NOSIGNAL);
  ::shutdown(fd, SHUT_WR);
  ::close(fd);
}

// The same page over TLS, with the demo host's own certificate.
// The certificate and key of the https page. No key ships with the demo host:
// each data folder gets its own, made by openssl the first time it is needed,
// for 127.0.0.1, ::1 and localhost.
struct TlsIdentity {
  QSslCertificate certificate;
  QSslKey key;
};

bool RunOpenssl(const std::vector<std::string>& args, std::string& error) {
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  const pid_t pid = ::fork();
  if (pid < 0) {
    error = std::string("fork: ") + std::strerror(errno);
    return false;
  }
  if (pid == 0) {
    ::umask(077);
    const int quiet = ::open("/dev/null", O_WRONLY);
    if (quiet >= 0) ::dup2(quiet, 1);
    ::execvp(argv[0], argv.data());
    std::fprintf(stderr, "brelo-demohost: cannot run openssl: %s\n", std::strerror(errno));
    ::_exit(127);
  }
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return true;
  error = "openssl could not make the certificate (status " + std::to_string(WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status)) + ")";
  return false;
}

bool LoadOrMakeTlsIdentity(const std::string& dataFolder, TlsIdentity& out, std::string& error) {
  const std::string dir = brelo::JoinPath(dataFolder, "tls");
  const std::string certificate = brelo::JoinPath(dir, "certificate.pem");
  const std::string key = brelo::JoinPath(dir, "key.pem");
  struct stat st {};
  if (::stat(certificate.c_str(), &st) != 0 || ::stat(key.c_str(), &st) != 0) {
    if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) {
      error = dir + ": " + std::strerror(errno);
      return false;
    }
    const std::string partKey = key + ".new", partCertificate = certificate + ".new";
    if (!RunOpenssl({"openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes",
                     "-days", "3650", "-subj", "/CN=localhost", "-addext",
                     "subjectAltName=IP:127.0.0.1,IP:::1,DNS:localhost", "-keyout", partKey, "-out", partCertificate},
                    error))
      return false;
    // The key first: a certificate without its key is never left behind.
    if (::rename(partKey.c_str(), key.c_str()) != 0 || ::rename(partCertificate.c_str(), certificate.c_str()) != 0) {
      error = dir + ": " + std::strerror(errno);
      return false;
    }
  }
  const QList<QSslCertificate> certificates = QSslCertificate::fromPath(QString::fromStdString(certificate));
  QFile keyFile(QString::fromStdString(key));
  if (certificates.isEmpty() || !keyFile.open(QIODevice::ReadOnly)) {
    error = "cannot read " + certificate + " or " + key;
    return false;
  }
  out.certificate = certificates.first();
  out.key = QSslKey(keyFile.readAll(), QSsl::Ec);
  if (out.key.isNull()) {
    error = key + " holds no key the demo host can use";
    return false;
  }
  return true;
}

void ServeHttps(int fd, int telnetPort, bool withAddress, ReceiveLog* log, const TlsIdentity& identity) {
  QSslSocket s;
  if (!s.setSocketDescriptor(fd)) {
    ::close(fd);
    return;
  }
  s.setLocalCertificate(identity.certificate);
  s.setPrivateKey(identity.key);
  s.startServerEncryption();
  if (!s.waitForEncrypted(5000)) {
    std::fprintf(stderr, "brelo-demohost: TLS with a caller failed: %s\n", s.errorString().toLocal8Bit().constData());
    return;
  }
  std::string request;
  for (int i = 0; i < 50 && !RequestComplete(request); ++i) {
    if (s.bytesAvailable() == 0 && !s.waitForReadyRead(100)) continue;
    request += s.readAll().toStdString();
  }
  if (log) log->Add(0, request.data(), request.size());
  const std::string page = AddressPage(request, telnetPort, withAddress);
  s.write(page.data(), static_cast<qint64>(page.size()));
  for (int i = 0; i < 50 && s.bytesToWrite() > 0; ++i) s.waitForBytesWritten(100);
  s.disconnectFromHost();
  if (s.state() != QAbstractSocket::UnconnectedState) s.waitForDisconnected(2000);
}

bool ParseNumber(const char* s, long& out) {
  char* end = nullptr;
  out = std::strtol(s, &end, 10);
  return *s != '\0' && *end == '\0' && out >= 0;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);  // for the TLS of the https page
  bool https = false;
  long port = 2323, httpPort = -1, busy = 0;
  std::string data = "demohost-data", modemLink, logPath, readyFile;
  bool withAddress = true, stdio = false;
  bool lookAlikeMail = false;
  bool quoting = false;
  HostConfig config;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    auto value = [&](long& out) {
      if (i + 1 >= argc || !ParseNumber(argv[i + 1], out)) {
        std::fprintf(stderr, "brelo-demohost: %s needs a number\n", a.c_str());
        std::exit(2);
      }
      ++i;
    };
    auto text = [&](std::string& out) {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "brelo-demohost: %s needs a value\n", a.c_str());
        std::exit(2);
      }
      out = argv[++i];
    };
    if (a == "--help" || a == "-h") {
      std::fputs(kHelp, stdout);
      return 0;
    } else if (a == "--stdio") {
      stdio = true;
    } else if (a == "--port") {
      value(port);
    } else if (a == "--http-port") {
      value(httpPort);
    } else if (a == "--data") {
      text(data);
    } else if (a == "--ktbbs") {
      config.ktbbs = true;
    } else if (a == "--modem") {
      text(modemLink);
    } else if (a == "--busy") {
      value(busy);
    } else if (a == "--log") {
      text(logPath);
    } else if (a == "--ready") {
      text(readyFile);
    } else if (a == "--chunks") {
      std::string mode;
      text(mode);
      if (mode == "burst") config.faults.chunking = Faults::kBurst;
      else if (mode == "trickle") config.faults.chunking = Faults::kTrickle;
      else if (mode == "split") config.faults.chunking = Faults::kSplit;
      else {
        std::fprintf(stderr, "brelo-demohost: --chunks is burst, trickle or split\n");
        return 2;
      }
    } else if (a == "--negotiate") {
      config.faults.negotiate = true;
    } else if (a == "--ansi") {
      config.faults.ansi = true;
    } else if (a == "--negotiate-strict") {
      config.faults.negotiateStrict = true;
    } else if (a == "--tty-output") {
      config.faults.ttyOutput = true;
    } else if (a == "--no-binary") {
      config.noBinary = true;
    } else if (a == "--send-on-login") {
      text(config.sendOnLogin);
    } else if (a == "--https") {
      https = true;
    } else if (a == "--encoding") {
      std::string e;
      text(e);
      if (e == "euc-jp") config.faults.encoding = brelo::EHostEncoding::kEucJp;
      else if (e == "utf-8") config.faults.encoding = brelo::EHostEncoding::kUtf8;
      else if (e != "shift-jis") {
        std::fprintf(stderr, "brelo-demohost: --encoding is euc-jp, utf-8 or shift-jis\n");
        return 2;
      }
    } else if (a == "--long-lines") {
      config.faults.longLines = true;
    } else if (a == "--garbage") {
      config.faults.garbage = true;
    } else if (a == "--silent") {
      config.faults.silent = true;
    } else if (a == "--drop-after") {
      value(config.faults.dropAfter);
    } else if (a == "--drop-after-messages") {
      value(config.faults.dropAfterMessages);
    } else if (a == "--message-pause") {
      value(config.faults.messagePauseMs);
    } else if (a == "--drop-by") {
      std::string how;
      text(how);
      if (how == "close") config.faults.dropBy = Faults::kClose;
      else if (how == "reset") config.faults.dropBy = Faults::kReset;
      else {
        std::fprintf(stderr, "brelo-demohost: --drop-by is close or reset\n");
        return 2;
      }
    } else if (a == "--fail-writes") {
      config.faults.failWrites = true;
    } else if (a == "--ignore-logout") {
      config.faults.ignoreLogout = true;
    } else if (a == "--flood") {
      value(config.faults.flood);
    } else if (a == "--flood-rate") {
      value(config.faults.floodRate);
    } else if (a == "--flood-only") {
      config.faults.floodOnly = true;
    } else if (a == "--echo-password") {
      config.faults.echoPassword = true;
    } else if (a == "--look-alike-mail") {
      lookAlikeMail = true;
    } else if (a == "--quoting") {
      quoting = true;
    } else if (a == "--no-address") {
      withAddress = false;
    } else {
      std::fprintf(stderr, "brelo-demohost: unknown option %s (see --help)\n", a.c_str());
      return 2;
    }
  }
  if (port > 65535 || httpPort > 65535) {
    std::fprintf(stderr, "brelo-demohost: a port is a number from 0 to 65535\n");
    return 2;
  }
  ::signal(SIGPIPE, SIG_IGN);
  struct sigaction sa {};
  sa.sa_handler = [](int) { g_stop = true; };
  ::sigaction(SIGINT, &sa, nullptr);
  ::sigaction(SIGTERM, &sa, nullptr);

  HostData hostData(data);
  if (lookAlikeMail) {
    std::lock_guard<std::mutex> lk(hostData.Lock());
    for (const Message& m : LookAlikeMail()) hostData.AddMail("TARO", m);
  }
  if (quoting) {
    // Once for a data folder: a second start finds them there.
    std::lock_guard<std::mutex> lk(hostData.Lock());
    Message m;
    m.fromId = "HANAKO";
    m.fromHandle = brelo::Sjis("はなこ");
    m.date = "98/03/08 10:00:00";
    m.title = brelo::Sjis("画面の引用");
    m.body = QuotedScreens();
    bool there = false;
    for (const Message& old : hostData.Messages(1)) there = there || old.title == m.title;
    if (!there) {
      hostData.AddMessage(1, m);
      m.to = "TARO";
      hostData.AddMail("TARO", m);
    }
  }
  if (logPath.empty()) logPath = hostData.Folder() + "received.log";
  ReceiveLog log(logPath);
  Registry registry;
  if (stdio) {
    // Standard output is the caller's line, and so is standard error behind
    // a telnet server: nothing else is written to either.
    if (std::freopen((hostData.Folder() + "stdio-errors.log").c_str(), "a", stderr) == nullptr) return 1;
    Connection conn(STDIN_FILENO, 1, config.faults, &log, LineKind::kStdio, STDOUT_FILENO);
    HostSession session(conn, hostData, registry, config);
    session.Run();
    return 0;
  }

  std::string error;
  int telnetFd = Listen(static_cast<int>(port), error);
  if (telnetFd < 0) {
    std::fprintf(stderr, "brelo-demohost: %s\n", error.c_str());
    return 1;
  }
  const int telnetPort = BoundPort(telnetFd);
  int httpFd = -1;
  if (httpPort >= 0) {
    httpFd = Listen(static_cast<int>(httpPort), error);
    if (httpFd < 0) {
      std::fprintf(stderr, "brelo-demohost: %s\n", error.c_str());
      return 1;
    }
  }
  std::printf("brelo-demohost: %s host, telnet on 127.0.0.1:%d and [::1]:%d, data in %s\n",
              config.ktbbs ? "KTBBS" : "Vesko", telnetPort, telnetPort, hostData.Folder().c_str());
  TlsIdentity identity;
  if (https && !LoadOrMakeTlsIdentity(hostData.Folder(), identity, error)) {
    std::fprintf(stderr, "brelo-demohost: %s\n", error.c_str());
    return 1;
  }
  std::vector<std::thread> services;
  if (httpFd >= 0) {
    std::printf("brelo-demohost: address page on %s://127.0.0.1:%d/\n", https ? "https" : "http", BoundPort(httpFd));
    services.emplace_back([&] {
      for (int c; (c = AcceptOne(httpFd)) >= 0;) {
        if (https) ServeHttps(c, telnetPort, withAddress, &log, identity);
        else ServeHttp(c, telnetPort, withAddress, &log);
      }
    });
  }
  std::unique_ptr<ModemLine> modem;
  if (!modemLink.empty()) {
    modem = std::make_unique<ModemLine>(modemLink, static_cast<int>(busy), hostData, registry, config, &log);
    if (!modem->Start()) {
      std::fprintf(stderr, "brelo-demohost: cannot open a modem line at %s: %s\n", modemLink.c_str(),
                   std::strerror(errno));
      return 1;
    }
    std::printf("brelo-demohost: modem on %s (%s)\n", modemLink.c_str(), modem->SlavePath().c_str());
    services.emplace_back([&] { modem->Run(g_stop); });
  }
  if (!readyFile.empty()) {
    std::string ports = std::to_string(telnetPort) + " " + std::to_string(httpFd >= 0 ? BoundPort(httpFd) : 0) + "\n";
    brelo::WriteFileAtomic(readyFile, ports);
  }
  std::fflush(stdout);

  std::atomic<int> next{1};
  auto serveCallers = [&](int listenFd) {
    for (int c; (c = AcceptOne(listenFd)) >= 0;) {
      const int caller = next++;
      std::thread([c, caller, &hostData, &registry, &config, &log] {
        Connection conn(c, caller, config.faults, &log, LineKind::kTelnet);
        HostSession session(conn, hostData, registry, config);
        session.Run();
      }).detach();
    }
  };
  const int telnet6Fd = ListenIpv6(telnetPort);
  if (telnet6Fd >= 0) services.emplace_back([&] { serveCallers(telnet6Fd); });
  serveCallers(telnetFd);
  for (auto& t : services) t.join();
  return 0;
}
