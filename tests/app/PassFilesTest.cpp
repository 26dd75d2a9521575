// The files of a pass: what the host took from UP/ moves to UP/sent/, what
// it did not stays, and the pilot's summary line names both.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/Pilot.h"
#include "common/FileUtil.h"
#include "reader/MainModel.h"
#include "support/DemoHost.h"
#include "support/DemoPass.h"
#include "support/TempDir.h"
#include "support/Wait.h"

namespace brelo {
namespace {

TEST(PassFiles, XmodemSendsOneFileAPassAndOnlyTheSentOneMoves) {
  test::TDemoHost host;
  test::TTempDir home;
  test::TQuietView view;
  TMainModel model(home.Path(), view);
  view.store = &model.Store;
  model.Hosts.LoadHostList(home.Path());
  THostEntry& e = model.Hosts.HostTable[0];
  e.Address = host.TelnetAddress();
  e.UploadCommand = "UPX first.bin";  // XMODEM carries no name: the host is told one
  model.VeskoClient1.ModemPort().Protocol = pr_XMODEM_SUM_128;
  model.Policy.Options.PassgoodbyeMessage = true;
  const std::string up = home.Path() + e.FilePath + "/UP/";
  ASSERT_TRUE(MakePath(up));
  // Whole XMODEM blocks: the protocol pads the last one.
  test::WriteBytes(up + "a.bin", std::string(5120, 'a'));
  test::WriteBytes(up + "b.bin", std::string(7168, 'b'));
  model.Policy.HostComboBoxChange(0);
  model.Policy.SpeedButton1Click(true);
  ASSERT_TRUE(test::WaitUntil([&] { return !model.VeskoClient1.SessionRunning(); }, 120000));
  const TPassSummary& s = model.Policy.Summary();
  ASSERT_TRUE(s.loggedOut);
  EXPECT_EQ(host.DataFile("upload/first.bin"), std::string(5120, 'a'));
  EXPECT_TRUE(FileExists(up + "sent/a.bin"));
  EXPECT_FALSE(FileExists(up + "a.bin"));
  EXPECT_TRUE(FileExists(up + "b.bin"));  // for the next pass
  EXPECT_FALSE(FileExists(up + "sent/b.bin"));
  EXPECT_EQ(s.uploaded, std::vector<std::string>{"a.bin"});
  EXPECT_EQ(s.notUploaded, std::vector<std::string>{"b.bin"});
  EXPECT_EQ(FilesSummary(s, "/h/"),
            "files: downloaded none into /h/DOWN/; uploaded a.bin; not uploaded (left in UP/): b.bin; 0 transfer(s) "
            "failed");
}

TEST(PassFiles, TheSummaryNamesWhatArrivedWholeApartFromWhatDidNot) {
  TPassSummary s;
  EXPECT_EQ(FilesSummary(s, "/h/"), "");
  s.downloaded = {"a.txt", "b.txt"};
  s.notDownloaded = {"c.bin.part"};
  s.uploaded = {"x.bin"};
  s.notUploaded = {"y.bin", "z.bin"};
  s.transfersFailed = 2;
  EXPECT_EQ(FilesSummary(s, "/nowhere/"),
            "files: downloaded a.txt, b.txt into /nowhere/DOWN/; not downloaded: c.bin.part; uploaded x.bin; not "
            "uploaded (left in UP/): y.bin, z.bin; 2 transfer(s) failed");
}

}  // namespace
}  // namespace brelo
