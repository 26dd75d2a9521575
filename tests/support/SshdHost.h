// The demo host behind the real OpenSSH server: for each caller on a
// loopback port the kernel chose, sshd in its inetd mode (-i) with the
// accepted socket, configured from the test's folder: a host key made by
// ssh-keygen, public-key login for the account running the tests (a key of
// the test's own), and ForceCommand running `brelo-demohost --stdio` (or
// the test's command) on the terminal sshd makes. Nothing outside the
// test's folder is read or written but sshd's own privilege separation
// folder, which a root sshd needs (made when missing, as its service does).
// Stopped at the end of the test.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "support/InetdServer.h"
#include "support/TempDir.h"
#include "transport/KnownHosts.h"

namespace brelo::test {

class TSshdHost {
 public:
  static constexpr const char* kSshd = "/usr/sbin/sshd";
  struct TOptions {
    std::vector<std::string> demoHostOptions;  // to brelo-demohost as they are (--ktbbs, ...)
    std::string command;                       // instead of the demo host, run in Folder()
    std::vector<std::string> config;           // more lines of sshd_config
  };
  // Why sshd cannot run here ("" when it can): the test is skipped.
  static std::string Missing();

  TSshdHost();
  explicit TSshdHost(const TOptions& options);
  ~TSshdHost();
  TSshdHost(const TSshdHost&) = delete;
  TSshdHost& operator=(const TSshdHost&) = delete;

  int Port() const { return server_->Port(); }
  // "ssh://127.0.0.1:PORT/" (with "USER@" when given).
  std::string Address(const std::string& user = std::string()) const;
  std::string Folder() const { return dir_.Path(); }
  std::string DataFolder() const { return dir_.Path() + "data/"; }
  // A private key (no passphrase) that logs in as UserName().
  std::string ClientKey() const { return dir_.Path() + "client_key"; }
  static std::string UserName();
  // The server's key, and the line a known_hosts file records it with.
  THostKey HostKey() const;
  std::string KnownHostsLine() const;
  // The host changes its key: a new one of the same type in its place.
  void NewHostKey();
  // What sshd logged (LogLevel VERBOSE), and how many logins it let in.
  std::string Log() const;
  int Logins() const;
  // What the demo host read, and a file of its data folder.
  std::string Received() const;
  std::string DataFile(const std::string& name) const;

 private:
  TTempDir dir_;
  std::unique_ptr<TInetdServer> server_;  // sshd -i for each caller
};

// Runs a program and waits for it; its exit status (-1 when it could not
// run or was killed). Standard output and error go to `output` when given.
int RunProgram(const std::vector<std::string>& argv, std::string* output = nullptr);
// A new key pair by ssh-keygen: `file` and `file`.pub.
bool MakeKeyPair(const std::string& file, const std::string& type = "ed25519", const std::string& passphrase = "");

}  // namespace brelo::test
