#include "app/Display.h"

#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "app/CommandLine.h"

namespace brelo {
namespace {

constexpr int kConnectWaitMs = 3000;

// Connects fd to the address within the wait; 0 or the errno of the failure.
int ConnectWithin(int fd, const sockaddr* address, socklen_t length) {
  if (::connect(fd, address, length) == 0) return 0;
  if (errno != EINPROGRESS) return errno;
  pollfd p{fd, POLLOUT, 0};
  const int ready = ::poll(&p, 1, kConnectWaitMs);
  if (ready == 0) return ETIMEDOUT;
  if (ready < 0) return errno;
  int err = 0;
  socklen_t len = sizeof err;
  if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0) return errno;
  return err;
}

// A local socket by path; abstract when the path starts with '@'.
int UnixSocketAnswers(const std::string& path) {
  sockaddr_un a{};
  a.sun_family = AF_UNIX;
  if (path.size() >= sizeof a.sun_path) return ENAMETOOLONG;
  std::memcpy(a.sun_path, path.data(), path.size());
  if (path[0] == '@') a.sun_path[0] = '\0';
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return errno;
  const int err = ConnectWithin(fd, reinterpret_cast<const sockaddr*>(&a),
                                static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + path.size()));
  ::close(fd);
  return err;
}

int TcpAnswers(const std::string& host, int port) {
  addrinfo hints{};
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* list = nullptr;
  if (::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &list) != 0) return EHOSTUNREACH;
  int err = ECONNREFUSED;
  for (addrinfo* a = list; a != nullptr && err != 0; a = a->ai_next) {
    const int fd = ::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
    if (fd < 0) {
      err = errno;
      continue;
    }
    err = ConnectWithin(fd, a->ai_addr, a->ai_addrlen);
    ::close(fd);
  }
  ::freeaddrinfo(list);
  return err;
}

// An X server by its display name, "[host]:number[.screen]": a local socket
// (abstract first, as the server offers both) or TCP port 6000 + number.
int XServerAnswers(const std::string& display) {
  const size_t colon = display.rfind(':');
  if (colon == std::string::npos) return EINVAL;
  std::string host = display.substr(0, colon);
  if (const size_t slash = host.find('/'); slash != std::string::npos) host = host.substr(slash + 1);
  const std::string number = display.substr(colon + 1, display.find('.', colon) - colon - 1);
  if (number.empty() || number.find_first_not_of("0123456789") != std::string::npos || number.size() > 5) return EINVAL;
  if (host.empty() || host == "unix") {
    const std::string path = "/tmp/.X11-unix/X" + number;
    return UnixSocketAnswers("@" + path) == 0 ? 0 : UnixSocketAnswers(path);
  }
  return TcpAnswers(host, 6000 + std::atoi(number.c_str()));
}

std::string Env(const char* name) {
  const char* v = std::getenv(name);
  return v != nullptr ? v : "";
}

}  // namespace

std::string DisplayProblem(const TCommandLine& cmd) {
  const std::string platform = !cmd.qtPlatform.empty() ? cmd.qtPlatform : Env("QT_QPA_PLATFORM");
  const bool x = platform.empty() || platform.rfind("xcb", 0) == 0;
  const bool wayland = platform.empty() || platform.rfind("wayland", 0) == 0;
  if (!x && !wayland) return std::string();  // offscreen, vnc, ...: Qt draws elsewhere
  const std::string xDisplay = !cmd.qtDisplay.empty() ? cmd.qtDisplay : Env("DISPLAY");
  const std::string waylandDisplay = Env("WAYLAND_DISPLAY");
  if ((!x || xDisplay.empty()) && (!wayland || waylandDisplay.empty())) {
    return "there is no display here (neither DISPLAY nor WAYLAND_DISPLAY is set), so the window cannot open; "
           "a pass runs without one: brelo --pilot HOST";
  }
  std::string tried;
  int err = 0;
  if (wayland && !waylandDisplay.empty()) {
    const std::string path =
        waylandDisplay[0] == '/' ? waylandDisplay : Env("XDG_RUNTIME_DIR") + "/" + waylandDisplay;
    if ((err = UnixSocketAnswers(path)) == 0) return std::string();
    tried = "WAYLAND_DISPLAY=" + waylandDisplay + " (" + std::strerror(err) + ")";
  }
  if (x && !xDisplay.empty()) {
    if ((err = XServerAnswers(xDisplay)) == 0) return std::string();
    tried += (tried.empty() ? "" : ", ") + std::string("DISPLAY=") + xDisplay + " (" +
             (err == EINVAL ? "not a display name" : std::strerror(err)) + ")";
  }
  return "no display answers at " + tried + ", so the window cannot open; a pass runs without one: brelo --pilot HOST";
}

}  // namespace brelo
