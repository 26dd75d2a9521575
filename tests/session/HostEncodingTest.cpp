// Hosts that speak EUC-JP or UTF-8: their bytes become Shift-JIS at the edge
// of the receive path wherever the reads split them, ours leave in their
// encoding, and a pass stores exactly what a pass against a Shift-JIS host
// stores.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/HostEncoding.h"
#include "common/Sjis.h"
#include "session/LineRing.h"
#include "session/VeskoClient.h"
#include "support/DemoHost.h"
#include "support/DemoPass.h"
#include "support/Loopback.h"
#include "support/SessionRecorder.h"
#include "support/TempDir.h"
#include "support/Wait.h"

namespace brelo {
namespace {

struct TDecoded {
  std::string text;
  unsigned long long replaced = 0;
  size_t pending = 0;
  bool operator==(const TDecoded&) const = default;
};

TDecoded Decode(EHostEncoding e, const std::vector<std::string>& chunks) {
  THostDecoder d(e);
  d.SetEncoding(e);
  TDecoded r;
  for (const std::string& c : chunks) d.Decode(c.data(), c.size(), r.text);
  r.replaced = d.Replaced();
  r.pending = d.Pending();
  return r;
}

// The same bytes whole, cut in two at every offset, and byte by byte.
void ExpectSplitInvariant(EHostEncoding e, const std::string& bytes, const TDecoded& want) {
  EXPECT_EQ(Decode(e, {bytes}), want);
  for (size_t cut = 1; cut < bytes.size(); ++cut) {
    EXPECT_EQ(Decode(e, {bytes.substr(0, cut), bytes.substr(cut)}), want) << "cut at " << cut;
  }
  std::vector<std::string> single;
  for (char c : bytes) single.emplace_back(1, c);
  EXPECT_EQ(Decode(e, single), want);
}

const std::string kGeta = Sjis("〓");

TEST(HostEncoding, Utf8BecomesShiftJisWhereverTheReadsSplitIt) {
  // Kanji, kana, half-width katakana, the circled digit of the NEC rows,
  // an IBM extension, and ASCII with the backslash and tilde.
  const std::string text = "Subj: 漢字かなｶﾀｶﾅ①髙 a\\b~c\r\n";
  ExpectSplitInvariant(EHostEncoding::kUtf8, text, {Sjis(text), 0, 0});
  // Beyond Shift-JIS: an emoji, a Latin letter with accent, and bytes that
  // are no UTF-8 (a lone continuation, an over-long form, a cut sequence
  // followed by ASCII): one "〓" each, counted.
  const std::string odd = "a\xF0\x9F\x98\x80" "b\xC3\xA9" "c\x80" "d\xC0\xAF" "e\xE3\x81" "f";
  const std::string want = "a" + kGeta + "b" + kGeta + "c" + kGeta + "d" + kGeta + kGeta + "e" + kGeta + "f";
  ExpectSplitInvariant(EHostEncoding::kUtf8, odd, {want, 6, 0});
  // A character begun at the end of what arrived waits for its rest.
  EXPECT_EQ(Decode(EHostEncoding::kUtf8, {"x\xE3\x81"}), (TDecoded{"x", 0, 2}));
}

TEST(HostEncoding, TheSevenCharactersWithTwoUnicodeFormsArriveWholeAndLeaveInTheJisForms) {
  // 〜 − ‖ ¢ £ ¬ — in Shift-JIS, as the JIS tables put them in UTF-8 (a Unix
  // host's usual form), as code page 932 does, and in EUC-JP.
  const std::string sjis = "\x81\x60\x81\x7C\x81\x61\x81\x91\x81\x92\x81\xCA\x81\x5C";
  const std::string jis = "\xE3\x80\x9C\xE2\x88\x92\xE2\x80\x96\xC2\xA2\xC2\xA3\xC2\xAC\xE2\x80\x94";
  const std::string cp932 = "\xEF\xBD\x9E\xEF\xBC\x8D\xE2\x88\xA5\xEF\xBF\xA0\xEF\xBF\xA1\xEF\xBF\xA2\xE2\x80\x95";
  const std::string euc = "\xA1\xC1\xA1\xDD\xA1\xC2\xA1\xF1\xA1\xF2\xA2\xCC\xA1\xBD";
  ExpectSplitInvariant(EHostEncoding::kUtf8, "a" + jis + "b", {"a" + sjis + "b", 0, 0});
  ExpectSplitInvariant(EHostEncoding::kUtf8, cp932, {sjis, 0, 0});
  ExpectSplitInvariant(EHostEncoding::kEucJp, euc, {sjis, 0, 0});
  EXPECT_EQ(EncodeForHost(EHostEncoding::kUtf8, Sjis("波") + sjis + "x"), "\xE6\xB3\xA2" + jis + "x");
  EXPECT_EQ(EncodeForHost(EHostEncoding::kEucJp, sjis), euc);
}

TEST(HostEncoding, EucJpWithHalfWidthKanaAndTheSupplementaryPlane) {
  // "漢字" in EUC-JP, SS2 half-width "ｶﾅ", and SS3 0xB0A1 (JIS X 0212 "丂",
  // which Shift-JIS does not have).
  const std::string euc = "\xB4\xC1\xBB\xFA" "\x8E\xB6\x8E\xC5" "\x8F\xB0\xA1" "ok\r\n";
  ExpectSplitInvariant(EHostEncoding::kEucJp, euc, {Sjis("漢字ｶﾅ") + kGeta + "ok\r\n", 1, 0});
  // Bytes that start no character, and a lead byte whose partner is no byte
  // of the plane: the lead alone becomes "〓", the next byte counts as itself.
  ExpectSplitInvariant(EHostEncoding::kEucJp, "\x80" "a\xB4" "b\x8E\x41", {kGeta + "a" + kGeta + "b" + kGeta + "A", 3, 0});
}

TEST(HostEncoding, WhatWeSendArrivesInTheHostsEncodingAndReadsBackTheSame) {
  const std::string sjis = Sjis("返信: 漢字かなｶﾀｶﾅ①髙 ~\\") + "\r\n";
  for (EHostEncoding e : {EHostEncoding::kUtf8, EHostEncoding::kEucJp}) {
    const std::string wire = EncodeForHost(e, sjis);
    EXPECT_NE(wire, sjis);
    EXPECT_EQ(Decode(e, {wire}), (TDecoded{sjis, 0, 0})) << HostEncodingName(e);
  }
  EXPECT_EQ(EncodeForHost(EHostEncoding::kUtf8, Sjis("漢")), "漢");
  EXPECT_EQ(EncodeForHost(EHostEncoding::kEucJp, Sjis("漢")), "\xB4\xC1");
  EXPECT_EQ(EncodeForHost(EHostEncoding::kShiftJis, sjis), sjis);
  // The key's values, read without regard to case.
  EXPECT_EQ(ParseHostEncoding("utf-8"), EHostEncoding::kUtf8);
  EXPECT_EQ(ParseHostEncoding("Euc-Jp"), EHostEncoding::kEucJp);
  EXPECT_EQ(ParseHostEncoding("SHIFT_JIS"), EHostEncoding::kShiftJis);
  EXPECT_EQ(ParseHostEncoding("latin1"), EHostEncoding::kShiftJis);
}

TEST(HostEncoding, TheRingConvertsAfterTheTelnetCommandsAreTakenOut) {
  // A UTF-8 character cut by a telnet request and by the reads; IAC IAC
  // inside the text; the request answered as on a Shift-JIS line. The
  // screen's tap gets the Shift-JIS with the colour escape the line lost.
  const std::string bytes =
      std::string("\xE6\xBC") + "\xFF\xFD\x18" + "\xA2\xE5\xAD\x97\xFF\xFF" + "\x1b[31m!\r\nx";
  const auto feed = [&](const std::vector<std::string>& chunks) {
    TLineRing ring;
    std::string tapped;
    ring.SetScreenTap([&tapped](const char* p, size_t n) { tapped.append(p, n); });
    ring.SetTelnetAnswers(true, "VT100");
    ring.SetEncoding(EHostEncoding::kUtf8);
    ring.SetEscapeRemoval(true);
    ring.ResetIndexes();
    for (const std::string& c : chunks) ring.Feed(c.data(), c.size());
    std::vector<std::string> out;
    while (ring.LineWaiting()) out.push_back(ring.Take());
    out.push_back(ring.Line(ring.LineIndex()));
    out.push_back(ring.TakeTelnetReplies());
    out.push_back(tapped);
    return out;
  };
  const std::vector<std::string> want = {Sjis("漢字!"), "x", "\xFF\xFB\x18", Sjis("漢字") + "\x1b[31m!\r\nx"};
  EXPECT_EQ(feed({bytes}), want);
  for (size_t cut = 1; cut < bytes.size(); ++cut) {
    EXPECT_EQ(feed({bytes.substr(0, cut), bytes.substr(cut)}), want) << "cut at " << cut;
  }
}

std::string StoredFile(const std::string& folder, const char* name) { return test::ReadBytes(folder + name); }

TEST(HostEncoding, PassesAgainstEucJpAndUtf8HostsStoreWhatAShiftJisPassStores) {
  test::TDemoHost plain;
  test::TTempDir plainHome;
  const std::string want = test::PassThatLogsOut(plainHome.Path(), plain.TelnetAddress());
  ASSERT_FALSE(want.empty());
  const std::vector<std::pair<EHostEncoding, std::vector<std::string>>> hosts = {
      {EHostEncoding::kEucJp, {"--encoding", "euc-jp", "--chunks", "split"}},
      {EHostEncoding::kUtf8, {"--encoding", "utf-8", "--negotiate-strict", "--ansi", "--chunks", "split"}},
  };
  for (const auto& [encoding, options] : hosts) {
    SCOPED_TRACE(HostEncodingName(encoding));
    test::TDemoHost host(options);
    test::TTempDir home;
    const std::string folder = test::PassThatLogsOut(home.Path(), host.TelnetAddress(), [&](THostEntry& e) {
      e.Encoding = encoding;
    });
    ASSERT_FALSE(folder.empty());
    for (const char* f : {"Boards.Dat", "MES00.IDX", "MES00.TXT", "MES01.IDX", "MES01.TXT", "MES03.IDX", "MES03.TXT"}) {
      EXPECT_FALSE(StoredFile(want, f).empty()) << f;
      EXPECT_TRUE(StoredFile(folder, f) == StoredFile(want, f)) << f;
    }
  }
}

TEST(HostEncoding, WhatShiftJisCannotHoldIsCountedInTheSessionLog) {
  test::TTempDir dir;
  test::TLoopbackPeer peer;
  TVeskoClient c;
  c.MakeLogFile = true;
  c.LogFileName = dir.Path() + "a.log";
  c.Encoding = EHostEncoding::kUtf8;
  c.Address = "127.0.0.1:" + std::to_string(peer.Port());
  c.Connect();
  ASSERT_TRUE(peer.Accept());
  peer.Write("Subj: \xF0\x9F\x98\x80 caf\xC3\xA9 漢字\r\n");
  ASSERT_TRUE(test::WaitUntil([&] { return test::ReadBytes(c.LogFileName).find("Subj") != std::string::npos; }));
  c.Disconnect();
  ASSERT_TRUE(test::WaitUntil([&] { return !c.LogOpen(); }));
  // After the pass's mark, its first line.
  const std::string log = test::ReadBytes(c.LogFileName);
  const size_t body = log.find("\r\n") + 2;
  EXPECT_TRUE(TSessionLog::IsPassMark(log.substr(0, body)));
  EXPECT_EQ(log.substr(body), Sjis("Subj: 〓 caf〓 漢字\r\n(このセッションで受信した文字のうち 2 字は Shift-JIS にないため〓にしました)\r\n"));
}

TEST(HostEncoding, ALoginInUtf8CarriesTheHandleInUtf8) {
  test::TDemoHost host({"--encoding", "utf-8"});
  TVeskoClient c;
  test::TSessionRecorder r(c);
  c.Address = host.TelnetAddress();
  c.UserID = "MIDORI";
  c.HandleName = Sjis("みーちゃん");
  c.Encoding = EHostEncoding::kUtf8;
  r.script = {[](TVeskoClient& s) {
    s.SendLine("Q");
    s.SendLine("");
  }};
  c.Connect();
  ASSERT_TRUE(r.WaitForEnd());
  EXPECT_EQ(r.logins, 1);
  // The host logs what it received, escaped: "みーちゃん" in UTF-8.
  EXPECT_NE(host.Received().find("%E3%81%BF%E3%83%BC%E3%81%A1%E3%82%83%E3%82%93%0D%0A"), std::string::npos);
}

}  // namespace
}  // namespace brelo
