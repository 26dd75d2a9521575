#include "app/HostKeyCommand.h"

#include <unistd.h>

#include <QCoreApplication>
#include <cstdio>
#include <iostream>
#include <thread>

#include "app/CommandLine.h"
#include "app/HostCommands.h"
#include "app/Pilot.h"
#include "common/FileUtil.h"
#include "common/MainThread.h"
#include "common/Sjis.h"
#include "common/StringLock.h"
#include "hosts/HostTable.h"
#include "reader/Patrol.h"
#include "session/Address.h"
#include "transport/SshLine.h"
#include "transport/WSocket.h"

namespace brelo {
namespace {

// The host's key, as far as the connector and the key exchange take it.
struct TKeySeen {
  TSshOutcome outcome;
  int lineError = 0;
  std::string lineText;
};

TKeySeen SeeHostKey(const TSshLogin& login, const std::string& port) {
  TKeySeen seen;
  TTCPClient tcp;
  TSshLine line;
  tcp.SetHost(login.host);
  tcp.SetPort(port);
  tcp.OnConnect = [&](TTCPClient*, int) { line.Adopt(tcp.TakeSocket()); };
  tcp.OnError = [&](TCustomWSocket*, int code, const std::string& text) {
    seen.lineError = code;
    seen.lineText = text;
    line.Close();
  };
  // The handshake blocks: it runs beside the event loop that connects.
  std::thread handshake([&] {
    seen.outcome = line.FetchHostKey(login, {});
    PostToMain([] { QCoreApplication::quit(); });
  });
  tcp.Connect();
  QCoreApplication::exec();
  handshake.join();
  tcp.Close();
  return seen;
}

bool Confirmed(const std::string& knownHosts) {
  std::fprintf(stderr, "Record this key in %s? Compare the fingerprint with the one whoever runs the host gives you "
                       "first. (yes/no): ",
               knownHosts.c_str());
  std::fflush(stderr);
  std::string answer;
  if (!std::getline(std::cin, answer)) return false;
  return answer == "yes" || answer == "y";
}

}  // namespace

int RunTrustHostKey(const TCommandLine& cmd, const std::string& programFolder) {
  THostTable hosts;
  int index = -1;
  if (const int status = LoadHostListAndFindOrSay(hosts, programFolder, cmd.host, index); status != kExitOk) {
    return status;
  }
  const THostEntry& e = hosts.HostTable[static_cast<size_t>(index)];
  const TAddress a = ParseAddress(e.Address);
  if (a.kind != TAddress::kSsh) {
    std::fprintf(stderr, "brelo: %s is no SSH host (its address is %s)\n", cmd.host.c_str(),
                 SjisToUtf8(e.Address).c_str());
    return kExitUsage;
  }
  std::string host, port;
  SplitHostPort(a.host, "22", host, port);
  TSshLogin login;
  login.host = host;
  login.port = SafeStrToIntDef(port, 22);
  login.user = SjisToUtf8(a.user.empty() ? e.UserID : a.user);
  login.userSshFolder = DefaultSshFolder();
  login.knownHosts = JoinPath(programFolder, "known_hosts");
  const TKeySeen seen = SeeHostKey(login, port);
  const TSshOutcome& o = seen.outcome;
  if (seen.lineError != 0) {
    std::fprintf(stderr, "brelo: cannot reach %s: %s (error %d)\n", SjisToUtf8(a.host).c_str(), seen.lineText.c_str(),
                 seen.lineError);
    return kExitNoLogin;
  }
  if (o.kind != TSshOutcome::kOpen) {
    std::fprintf(stderr, "brelo: the SSH connection to %s failed: %s\n", SjisToUtf8(a.host).c_str(), o.error.c_str());
    return kExitNoLogin;
  }
  std::printf("brelo: %s shows %s key %s\n", o.hostName.c_str(), o.key.Kind().c_str(), o.key.Fingerprint().c_str());
  std::fflush(stdout);
  switch (o.check.verdict) {
    case THostKeyCheck::kKnown: {
      const TKnownKey& k = o.check.recorded.front();
      std::printf("brelo: this key is recorded already (%s line %d)\n", k.file.c_str(), k.line);
      return kExitOk;
    }
    case THostKeyCheck::kRevoked:
    case THostKeyCheck::kChanged:
      for (const TKnownKey& k : o.check.recorded) {
        std::fprintf(stderr, "brelo: %s: %s key %s (%s line %d)\n",
                     o.check.verdict == THostKeyCheck::kRevoked ? "revoked" : "recorded for it",
                     k.key.Kind().c_str(), k.key.Fingerprint().c_str(), k.file.c_str(), k.line);
      }
      std::fprintf(stderr, "brelo: not recorded: the key %s. Only if the host did change its key, remove that line "
                           "on purpose and run this again\n",
                   o.check.verdict == THostKeyCheck::kRevoked ? "is revoked" : "differs from the recorded one");
      return kExitHostKeyChanged;
    case THostKeyCheck::kUnknown: break;
  }
  if (!cmd.yes) {
    if (::isatty(STDIN_FILENO) != 1) {
      std::fprintf(stderr, "brelo: not recorded: confirm it at a terminal, or give --yes\n");
      return kExitHostKeyUnknown;
    }
    if (!Confirmed(login.knownHosts)) {
      std::fprintf(stderr, "brelo: not recorded\n");
      return kExitHostKeyUnknown;
    }
  }
  if (const int err = RecordHostKey(login.knownHosts, login.host, login.port, o.key); err != 0) {
    std::fprintf(stderr, "brelo: %s\n", SjisToUtf8(CannotWriteText(login.knownHosts, err)).c_str());
    return kExitStore;
  }
  std::printf("brelo: recorded in %s\n", login.knownHosts.c_str());
  return kExitOk;
}

}  // namespace brelo
