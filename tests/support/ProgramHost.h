// A host that is a program on a raw TCP line: each caller that connects to
// a loopback port the kernel chose gets `/bin/sh -c script` with the socket
// as its standard input and output (no telnet anywhere, as a relay like
// socat's EXEC gives). Every program still running is stopped at the end.
#pragma once

#include <string>

#include "support/InetdServer.h"

namespace brelo::test {

class TProgramHost {
 public:
  // The script runs in `folder`.
  TProgramHost(const std::string& script, const std::string& folder)
      : server_({"/bin/sh", "-c", script}, false, folder) {}
  int Port() const { return server_.Port(); }
  std::string Address() const { return "telnet://127.0.0.1:" + std::to_string(Port()) + "/"; }

 private:
  TInetdServer server_;
};

}  // namespace brelo::test
