// The first pass after an install: the host list of a first start holds the
// demo host on 127.0.0.1, and nothing starts it after a package install. When
// that host is called and nothing listens on its port, the demo host that was
// installed beside the program is started for the session, and stopped when
// the program ends.
#pragma once

#include <memory>
#include <string>

class QProcess;

namespace brelo {

class TDemoHostStarter {
 public:
  // programFolder keeps the demo host's data ("demohost-data"); the program
  // "brelo-demohost" is looked for in programDir, then where an install
  // keeps it (FindPrivateProgram).
  TDemoHostStarter(std::string programFolder, std::string programDir);
  ~TDemoHostStarter();  // stops a demo host it started
  TDemoHostStarter(const TDemoHostStarter&) = delete;
  TDemoHostStarter& operator=(const TDemoHostStarter&) = delete;

  // The address of the sample entry; only that address is started for.
  std::string SampleAddress;

  // Called before the host at `address` is called. Starts the demo host when
  // the address is the sample's, nothing listens there and the program is
  // installed; returns the status line that says so (Shift-JIS), or "" when
  // nothing was started.
  std::string Before(const std::string& address);
  bool Running() const;

  // Whether something accepts connections on 127.0.0.1:port (bounded wait).
  static bool Listening(int port);

 private:
  std::string programFolder_;
  std::string programDir_;
  std::unique_ptr<QProcess> process_;
};

}  // namespace brelo
