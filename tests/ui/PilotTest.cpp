// The pilot mode as cron runs it: the real program, the demo host.
#include <gtest/gtest.h>

#include <QProcess>

#include "common/FileUtil.h"
#include "common/IniFile.h"
#include "common/Sjis.h"
#include "hosts/HostTable.h"
#include "store/MessageStore.h"
#include "store/ReservationBox.h"
#include "support/DemoHost.h"
#include "support/TempDir.h"

namespace brelo {
namespace {

struct TRun {
  int exit = -1;
  std::string out, err;
};

TRun Pilot(const std::string& home, const QStringList& args) {
  QProcess p;
  p.start(BRELO_PROGRAM, QStringList{"--home", QString::fromStdString(home)} + args);
  p.waitForFinished(60000);
  return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, p.readAllStandardOutput().toStdString(),
          p.readAllStandardError().toStdString()};
}

void HostList(const std::string& home, const std::string& address, const std::string& user = "TARO",
              const std::string& password = "taro") {
  THostTable t;
  t.HostCount = 1;
  t.HostTable[0] = THostTable::SampleEntry();
  t.HostTable[0].Title = Sjis("テスト局");
  t.HostTable[0].Address = address;
  t.HostTable[0].UserID = user;
  t.HostTable[0].Password = password;
  t.SaveHostList(home);
}

TEST(PilotMode, APassWritesFetchesStoresAndLogsOut) {
  test::TDemoHost host;
  test::TTempDir home;
  HostList(home.Path(), host.TelnetAddress());
  // A post waits in the box.
  TReservationBox box;
  box.HostFolder = home.Path() + "DEMO/";
  MakePath(box.HostFolder);
  const std::string name = box.AddReservation(8, Sjis("パイロットから"), "");
  test::WriteBytes(box.HostFolder + name, Sjis("自動で書き込みます") + "\r\n");

  TRun r = Pilot(home.Path(), {"--pilot", "テスト局", "--timeout", "60"});
  EXPECT_EQ(r.exit, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("ログインしました"), std::string::npos);
  EXPECT_NE(r.out.find("書き込みました....パイロットから"), std::string::npos);
  EXPECT_NE(r.out.find("ログアウトしました"), std::string::npos);
  EXPECT_EQ(r.out.find("taro"), std::string::npos);  // never the password
  // The write reached the host and left the box.
  EXPECT_NE(host.DataFile("msg/08.txt").find(Sjis("自動で書き込みます")), std::string::npos);
  box.LoadReservations();
  EXPECT_EQ(box.ReservationCount, 0);
  EXPECT_FALSE(FileExists(box.HostFolder + name));
  // Boards and messages are in the host's folder.
  TMessageStore store;
  store.HostFolder = box.HostFolder;
  store.LoadBoards();
  EXPECT_EQ(store.BoardTable[1].Name, "GENERAL");
  EXPECT_EQ(store.BoardTable[1].Active, 1);
  EXPECT_EQ(store.RecordCount(1), 7);
  std::vector<TVeskoMessage> e;
  store.ReadIndex(1, 999, e);
  EXPECT_EQ(SjisToUtf8(e[5].Title), "週末のオフ会");
  EXPECT_EQ(SjisToUtf8(store.ReadText(1, e[6].TextPos, e[6].TextLen)), "\r\n参加します！\r\n");
  EXPECT_FALSE(ReadWholeFile(box.HostFolder + ExpandDateName("%y%M%D.LOG"))->empty());
}

TEST(PilotMode, FailureExits) {
  test::TTempDir home;
  HostList(home.Path(), "telnet://127.0.0.1:1/");
  TRun unknown = Pilot(home.Path(), {"--pilot", "nowhere"});
  EXPECT_EQ(unknown.exit, 2);
  EXPECT_NE(unknown.err.find("nowhere"), std::string::npos);
  EXPECT_NE(unknown.err.find("テスト局"), std::string::npos);
  TRun refused = Pilot(home.Path(), {"--pilot", "0"});
  EXPECT_EQ(refused.exit, 1);
  EXPECT_NE(refused.out.find("接続エラーが発生しました"), std::string::npos);
  test::TDemoHost silent({"--silent"});
  HostList(home.Path(), silent.TelnetAddress());
  TRun late = Pilot(home.Path(), {"--pilot", "0", "--timeout", "2"});
  EXPECT_EQ(late.exit, 3);
  EXPECT_NE(late.err.find("disconnecting"), std::string::npos);
  TRun bad = Pilot(home.Path(), {"--pilot"});
  EXPECT_EQ(bad.exit, 2);
}

}  // namespace
}  // namespace brelo
