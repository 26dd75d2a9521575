// The host's modem on a pseudo-terminal: answers AT commands "OK", a dial
// "BUSY" a set number of times and then "CONNECT 9600", and runs the host
// dialogue on the line. When the call ends the modem hangs up by closing the
// pseudo-terminal (the caller sees its carrier drop) and opens a new one; a
// symbolic link keeps one path for callers to open.
#pragma once

#include <atomic>
#include <string>

#include "HostSession.h"

namespace demohost {

class ModemLine {
 public:
  ModemLine(std::string link, int busy, HostData& data, Registry& registry, const HostConfig& config,
            ReceiveLog* log);
  // Opens the first pseudo-terminal; false (with errno) when it cannot.
  bool Start();
  void Run(const std::atomic<bool>& stop);
  const std::string& SlavePath() const { return slave_; }

 private:
  bool OpenPty();
  // One call from the first AT command to the hang-up.
  void Serve(const std::atomic<bool>& stop);

  std::string link_;
  int busy_;
  HostData& data_;
  Registry& registry_;
  HostConfig config_;
  ReceiveLog* log_;
  int master_ = -1;
  std::string slave_;
  int caller_ = 1000;
};

}  // namespace demohost
