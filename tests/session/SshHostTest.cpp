// SSH hosts against the real OpenSSH server: sshd per test from a
// configuration in the test's folder, the demo host behind it in place of a
// shell. Whole passes store what passes against the host itself store; the
// host's key is checked as OpenSSH checks it, before anything else goes to
// the server; a refused login names what the server offers.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <optional>

#include "common/Sjis.h"
#include "hosts/HostTable.h"
#include "reader/MainModel.h"
#include "reader/Patrol.h"
#include "support/BreloRun.h"
#include "support/DemoHost.h"
#include "support/DemoPass.h"
#include "support/LibsshServer.h"
#include "support/SshdHost.h"
#include "support/TempDir.h"
#include "support/Wait.h"

extern char** environ;

namespace brelo {
namespace {

#define SKIP_WITHOUT_SSHD()                                                     \
  if (const std::string why = test::TSshdHost::Missing(); !why.empty()) GTEST_SKIP() << why

// A pass of the first host of a fresh host list in home: the host's own key
// and its user, the SSH folder of an empty home and no agent (nothing of the
// account running the tests is used), the model's state once it is over.
struct TSshPass {
  test::TQuietView view;
  test::TTempDir userSsh;
  std::unique_ptr<TMainModel> model;
  TSshPass(const std::string& home, const std::string& address, const std::string& key,
           const std::function<void(THostEntry&)>& adjust = {}) {
    model = std::make_unique<TMainModel>(home, view);
    view.store = &model->Store;
    model->Hosts.LoadHostList(home);
    THostEntry& e = model->Hosts.HostTable[0];
    e.Address = address;
    e.UserID = "TARO";
    e.Password = "taro";
    e.SshKey = key;
    if (adjust) adjust(e);
    model->VeskoClient1.SshUserFolder = userSsh.Path();
    model->VeskoClient1.SshAgentSocket.clear();
    model->Policy.Options.PassgoodbyeMessage = true;
    model->Policy.HostComboBoxChange(0);
    model->Policy.SpeedButton1Click(true);
    EXPECT_TRUE(test::WaitUntil([&] { return !model->VeskoClient1.SessionRunning(); }, 60000));
  }
  const TPassSummary& Summary() const { return model->Policy.Summary(); }
  std::string Folder() const { return model->Store.HostFolder; }
};

// The same pass over telnet and through sshd stores the same bytes: in
// both dialects, and when the host's line drops in the middle of a message
// (what came of it is stored, as over any other line).
TEST(SshHost, APassThroughSshdStoresByteForByteWhatThePassOverTelnetStores) {
  SKIP_WITHOUT_SSHD();
  struct TCase {
    const char* name;
    std::vector<std::string> options;  // the demo host's
    int status;                        // the pass's
    std::vector<std::string> files;    // of the host folder, none of them empty
    std::string last;                  // what GENERAL's text ends with
  };
  const std::vector<std::string> whole = {"Boards.Dat", "MES00.IDX", "MES00.TXT", "MES01.IDX",
                                          "MES01.TXT",  "MES03.IDX", "MES03.TXT"};
  const std::vector<TCase> cases = {
      {"Vesko", {}, kExitOk, whole, ""},
      {"KTBBS", {"--ktbbs"}, kExitOk, whole, ""},
      // 775 bytes into the listing: the fourth message's first line, and no more of it.
      {"the line dropped in a message", {"--drop-after", "775"}, kExitLineLost,
       {"MES00.IDX", "MES00.TXT", "MES01.IDX", "MES01.TXT"}, "#000004\r\n" + Sjis("たろうさん、いらっしゃいませ。") + "\r\n"},
  };
  for (const TCase& t : cases) {
    SCOPED_TRACE(t.name);
    const bool ktbbs = std::find(t.options.begin(), t.options.end(), "--ktbbs") != t.options.end();
    const auto kind = [&](THostEntry& e) { e.HostKind = ktbbs ? HK_ktbbs : HK_vesko; };
    test::TDemoHost plain(t.options);
    test::TTempDir plainHome;
    TSshPass want(plainHome.Path(), plain.TelnetAddress(), "", kind);
    EXPECT_EQ(PassStatus(want.Summary(), false), t.status);

    test::TSshdHost host({t.options, "", {}});
    test::TTempDir home;
    test::WriteBytes(home.File("known_hosts"), host.KnownHostsLine());
    TSshPass pass(home.Path(), host.Address(test::TSshdHost::UserName()), host.ClientKey(), kind);
    EXPECT_EQ(PassStatus(pass.Summary(), false), t.status) << "sshd:\n" << host.Log() << "\nthe host read:\n" << host.Received();
    EXPECT_EQ(pass.Summary().stored, want.Summary().stored);
    for (const std::string& f : t.files) {
      EXPECT_FALSE(test::ReadBytes(want.Folder() + f).empty()) << f;
      EXPECT_TRUE(test::ReadBytes(pass.Folder() + f) == test::ReadBytes(want.Folder() + f)) << f;
    }
    EXPECT_TRUE(test::ReadBytes(pass.Folder() + "MES01.TXT").ends_with(t.last));
    EXPECT_EQ(host.Logins(), 1);
  }
}

// One call of an SSH host by a bare session, up to its line (or why not):
// the known_hosts and the ssh folder of a home of its own, no agent.
struct TSshCall {
  test::TTempDir home;
  TVeskoClient c;
  std::vector<std::string> statuses;
  int asked = 0;               // the unknown-key question
  EHostKeyAnswer answer = EHostKeyAnswer::kRefuse;
  std::vector<bool> passphraseAgain;  // each passphrase question: whether it was asked again
  std::vector<std::string> passphrases;  // the answers, in turn
  std::optional<ELoginEnd> end;
  std::string words;

