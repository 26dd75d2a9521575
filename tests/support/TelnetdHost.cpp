#include "support/TelnetdHost.h"

#include <sys/stat.h>
#include <unistd.h>

#include <stdexcept>

namespace brelo::test {

TTelnetdHost::TTelnetdHost(const std::vector<std::string>& options) {
  if (::access(kTelnetd, X_OK) != 0) throw std::runtime_error(std::string(kTelnetd) + " is missing (inetutils-telnetd)");
  ::mkdir(DataFolder().c_str(), 0755);
  // telnetd splits the command at blanks: the temporary folder has none.
  std::string command = std::string(BRELO_DEMOHOST) + " --stdio --data " + DataFolder();
  for (const std::string& o : options) command += " " + o;
  // telnetd ends by itself when the caller hangs up (a test that dies hangs up too).
  server_ = std::make_unique<TInetdServer>(std::vector<std::string>{kTelnetd, "-h", "-E", command}, true);
}

TTelnetdHost::~TTelnetdHost() = default;

std::string TTelnetdHost::Received() const { return ReadBytes(DataFolder() + "received.log"); }
std::string TTelnetdHost::DataFile(const std::string& name) const { return ReadBytes(DataFolder() + name); }

}  // namespace brelo::test
