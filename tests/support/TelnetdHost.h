// The demo host behind a real telnet server: inetutils' telnetd on a
// loopback port the kernel chose, running `brelo-demohost --stdio` in place
// of login for each caller (the telnet server speaks telnet; the host reads
// its pseudo-terminal as a Unix program does). Stopped at the end of the test.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "support/InetdServer.h"
#include "support/TempDir.h"

namespace brelo::test {

class TTelnetdHost {
 public:
  static constexpr const char* kTelnetd = "/usr/sbin/telnetd";
  // Extra options go to brelo-demohost as they are (--ktbbs, ...).
  explicit TTelnetdHost(const std::vector<std::string>& options = {});
  ~TTelnetdHost();
  TTelnetdHost(const TTelnetdHost&) = delete;
  TTelnetdHost& operator=(const TTelnetdHost&) = delete;
  int Port() const { return server_->Port(); }
  std::string TelnetAddress() const { return "telnet://127.0.0.1:" + std::to_string(Port()) + "/"; }
  std::string DataFolder() const { return dir_.Path() + "data/"; }
  // What the host received behind the telnet server (its own log).
  std::string Received() const;
  std::string DataFile(const std::string& name) const;

 private:
  TTempDir dir_;
  std::unique_ptr<TInetdServer> server_;  // telnetd -h -E "the demo host" for each caller
};

}  // namespace brelo::test