  explicit TSshCall(const std::string& address, const std::string& key = std::string()) {
    ::mkdir(UserSsh().c_str(), 0700);
    c.Address = address;
    c.UserID = "TARO";
    c.Password = "taro";
    c.SshKey = key;
    c.SshKnownHosts = home.File("known_hosts");
    c.SshUserFolder = UserSsh();
    c.SshAgentSocket.clear();
    c.TerminalType = "xterm";
    c.OnStatusOut = [this](TVeskoClient*, const std::string& s) { statuses.push_back(SjisToUtf8(s)); };
    c.OnUnknownHostKey = [this](TVeskoClient*, const std::string&, const THostKey&) {
      ++asked;
      return answer;
    };
    c.OnKeyPassphrase = [this](TVeskoClient*, const std::string&, bool again) -> std::optional<std::string> {
      passphraseAgain.push_back(again);
      if (passphrases.empty()) return std::nullopt;
      const std::string p = passphrases.front();
      passphrases.erase(passphrases.begin());
      return p;
    };
    c.OnLoginFailed = [this](TVeskoClient* s, ELoginEnd why, const std::string& w) {
      end = why;
      words = SjisToUtf8(w);
      s->Disconnect();
    };
  }
  std::string UserSsh() const { return home.Path() + "ssh/"; }
  bool Opened() const {
    return std::any_of(statuses.begin(), statuses.end(), [](const std::string& s) { return s.starts_with("SSH で接続しました"); });
  }
  // Calls the host and waits until the line is open or the session is
  // over; then hangs up. True when the line came up.
  bool Call(const std::function<void()>& whileOpen = {}) {
    statuses.clear();
    end.reset();
    c.Connect();
    EXPECT_TRUE(test::WaitUntil([&] { return Opened() || end || !c.WorkThreadRunning(); }, 30000));
    const bool open = Opened();
    if (open && whileOpen) whileOpen();
    if (c.SessionRunning()) c.Disconnect();
    EXPECT_TRUE(test::WaitUntil([&] { return !c.SessionRunning(); }));
    return open;
  }
  TSshOutcome Outcome() const { return c.LastLineError().ssh; }
};

bool Contains(const std::string& s, const std::string& part) { return s.find(part) != std::string::npos; }

TEST(SshHost, HostKeysAreCheckedAsOpenSshChecksThemBeforeAnythingElseGoesToTheServer) {
  SKIP_WITHOUT_SSHD();
  test::TSshdHost host;
  TSshCall call(host.Address(test::TSshdHost::UserName()), host.ClientKey());
  const std::string fingerprint = host.HostKey().Fingerprint();
  // Unknown, and nobody said yes: nothing of ours went to the server.
  EXPECT_FALSE(call.Call());
  EXPECT_EQ(call.asked, 1);
  EXPECT_EQ(call.end, ELoginEnd::kHostKeyUnknown);
  EXPECT_EQ(call.words, "ED25519 " + fingerprint);
  EXPECT_EQ(host.Logins(), 0);
  EXPECT_FALSE(Contains(host.Log(), "publickey")) << host.Log();
  EXPECT_FALSE(test::ReadBytes(call.home.File("known_hosts")).size() > 0);
  // This once: in, and nothing recorded.
  call.answer = EHostKeyAnswer::kOnce;
  EXPECT_TRUE(call.Call());
  EXPECT_EQ(host.Logins(), 1);
  EXPECT_TRUE(test::ReadBytes(call.home.File("known_hosts")).empty());
  // Remembered: recorded as OpenSSH records it, and OpenSSH finds it there.
  call.answer = EHostKeyAnswer::kRemember;
  EXPECT_TRUE(call.Call());
  EXPECT_EQ(test::ReadBytes(call.home.File("known_hosts")), host.KnownHostsLine());
  std::string found;
  EXPECT_EQ(test::RunProgram({"ssh-keygen", "-F", KnownHostName("127.0.0.1", host.Port()), "-f", call.home.File("known_hosts")}, &found), 0);
  EXPECT_TRUE(Contains(found, "found: line 1")) << found;
  // Known now: nobody is asked.
  EXPECT_TRUE(call.Call());
  EXPECT_EQ(call.asked, 3);
  // Known from the user's own known_hosts, which is read and never written.
  ::unlink(call.home.File("known_hosts").c_str());
  test::WriteBytes(call.UserSsh() + "known_hosts", "# the user's\n" + host.KnownHostsLine());
  call.answer = EHostKeyAnswer::kRemember;
  EXPECT_TRUE(call.Call());
  EXPECT_EQ(call.asked, 3);
  EXPECT_EQ(test::ReadBytes(call.UserSsh() + "known_hosts"), "# the user's\n" + host.KnownHostsLine());
  EXPECT_FALSE(test::ReadBytes(call.home.File("known_hosts")).size() > 0);
  // The host's key changes: refused before any login, both keys named.
  test::WriteBytes(call.home.File("known_hosts"), host.KnownHostsLine());
  const int logins = host.Logins();
  host.NewHostKey();
  EXPECT_FALSE(call.Call());
  EXPECT_EQ(call.asked, 3);
  EXPECT_EQ(call.end, ELoginEnd::kHostKeyChanged);
  EXPECT_TRUE(Contains(call.words, fingerprint)) << call.words;
  EXPECT_TRUE(Contains(call.words, host.HostKey().Fingerprint())) << call.words;
  EXPECT_EQ(host.Logins(), logins);
  const TSshOutcome o = call.Outcome();
  EXPECT_EQ(o.check.verdict, THostKeyCheck::kChanged);
  ASSERT_EQ(o.check.recorded.size(), 2u);  // the user's file and ours
  // A key revoked is refused wherever it is also recorded.
  test::WriteBytes(call.home.File("known_hosts"), "@revoked * " + host.KnownHostsLine().substr(host.KnownHostsLine().find(' ') + 1) +
                                                   host.KnownHostsLine());
  EXPECT_FALSE(call.Call());
  EXPECT_EQ(call.end, ELoginEnd::kHostKeyChanged);
  EXPECT_EQ(call.Outcome().check.verdict, THostKeyCheck::kRevoked);
  EXPECT_EQ(host.Logins(), logins);
}

// A flood fills the ring again and again: reading from the channel pauses
// and resumes each time, and every line arrives, however the resume and
// the reads meet.
TEST(SshHost, AFloodThatFillsTheRingTimeAndAgainArrivesWhole) {
  SKIP_WITHOUT_SSHD();
  constexpr int kLines = 1000000;
  test::TSshdHost host({{"--flood", std::to_string(kLines), "--flood-only"}, "", {}});
  TSshCall call(host.Address(test::TSshdHost::UserName()), host.ClientKey());
  test::WriteBytes(call.home.File("known_hosts"), host.KnownHostsLine());
  call.c.Connect();
  ASSERT_TRUE(test::WaitUntil([&] { return !call.c.SessionRunning(); }, 120000));
  EXPECT_TRUE(call.Opened());
  EXPECT_EQ(call.c.Ring().TakenCount(), static_cast<unsigned long long>(kLines));
}

// What a known_hosts file says of the server's key, by Brelo's reading and
// by OpenSSH's own client asked with the same file (strict checking, no
// login tried): the two agree on every form a line takes.
TEST(SshHost, AKnownHostsFileSaysWhatItSaysToOpenSsh) {
  SKIP_WITHOUT_SSHD();
  if (::access("/usr/bin/ssh", X_OK) != 0) GTEST_SKIP() << "/usr/bin/ssh is missing (openssh-client)";
  test::TSshdHost host;
  test::TTempDir dir;
  ASSERT_TRUE(test::MakeKeyPair(dir.File("other")) && test::MakeKeyPair(dir.File("ecdsa"), "ecdsa"));
  const std::string port = std::to_string(host.Port());
  const std::string name = KnownHostName("127.0.0.1", host.Port());
  const auto publicKey = [](const std::string& file) {
    const std::string line = test::ReadBytes(file + ".pub");
    return line.substr(0, line.find(' ', line.find(' ') + 1));  // type and key, without the comment
  };
  const std::string key = publicKey(host.Folder() + "host_key"), other = publicKey(dir.File("other")),
                    ecdsa = publicKey(dir.File("ecdsa"));
  struct TCase {
    const char* what;
    std::string lines;
    bool hashed;  // the names hashed by ssh-keygen -H
    THostKeyCheck::EVerdict verdict;
  };
  const std::vector<TCase> cases = {
      {"the key", name + " " + key + "\n", false, THostKeyCheck::kKnown},
      {"the key, its name hashed", name + " " + key + "\n", true, THostKeyCheck::kKnown},
      {"a pattern", "[127.0.0.*]:" + port + ",other.example " + key + "\n", false, THostKeyCheck::kKnown},
      {"a pattern and a negated one", "[127.0.0.*]:" + port + ",!" + name + " " + key + "\n", false, THostKeyCheck::kUnknown},
      {"the name without its port", "127.0.0.1 " + key + "\n", false, THostKeyCheck::kKnown},
      {"another key for the name without its port", "127.0.0.1 " + other + "\n", false, THostKeyCheck::kUnknown},
      {"another host", "[127.0.0.2]:" + port + " " + key + "\n", false, THostKeyCheck::kUnknown},
      {"another key of the type", "# comment\n" + name + " " + other + "\n", false, THostKeyCheck::kChanged},
      {"another key of the type, hashed", name + " " + other + "\n", true, THostKeyCheck::kChanged},
      {"a key of another type", name + " " + ecdsa + "\n", false, THostKeyCheck::kChanged},
      {"the key and another of the type", name + " " + other + "\n" + name + " " + key + "\n", false, THostKeyCheck::kKnown},
      {"the key revoked", "@revoked * " + key + "\n" + name + " " + key + "\n", false, THostKeyCheck::kRevoked},
      {"the key as an authority's", "@cert-authority * " + key + "\n", false, THostKeyCheck::kUnknown},
  };
  for (const TCase& t : cases) {
    SCOPED_TRACE(t.what);
    const std::string file = dir.File("known_hosts");
    test::WriteBytes(file, t.lines);
    if (t.hashed) {
      ASSERT_EQ(test::RunProgram({"ssh-keygen", "-q", "-H", "-f", file}), 0);
    }
    EXPECT_EQ(CheckHostKey({file}, "127.0.0.1", host.Port(), host.HostKey()).verdict, t.verdict);
    std::string said;
    test::RunProgram({"/usr/bin/ssh", "-F", "/dev/null", "-n", "-o", "BatchMode=yes", "-o", "StrictHostKeyChecking=yes",
                      "-o", "UserKnownHostsFile=" + file, "-o", "GlobalKnownHostsFile=/dev/null", "-o",
                      "PreferredAuthentications=none", "-p", port, "nobody@127.0.0.1", "true"},
                     &said);
    const THostKeyCheck::EVerdict openSsh =
        Contains(said, "REVOKED HOST KEY") ? THostKeyCheck::kRevoked
        : Contains(said, "HOST IDENTIFICATION HAS CHANGED") ? THostKeyCheck::kChanged
        : Contains(said, "Host key verification failed") ? THostKeyCheck::kUnknown
        : Contains(said, "Permission denied") ? THostKeyCheck::kKnown
                                              : THostKeyCheck::EVerdict(-1);
    EXPECT_EQ(openSsh, t.verdict) << said;
  }
}

// An ssh-agent of the test's own, holding one key.
struct TAgent {
  test::TTempDir dir;
  pid_t pid = -1;
  std::string socket;
  explicit TAgent(const std::string& key) {
    socket = dir.File("agent");
    const char* argv[] = {"ssh-agent", "-D", "-a", socket.c_str(), nullptr};
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
    ::posix_spawnp(&pid, "ssh-agent", &fa, nullptr, const_cast<char**>(argv), environ);
    posix_spawn_file_actions_destroy(&fa);
    test::WaitUntil([&] { return ::access(socket.c_str(), F_OK) == 0; });
    EXPECT_EQ(test::RunProgram({"env", "SSH_AUTH_SOCK=" + socket, "ssh-add", "-q", key}), 0);
  }
  ~TAgent() {
    ::kill(pid, SIGTERM);
    ::waitpid(pid, nullptr, 0);
  }
};

TEST(SshHost, TheLoginTriesTheHostsKeyTheAgentTheDefaultKeysInThatOrder) {
  SKIP_WITHOUT_SSHD();
  test::TSshdHost host;
  const std::string address = host.Address(test::TSshdHost::UserName());
  test::TTempDir keys;
  const auto known = [&](TSshCall& call) { test::WriteBytes(call.home.File("known_hosts"), host.KnownHostsLine()); };
  const auto defaultKey = [&](TSshCall& call) {
    test::WriteBytes(call.UserSsh() + "id_ed25519", test::ReadBytes(host.ClientKey()));
    ::chmod((call.UserSsh() + "id_ed25519").c_str(), 0600);
    test::WriteBytes(call.UserSsh() + "id_ed25519.pub", test::ReadBytes(host.ClientKey() + ".pub"));
  };
  ASSERT_TRUE(test::MakeKeyPair(keys.File("stranger")));
  {
    SCOPED_TRACE("the host's key before a default key that would do too");
    TSshCall call(address, host.ClientKey());
    known(call);
    defaultKey(call);
    EXPECT_TRUE(call.Call());
    EXPECT_EQ(call.Outcome().method, "publickey");
    EXPECT_EQ(call.Outcome().keyFile, host.ClientKey());
  }
  {
    SCOPED_TRACE("the agent before a default key");
    TAgent agent(host.ClientKey());
    TSshCall call(address);
    known(call);
    defaultKey(call);
    call.c.SshAgentSocket = agent.socket;
    EXPECT_TRUE(call.Call());
    EXPECT_EQ(call.Outcome().method, "agent");
  }
  {
    SCOPED_TRACE("a default key");
    TSshCall call(address, keys.File("stranger"));
    known(call);
    defaultKey(call);
    EXPECT_TRUE(call.Call());
    EXPECT_EQ(call.Outcome().keyFile, call.UserSsh() + "id_ed25519");
  }
  {
    SCOPED_TRACE("a key with a passphrase, given wrong once");
    ASSERT_TRUE(test::MakeKeyPair(keys.File("locked"), "ed25519", "open sesame"));
    test::WriteBytes(host.Folder() + "authorized_keys", test::ReadBytes(keys.File("locked.pub")));
    TSshCall call(address, keys.File("locked"));
    known(call);
    call.passphrases = {"wrong", "open sesame"};
    EXPECT_TRUE(call.Call());
    EXPECT_EQ(call.passphraseAgain, (std::vector<bool>{false, true}));
    EXPECT_EQ(call.Outcome().keyFile, keys.File("locked"));
  }
  {
    SCOPED_TRACE("a key nobody unlocks, then a key the server does not take: refused, the methods named");
    for (const std::string& key : {keys.File("locked"), keys.File("stranger")}) {
      TSshCall call(address, key);
      known(call);
      if (key == keys.File("stranger")) test::WriteBytes(host.Folder() + "authorized_keys", test::ReadBytes(host.ClientKey() + ".pub"));
      EXPECT_FALSE(call.Call());
      EXPECT_EQ(call.end, ELoginEnd::kSshRefused);
      EXPECT_EQ(call.words, "サーバーが受け付ける方法: publickey");
      EXPECT_TRUE(std::find(call.statuses.begin(), call.statuses.end(),
                            "SSH のログインを拒否されました (サーバーが受け付ける方法: publickey)") != call.statuses.end());
    }
  }
}

TEST(SshHost, PasswordAndKeyboardInteractiveGoOnceAndOnlyToAVerifiedServer) {
  struct TCase {
    const char* name;
    bool password, kbdint;  // what the server offers
    std::string given;      // the host's password
    bool known;             // the server's key is recorded
    bool opens;
    std::vector<std::string> events;  // the server's record of the logins tried
  };
  const std::vector<TCase> cases = {
      {"password", true, true, "secret", true, true, {"none", "password secret"}},
      {"keyboard-interactive", false, true, "secret", true, true, {"none", "keyboard-interactive secret"}},
      {"wrong, each way once", true, true, "guess", true, false, {"none", "password guess", "keyboard-interactive guess"}},
      {"no password, nothing sent", true, true, "", true, false, {"none"}},
      {"a server not verified gets nothing", true, true, "secret", false, false, {}},
  };
  for (const TCase& t : cases) {
    SCOPED_TRACE(t.name);
    test::TLibsshServer server({"taro", "secret", t.password, t.kbdint});
    TSshCall call(server.Address());
    call.c.Password = t.given;
    if (t.known) test::WriteBytes(call.home.File("known_hosts"), server.KnownHostsLine());
    EXPECT_EQ(call.Call([&] {
      // The terminal as asked for, told its new size, and a line ending as the Return key ends it.
      call.c.SetWindowSize(100, 30);
      call.c.SendLine("hello");
      EXPECT_TRUE(test::WaitUntil([&] { return server.Saw("data hello\r"); }));
      EXPECT_TRUE(test::WaitUntil([&] { return server.Saw("size 100x30"); }));
    }), t.opens);
    std::vector<std::string> logins;
    for (const std::string& e : server.Events()) {
      if (e == "none" || e.starts_with("password") || e.starts_with("keyboard") || e == "publickey") logins.push_back(e);
    }
    EXPECT_EQ(logins, t.events);
    if (t.opens) {
      EXPECT_TRUE(server.Saw("pty xterm 80x24"));
      EXPECT_FALSE(server.Saw("data hello\r\n"));
    } else if (t.known) {
      EXPECT_EQ(call.words, std::string("サーバーが受け付ける方法: publickey,") + (t.password ? "password," : "") + "keyboard-interactive");
    }
  }
}

// The command line: a pilot pass never accepts a key nobody recorded, nor
// one that changed, and says so by a status of its own with the
// fingerprints; --trust-host-key records a new key when told to, never a
// changed one.
TEST(SshHost, ThePilotRefusesAnUnknownOrChangedKeyAndTrustHostKeyRecordsOnlyANewOne) {
  SKIP_WITHOUT_SSHD();
  test::TSshdHost host;
  test::TTempDir home;
  {
    THostTable t;
    t.HostCount = 1;
    t.HostTable[0] = THostTable::SampleEntry();
    t.HostTable[0].Address = host.Address(test::TSshdHost::UserName());
    t.HostTable[0].UserID = "TARO";
    t.HostTable[0].Password = "taro";
    t.HostTable[0].SshKey = host.ClientKey();
    t.SaveHostList(home.Path());
  }
  const std::string known = home.File("known_hosts");
  const std::string first = host.HostKey().Fingerprint();
  struct TStep {
    const char* name;
    QStringList args;
    int exit;
    std::vector<std::string> says;  // on standard output or error
    int logins;                     // sshd's, in all, afterwards
    bool recorded;                  // the first key is in known_hosts afterwards
  };
  const std::vector<TStep> steps = {
      {"an unknown key", {"--pilot", "0"}, 15, {"ED25519 key " + first, "brelo --trust-host-key 0"}, 0, false},
      {"no terminal to confirm at", {"--trust-host-key", "0"}, 15, {first, "confirm it at a terminal"}, 0, false},
      {"recorded", {"--trust-host-key", "0", "--yes"}, 0, {"ED25519 key " + first, "recorded in"}, 0, true},
      {"a pass", {"--pilot", "0"}, 0, {": done (0)"}, 1, true},
  };
  const auto run = [&](const TStep& t) {
    SCOPED_TRACE(t.name);
    const test::TRun r = test::Brelo(home.Path(), t.args, "", 60000);
    EXPECT_EQ(r.exit, t.exit) << r.out << r.err;
    for (const std::string& w : t.says) EXPECT_TRUE(Contains(r.out + r.err, w)) << w << "\n" << r.out << r.err;
    EXPECT_EQ(host.Logins(), t.logins) << host.Log();
    EXPECT_EQ(test::ReadBytes(known), t.recorded ? host.KnownHostsLine() : std::string());
  };
  for (const TStep& t : steps) run(t);
  // The host's key changes: refused before any login, both keys named, and
  // never recorded over the old one.
  const std::string recorded = host.KnownHostsLine();
  host.NewHostKey();
  const std::string second = host.HostKey().Fingerprint();
  for (const QStringList& args : {QStringList{"--pilot", "0"}, QStringList{"--trust-host-key", "0", "--yes"}}) {
    SCOPED_TRACE(args.join(' ').toStdString());
    const test::TRun r = test::Brelo(home.Path(), args, "", 60000);
    EXPECT_EQ(r.exit, 16) << r.out << r.err;
    EXPECT_TRUE(Contains(r.out + r.err, first) && Contains(r.out + r.err, second)) << r.out << r.err;
    EXPECT_EQ(host.Logins(), 1);
    EXPECT_EQ(test::ReadBytes(known), recorded);
  }
}

}  // namespace
}  // namespace brelo
