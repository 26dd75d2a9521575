#include "support/TlsPageServer.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>

namespace brelo::test {

TTlsPageServer::TTlsPageServer(const std::string& page) {
  WriteBytes(dir_.Path() + "index.html", page);
  const std::string folder = dir_.Path();
  const std::string said = folder + "server.out";
  const char* argv[] = {"openssl", "s_server", "-WWW", "-accept", "127.0.0.1:0", "-cert", BRELO_DEMOHOST_CERTIFICATE,
                        "-key", BRELO_DEMOHOST_KEY, nullptr};
  pid_ = ::fork();
  if (pid_ == 0) {
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    const int out = ::open(said.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int null = ::open("/dev/null", O_RDWR);
    ::dup2(null, 0);
    ::dup2(out, 1);
    ::dup2(out, 2);
    if (::chdir(folder.c_str()) != 0) ::_exit(126);
    ::execvp("openssl", const_cast<char**>(argv));
    ::_exit(127);
  }
  // It names its port once it listens: "ACCEPT 127.0.0.1:PORT".
  for (int i = 0; i < 3000 && port_ == 0; ++i) {
    const std::string text = ReadBytes(said);
    const size_t at = text.find("ACCEPT 127.0.0.1:");
    if (at != std::string::npos && text.find('\n', at) != std::string::npos) port_ = std::atoi(text.c_str() + at + 17);
    else ::usleep(10000);
  }
  if (port_ == 0) throw std::runtime_error("openssl s_server did not start: " + ReadBytes(said));
}

TTlsPageServer::~TTlsPageServer() {
  if (pid_ > 0) {
    ::kill(pid_, SIGTERM);
    ::waitpid(pid_, nullptr, 0);
  }
}

}  // namespace brelo::test
