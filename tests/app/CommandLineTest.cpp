// The command line as a Linux user types it.
#include "app/CommandLine.h"

#include <gtest/gtest.h>

namespace brelo {
namespace {

TCommandLine Parse(const std::vector<std::string>& args) { return ParseCommandLine(args); }

TEST(CommandLine, ValuesAfterASpaceOrAnEqualsSignAndQtsOwnOptions) {
  TCommandLine c = Parse({"--home=/x/y", "--pilot", "デモ", "--timeout=30"});
  EXPECT_EQ(c.error, "");
  EXPECT_EQ(c.action, TCommandLine::kPilot);
  EXPECT_EQ(c.home, "/x/y");
  EXPECT_EQ(c.host, "デモ");
  EXPECT_EQ(c.timeoutSeconds, 30);
  EXPECT_EQ(Parse({"--pilot", "0"}).timeoutSeconds, 600);  // never unbounded
  c = Parse({"--pilot", "all", "-q", "--lock-wait=0"});
  EXPECT_EQ(c.host, "all");
  EXPECT_TRUE(c.quiet);
  EXPECT_EQ(c.lockWaitSeconds, 0);
  EXPECT_EQ(Parse({"--pilot", "0"}).lockWaitSeconds, 15);
  // Qt's options pass; the window is still what is asked for.
  c = Parse({"-platform", "offscreen", "-session", "abc", "-display", ":1", "--home", "/h"});
  EXPECT_EQ(c.error, "");
  EXPECT_EQ(c.action, TCommandLine::kWindow);
  EXPECT_TRUE(c.qtPlatformGiven);
  EXPECT_EQ(c.home, "/h");
  // "--" lets a text start with "-".
  c = Parse({"--search", "0", "--", "-minus-"});
  EXPECT_EQ(c.error, "");
  EXPECT_EQ(c.action, TCommandLine::kSearch);
  EXPECT_EQ(c.text, "-minus-");
  c = Parse({"--recapture", "0", "/tmp/a.LOG"});
  EXPECT_EQ(c.action, TCommandLine::kRecapture);
  EXPECT_EQ(c.text, "/tmp/a.LOG");
  c = Parse({"--export", "0", "--board", "3", "--format", "mbox"});
  EXPECT_EQ(c.board, 3);
  EXPECT_EQ(c.format, "mbox");
  c = Parse({"--add-host", "草の根", "--address", "telnet://bbs.example.jp:2323/", "--user-id", "TARO",
             "--handle=たろう", "--kind", "ktbbs", "--folder", "KUSA", "--encoding", "euc-jp"});
  EXPECT_EQ(c.error, "");
  EXPECT_EQ(c.action, TCommandLine::kAddHost);
  EXPECT_EQ(c.host, "草の根");
  EXPECT_EQ(c.address, "telnet://bbs.example.jp:2323/");
  EXPECT_EQ(c.userId + c.handle + c.kind + c.hostFolder + c.encoding, "TAROたろうktbbsKUSAeuc-jp");
  EXPECT_EQ(Parse({"--remove-host", "2"}).action, TCommandLine::kRemoveHost);
  EXPECT_EQ(Parse({"--list-hosts"}).action, TCommandLine::kListHosts);
  EXPECT_EQ(Parse({"--pilot", "all", "--jobs", "8"}).jobs, 8);
  EXPECT_EQ(Parse({"--pilot", "all"}).jobs, 1);
  EXPECT_EQ(Parse({"-h"}).action, TCommandLine::kHelp);
  EXPECT_EQ(Parse({"--version"}).action, TCommandLine::kVersion);
}

TEST(CommandLine, WhatIsRefusedSaysWhy) {
  for (const auto& [args, part] : std::vector<std::pair<std::vector<std::string>, std::string>>{
           {{"--pilot"}, "--pilot"},
           {{"--bogus"}, "bogus"},
           {{"--timeout", "0", "--pilot", "0"}, "--timeout"},
           {{"--timeout", "x"}, "--timeout"},
           {{"--lock-wait", "-1", "--pilot", "0"}, "--lock-wait"},
           {{"--board", "100", "--export", "0"}, "--board"},
           {{"--format", "pdf", "--export", "0"}, "--format"},
           {{"--search", "0"}, "TEXT"},
           {{"--pilot", "0", "extra"}, "extra"},
           {{"--pilot", "0", "--export", "1"}, "one at a time"},
           {{"--pilot", "0", "--jobs", "0"}, "--jobs"},
           {{"--list-hosts", "--remove-host", "0"}, "one at a time"},
           {{"--add-host", "A", "--address", "x"}, "--user-id"},
           {{"--add-host", "A", "--address", "x", "--user-id", "U", "--kind", "big"}, "--kind"},
           {{"--add-host", "A", "--address", "x", "--user-id", "U", "--encoding", "latin1"}, "--encoding"},
           {{"--add-host", "A", "--address", "x", "--user-id", "U", "--line", "tcp"}, "--line"},
           {{"--pilot", "0", "--line", "raw"}, "go with --add-host"},
           {{"--pilot", "0", "--address", "x"}, "go with --add-host"}}) {
    const TCommandLine c = Parse(args);
    EXPECT_NE(c.error.find(part), std::string::npos) << args.front() << ": " << c.error;
  }
}

TEST(CommandLine, HelpNamesTheFolderRuleAndEveryExitStatus) {
  const std::string h = HelpText();
  for (const char* part : {"--home DIR", "$BRELO_HOME", "brelo.portable", "$XDG_DATA_HOME/brelo", "~/.local/share/brelo"}) {
    EXPECT_NE(h.find(part), std::string::npos) << part;
  }
  for (int status = 0; status <= 11; ++status) {
    EXPECT_NE(h.find("\n  " + std::to_string(status) + (status < 10 ? "  " : " ")), std::string::npos) << status;
  }
}

}  // namespace
}  // namespace brelo
