// SSH hosts against the real OpenSSH server: sshd per test from a
// configuration in the test's folder, the demo host behind it in place of a
// shell. Whole passes store what passes against the host itself store; the
// host's key is checked as OpenSSH checks it, before anything else goes to
// the server; a refused login names what the server offers.
#include <gtest/gtest.h>

#include <functional>

#include "common/Sjis.h"
#include "hosts/HostTable.h"
#include "reader/MainModel.h"
#include "support/DemoHost.h"
#include "support/DemoPass.h"
#include "support/SshdHost.h"
#include "support/TempDir.h"
#include "support/Wait.h"

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

TEST(SshHost, APassThroughSshdStoresWhatAPassAgainstTheHostStoresInBothDialects) {
  SKIP_WITHOUT_SSHD();
  for (const bool ktbbs : {false, true}) {
    SCOPED_TRACE(ktbbs ? "KTBBS" : "Vesko");
    const std::vector<std::string> options = ktbbs ? std::vector<std::string>{"--ktbbs"} : std::vector<std::string>{};
    const auto kind = [&](THostEntry& e) {
      e.UserID = "TARO";
      e.Password = "taro";
      e.HostKind = ktbbs ? HK_ktbbs : HK_vesko;
    };
    test::TDemoHost plain(options);
    test::TTempDir plainHome;
    const std::string want = test::PassThatLogsOut(plainHome.Path(), plain.TelnetAddress(), kind);
    ASSERT_FALSE(want.empty());

    test::TSshdHost host({options, "", {}});
    test::TTempDir home;
    test::WriteBytes(home.File("known_hosts"), host.KnownHostsLine());
    TSshPass pass(home.Path(), host.Address(test::TSshdHost::UserName()), host.ClientKey(), kind);
    ASSERT_TRUE(pass.Summary().loggedOut) << "sshd:\n" << host.Log() << "\nthe host read:\n" << host.Received();
    for (const char* f : {"Boards.Dat", "MES00.IDX", "MES00.TXT", "MES01.IDX", "MES01.TXT", "MES03.IDX", "MES03.TXT"}) {
      EXPECT_FALSE(test::ReadBytes(want + f).empty()) << f;
      EXPECT_TRUE(test::ReadBytes(pass.Folder() + f) == test::ReadBytes(want + f)) << f;
    }
    EXPECT_EQ(host.Logins(), 1);
  }
}

}  // namespace
}  // namespace brelo
