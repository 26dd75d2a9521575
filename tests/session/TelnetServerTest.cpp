// Against a real telnet server: inetutils' telnetd with the demo host behind
// it in place of login. Its options (binary mode among them) are answered,
// and a whole pass stores exactly what a pass against the host itself does.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "common/Sjis.h"
#include "hosts/HostTable.h"
#include "session/VeskoClient.h"
#include "support/DemoHost.h"
#include "support/DemoPass.h"
#include "support/TelnetdHost.h"
#include "support/TempDir.h"
#include "support/Wait.h"

namespace brelo {
namespace {

// A member with a password: an empty line would answer the password prompt.
void Member(THostEntry& e) {
  e.UserID = "TARO";
  e.Password = "taro";
}

TEST(TelnetServer, APassThroughTelnetdStoresWhatAPassAgainstTheHostStores) {
  test::TDemoHost plain;
  test::TTempDir plainHome;
  const std::string want = test::PassThatLogsOut(plainHome.Path(), plain.TelnetAddress(), Member);
  ASSERT_FALSE(want.empty());

  // telnetd asks for binary mode at once; a line end in binary mode would
  // reach the host as two, and the empty one would answer the next prompt.
  test::TTelnetdHost host;
  test::TTempDir home;
  const std::string folder = test::PassThatLogsOut(home.Path(), host.TelnetAddress(), Member);
  ASSERT_FALSE(folder.empty()) << "what the host read:\n" << host.Received();
  for (const char* f : {"Boards.Dat", "MES00.IDX", "MES00.TXT", "MES01.IDX", "MES01.TXT", "MES03.IDX", "MES03.TXT"}) {
    EXPECT_FALSE(test::ReadBytes(want + f).empty()) << f;
    EXPECT_TRUE(test::ReadBytes(folder + f) == test::ReadBytes(want + f)) << f;
  }
}

// The lines a session reads up to the host's ID prompt.
std::vector<std::string> LinesUpToTheIdPrompt(const std::string& address) {
  TVeskoClient c;
  c.Address = address;
  c.UserID = "TARO";
  std::vector<std::string> lines;
  bool prompt = false;
  c.OnReceiveLine = [&](TVeskoClient*, const std::string& l) { lines.push_back(l); };
  c.OnStatusOut = [&](TVeskoClient*, const std::string& s) { prompt = prompt || s == Sjis("ID送出待機中"); };
  c.Connect();
  EXPECT_TRUE(test::WaitUntil([&] { return prompt; }, 20000));
  c.Disconnect();
  // The prompt's own line is read, or not, as the reads fall: it is left out.
  const auto id = std::find_if(lines.begin(), lines.end(), [](const std::string& l) { return l.find("ID") != std::string::npos; });
  lines.erase(id, lines.end());
  return lines;
}

TEST(TelnetServer, TelnetdsLineEndsMakeOneLineEndEach) {
  // A host program that writes CR LF to its terminal, whose output
  // processing adds a CR: telnetd sends CR NUL CR LF. One line end, not a
  // line and an empty one.
  test::TDemoHost plain;
  const std::vector<std::string> want = LinesUpToTheIdPrompt(plain.TelnetAddress());
  ASSERT_GE(want.size(), 3u);
  test::TTelnetdHost host({"--tty-output"});
  EXPECT_EQ(LinesUpToTheIdPrompt(host.TelnetAddress()), want);
}

}  // namespace
}  // namespace brelo
