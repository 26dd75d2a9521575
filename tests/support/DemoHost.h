// The demo host as a test's peer: started on free ports with a fresh data
// folder, stopped at the end of the test.
#pragma once

#include <string>
#include <vector>

#include "support/TempDir.h"

namespace brelo::test {

class TDemoHost {
 public:
  // Extra options go to brelo-demohost as they are (--ktbbs, --busy 3, ...).
  explicit TDemoHost(const std::vector<std::string>& options = {}, bool http = false);
  ~TDemoHost();
  int Port() const { return port_; }
  int HttpPort() const { return httpPort_; }
  std::string DataFolder() const { return dir_.Path() + "data/"; }
  std::string ModemLink() const { return dir_.Path() + "modem"; }
  std::string TelnetAddress() const { return "telnet://127.0.0.1:" + std::to_string(port_) + "/"; }
  // What the host received (its own log).
  std::string Received() const;
  // A file of the host's data folder.
  std::string DataFile(const std::string& name) const;

 private:
  TTempDir dir_;
  int pid_ = -1;
  int port_ = 0;
  int httpPort_ = 0;
};

// A caller that talks to a host over a raw socket, as a person at a telnet
// client would: write lines, read until a text appears.
class TRawCaller {
 public:
  explicit TRawCaller(int port);
  ~TRawCaller();
  // Everything received so far, as Shift-JIS bytes.
  const std::string& Screen() const { return screen_; }
  // Reads until the Shift-JIS text appears after `from` (bounded); true when it did.
  bool Expect(const std::string& sjis, int limitMs = 10000);
  void Line(const std::string& sjis);  // text + CR LF
  // The end of a post or mail dialogue, from the host's "これでよろしいですか":
  // yes, one body line, send; true when the host says it is done.
  bool ConfirmAndSend(const std::string& bodyLine);
  // True when the host has closed the line (bounded wait).
  bool Closed(int limitMs = 10000);

 private:
  int fd_ = -1;
  std::string screen_;
  size_t from_ = 0;
};

}  // namespace brelo::test
