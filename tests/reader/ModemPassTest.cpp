// Whole passes of the policy over a modem on a pseudo-terminal, the test
// playing the modem and the host: a hang-up in the middle of a message line
// leaves the host's whole lines only, and the next pass completes them;
// numbers a record cannot hold are never stored under another one.
#include <gtest/gtest.h>

#include "common/DateTime.h"
#include "common/FileUtil.h"
#include "common/Sjis.h"
#include "reader/MainModel.h"
#include "support/DemoPass.h"
#include "support/Pty.h"
#include "support/TempDir.h"
#include "support/Wait.h"

namespace brelo {
namespace {

const std::string kPrompt = "MAIN (A,C,E,N,Q,T,U,W,?)>";

std::string Message(long long no, const std::string& body) {
  char head[64];
  std::snprintf(head, sizeof head, "Message  #%04lld is from: TARO ", no);
  return head + Sjis("たろう") + "\r\nTime: 98/03/15 21:07:33  Section 1:" + Sjis("雑談") + "\r\nSubj: title " +
         std::to_string(no) + "\r\n" + body;
}

std::string Listing(const std::string& messages) {
  return "\r\n" + Sjis("日付が 98/01/01 以降のものを読みます。") + "\r\n0001: GENERAL  " + Sjis("雑談") + "\r\n" +
         messages;
}

class ModemPass : public ::testing::Test {
 protected:
  test::TTempDir dir;
  test::TQuietView view;
  std::unique_ptr<TMainModel> model;

  void SetUp() override {
    model = std::make_unique<TMainModel>(dir.Path(), view);
    view.store = &model->Store;
    model->Hosts.LoadHostList(dir.Path());
    THostEntry& e = model->Hosts.HostTable[0];
    e.Address = "tel://0312345678/";
    e.UserID = "TARO";
    e.Password = "p";
    model->Policy.HostComboBoxChange(0);
    model->Policy.Options.SealthLogin = false;
    model->Policy.Options.CheckBox7 = false;
  }

  // One call: the modem connects, the host logs the caller in and answers
  // the unread fetch with `listing`. Then the modem loses the carrier, or the
  // host shows its prompt again and says goodbye to the logout.
  void Pass(const std::string& listing, bool carrierLost) {
    test::TPty pty;
    pty.WatchCaller();
    model->VeskoClient1.ModemDevice = pty.SlavePath();
    model->Policy.SpeedButton1Click(true);
    ASSERT_NE(pty.ReadUntil("ATD0312345678\r\n").find("ATD"), std::string::npos);
    pty.Write("\r\nCONNECT 9600\r\nID: ");
    ASSERT_NE(pty.ReadUntil("TARO\r\n").find("TARO"), std::string::npos);
    pty.Write("\r\nPassword: ");
    ASSERT_NE(pty.ReadUntil("p\r\n").find("p\r\n"), std::string::npos);
    pty.Write("\r\n*CH01 TARO\r\n" + kPrompt);
    ASSERT_NE(pty.ReadUntil("N@ \r\n").find("N@ "), std::string::npos);
    pty.Write(listing);
    if (carrierLost) {
      pty.Write("\r\nNO CARRIER\r\n");
    } else {
      pty.Write("//\r\n*CH01 TARO\r\n" + kPrompt);
      ASSERT_NE(pty.ReadUntil("Q\r\n").find("Q\r\n"), std::string::npos);
      pty.Write(Sjis("さようなら。") + "\r\n\r\nNO CARRIER\r\n");
    }
    pty.HangUpWhenRead();
    ASSERT_TRUE(test::WaitUntil([&] { return !model->VeskoClient1.SessionRunning(); }, 60000));
  }

  std::vector<TVeskoMessage> Board(int board) {
    std::vector<TVeskoMessage> e;
    model->Store.ReadIndex(board, 999, e);
    return e;
  }
  std::string Text(int board, const TVeskoMessage& m) { return model->Store.ReadText(board, m.TextPos, m.TextLen); }
};

TEST_F(ModemPass, NoCarrierInTheMiddleOfALineIsNotTextAndTheNextPassCompletesTheMessage) {
  const std::string first = Message(1, "line a\r\nline b\r\n");
  const std::string whole = "first line\r\nsecond line\r\nthird line\r\n";
  Pass(Listing(first + Message(2, "first line\r\nsecond li")), true);
  std::vector<TVeskoMessage> e = Board(1);
  ASSERT_EQ(e.size(), 2u);
  EXPECT_EQ(Text(1, e[0]), "\r\nline a\r\nline b\r\n");
  EXPECT_EQ(Text(1, e[1]), "\r\nfirst line\r\n");  // the half line and the modem's words are not the host's
  EXPECT_EQ(model->Policy.Summary().stored, 2);

  Pass(Listing(first + Message(2, whole)), false);
  e = Board(1);
  ASSERT_EQ(e.size(), 2u);
  EXPECT_EQ(Text(1, e[1]), "\r\n" + whole);
  EXPECT_EQ(e[1].MesNo, 2);
  EXPECT_EQ(model->Policy.Summary().duplicates, 1);
  EXPECT_EQ(model->Policy.Summary().completed, 1);
  EXPECT_TRUE(model->Policy.Summary().loggedOut);
}

TEST_F(ModemPass, ANumberBeyondTheRecordIsRefusedInTheLogAndNeverRenumbered) {
  const std::string listing =
      Listing(Message(2147483647LL, "the last number\r\n") + Message(2147483648LL, "one beyond\r\n"));
  for (int pass = 1; pass <= 2; ++pass) {
    Pass(listing, false);
    const TPassSummary& s = model->Policy.Summary();
    EXPECT_EQ(s.beyondRange, 1) << pass;
    EXPECT_EQ(s.stored, pass == 1 ? 1 : 0) << pass;
    EXPECT_EQ(s.duplicates, pass == 1 ? 0 : 1) << pass;
  }
  const std::vector<TVeskoMessage> e = Board(1);
  ASSERT_EQ(e.size(), 1u);
  EXPECT_EQ(e[0].MesNo, 2147483647);
  std::string block;
  model->Store.ReadTextSpan(1, e[0].TextPos, static_cast<size_t>(e[0].TextLen), block);
  EXPECT_EQ(block, "#2147483647\r\nthe last number\r\n");
  // The refused message stays in the session log, said so once a pass.
  const std::string log = *ReadWholeFile(model->Store.HostFolder + ExpandDateName("%y%M%D.LOG"));
  EXPECT_NE(log.find("Message  #2147483648"), std::string::npos);
  size_t notes = 0;
  for (size_t at = log.find(Sjis("#2147483648 は記録できる範囲")); at != std::string::npos;
       at = log.find(Sjis("#2147483648 は記録できる範囲"), at + 1)) {
    ++notes;
  }
  EXPECT_EQ(notes, 2u);
}

}  // namespace
}  // namespace brelo
