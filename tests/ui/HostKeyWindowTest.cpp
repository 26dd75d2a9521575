// The main window against the demo host behind the real OpenSSH server: a
// key nobody recorded brings up "ホストの鍵の確認" with its type and
// fingerprint, and each of its buttons, clicked, does what it says.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include "hosts/HostTable.h"
#include "support/SshdHost.h"
#include "support/TempDir.h"
#include "support/Wait.h"
#include "ui/HostKeyDialog.h"
#include "ui/MainForm.h"

namespace brelo {
namespace {

using test::WaitUntil;

TEST(HostKeyWindow, AnUnknownKeyIsShownByItsFingerprintAndEachButtonDoesWhatItSays) {
  if (const std::string why = test::TSshdHost::Missing(); !why.empty()) GTEST_SKIP() << why;
  test::TSshdHost host;
  test::TTempDir home, userSsh;
  {
    THostTable t;
    t.HostCount = 1;
    t.HostTable[0] = THostTable::SampleEntry();
    t.HostTable[0].Address = host.Address(test::TSshdHost::UserName());
    t.HostTable[0].SshKey = host.ClientKey();
    t.SaveHostList(home.Path());
  }
  TMainForm form(home.Path(), TAppSettings());
  TVeskoClient& client = form.Model().VeskoClient1;
  client.SshUserFolder = userSsh.Path();  // nothing of the account's own
  client.SshAgentSocket.clear();
  form.Model().Policy.Options.PassgoodbyeMessage = true;
  form.OptionsChanged();
  form.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));

  struct TCase {
    const char* button;  // clicked ("Enter": the Return key pressed); nullptr: no dialog is expected
    bool logsIn;
    bool recorded;       // afterwards
  };
  const std::vector<TCase> cases = {
      {"Enter", false, false},  // Enter alone lets no unchecked key in
      {"中止", false, false},
      {"今回だけ接続", true, false},
      {"接続して記憶する", true, true},
      {nullptr, true, true},  // known now: nobody is asked
  };
  for (const TCase& t : cases) {
    SCOPED_TRACE(t.button != nullptr ? t.button : "known");
    int dialogs = 0;
    QString shown;
    // The dialog runs its own loop: it is answered from a timer, by a click.
    QTimer clicker;
    QObject::connect(&clicker, &QTimer::timeout, [&] {
      auto* d = qobject_cast<THostKeyDialog*>(QApplication::activeModalWidget());
      if (d == nullptr || !d->isVisible()) return;
      ++dialogs;
      shown = d->windowTitle() + "\n" + d->Fingerprint->text();
      if (t.button != nullptr && std::string(t.button) == "Enter") QTest::keyClick(d, Qt::Key_Return);
      for (QPushButton* b : {d->RememberBtn, d->OnceBtn, d->StopBtn}) {
        if (t.button != nullptr && b->text() == QString::fromUtf8(t.button)) QTest::mouseClick(b, Qt::LeftButton);
      }
    });
    clicker.start(10);
    const int logins = host.Logins();
    QTest::mouseClick(form.SpeedButton1, Qt::LeftButton);
    ASSERT_TRUE(WaitUntil([&] { return client.SessionRunning(); }));
    ASSERT_TRUE(WaitUntil([&] { return !client.SessionRunning(); }, 60000));
    EXPECT_EQ(dialogs, t.button != nullptr ? 1 : 0);
    if (t.button != nullptr) {
      EXPECT_EQ(shown, QStringLiteral("ホストの鍵の確認\n種類: ED25519\n指紋: ") +
                           QString::fromStdString(host.HostKey().Fingerprint()));
    }
    EXPECT_EQ(host.Logins(), logins + (t.logsIn ? 1 : 0));
    EXPECT_EQ(test::ReadBytes(home.File("known_hosts")), t.recorded ? host.KnownHostsLine() : std::string());
  }
}

}  // namespace
}  // namespace brelo
