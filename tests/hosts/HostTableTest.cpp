#include "hosts/HostTable.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "common/FileUtil.h"
#include "common/Sjis.h"
#include "support/TempDir.h"

namespace brelo {
namespace {

using test::ReadBytes;
using test::TTempDir;
using test::WriteBytes;

TEST(HostList, SectionNamesPadWithASpace) {
  EXPECT_EQ(THostTable::SectionName(0), "HOST 0");
  EXPECT_EQ(THostTable::SectionName(9), "HOST 9");
  EXPECT_EQ(THostTable::SectionName(10), "HOST10");
  EXPECT_EQ(THostTable::TickSuffix(0x12345), "2346");  // mod 65535, not 65536
  EXPECT_EQ(THostTable::TickSuffix(10), "000A");
}

TEST(HostList, FirstStartShowsTheDemoHostAndWritesNothing) {
  TTempDir dir;
  THostTable t;
  t.LoadHostList(dir.Path());
  ASSERT_EQ(t.HostCount, 1);
  EXPECT_EQ(t.HostTable[0].Address, "telnet://127.0.0.1:2323/");
  EXPECT_EQ(t.HostTable[0].UserID, "GUEST");
  EXPECT_EQ(t.HostTable[0].Password, "");
  EXPECT_EQ(t.HostTable[0].HandleName, "Pallo");
  EXPECT_FALSE(FileExists(THostTable::FileName(dir.Path())));
}

// One entry with every key a save writes: the `extra` lines first, then the
// default line of every key they do not give.
std::string Section(int i, const std::string& extra = "") {
  std::string out = "[" + THostTable::SectionName(i) + "]\r\n" + extra;
  for (const char* kv : {"Title=h", "FilePath=F", "Address=telnet://127.0.0.1:1/", "UserID=U", "Password=P",
                         "HandleName=N", "HostKind=0"}) {
    const std::string key = std::string(kv).substr(0, std::string(kv).find('=') + 1);
    if (extra.find(key) == std::string::npos) out += std::string(kv) + "\r\n";
  }
  return out;
}

TEST(HostList, LoadsCountSectionsAndCutsLongValues) {
  TTempDir dir;
  WriteBytes(THostTable::FileName(dir.Path()),
             "[Hosts]\r\nCount=3\r\n" +
                 Section(0, "Title=" + Sjis("草の根") + "\r\nUserID=ABCDEFGHIJ\r\nPassword=123456789\r\nHandleName=" +
                                Sjis("ながいながいハンドル名") + "\r\nHostKind=7\r\n") +
                 Section(1, "HostKind=x\r\n") + Section(2) + "[HOST 3]\r\nTitle=extra\r\n[HOST 4]\r\n");
  THostTable t;
  t.LoadHostList(dir.Path());
  ASSERT_EQ(t.HostCount, 3);
  EXPECT_EQ(SjisToUtf8(t.LoadProblem).find("読めません"), std::string::npos);
  EXPECT_EQ(t.HostTable[0].UserID, "ABCDEFGH");
  EXPECT_EQ(t.HostTable[0].Password, "12345678");
  EXPECT_EQ(t.HostTable[0].HandleName, Sjis("ながいながいハ"));  // 14 bytes
  EXPECT_EQ(t.HostTable[0].HostKind, 7);  // kept as read
  EXPECT_EQ(t.HostTable[1].HostKind, 0);
  // Delete one and save: Count 2, and nothing beyond it stays, the removed
  // host's password least of all.
  t.Delete(0);
  t.SaveHostList(dir.Path());
  THostTable again;
  again.LoadHostList(dir.Path());
  EXPECT_EQ(again.HostCount, 2);
  const std::string text = ReadBytes(THostTable::FileName(dir.Path()));
  EXPECT_NE(text.find("Count=2\r\n"), std::string::npos);
  for (const char* gone : {"[HOST 2]", "[HOST 3]", "[HOST 4]", "Title=extra", "Password=123456789", "ABCDEFGHIJ"}) {
    EXPECT_EQ(text.find(gone), std::string::npos) << gone << "\n" << text;
  }
}

// A list cut short or holding NUL bytes loads no host at all: nothing is
// filled in with a guessed address, password or folder.
TEST(HostList, AListCutShortOrWithNulBytesIsRefusedNeverFilledIn) {
  TTempDir dir;
  const std::string path = THostTable::FileName(dir.Path());
  THostTable t;
  t.HostCount = 2;
  t.HostTable[0] = t.HostTable[1] = THostTable::SampleEntry();
  t.HostTable[1].FilePath = "SECOND";
  t.HostTable[1].Address = "telnet://192.0.2.7/";
  t.HostTable[1].Password = "secret";
  t.SaveHostList(dir.Path());
  const std::string whole = ReadBytes(path);
  const size_t second = whole.find("[HOST 1]");
  ASSERT_NE(second, std::string::npos);
  const struct {
    std::string bytes, why;
  } damaged[] = {
      {whole.substr(0, whole.size() - 1), "最後の行が途中で切れています"},
      {whole.substr(0, whole.find("HostKind", second)), "[HOST 1] の HostKind がありません"},
      {whole.substr(0, whole.find("Address", second)), "[HOST 1] の Address がありません"},
      {whole.substr(0, second), "[HOST 1] の Title がありません"},
      {whole.substr(0, 10) + std::string(1, '\0') + whole.substr(10), "NUL 文字があります"},
  };
  for (const auto& d : damaged) {
    WriteBytes(path, d.bytes);
    THostTable loaded;
    loaded.LoadHostList(dir.Path());
    EXPECT_EQ(loaded.HostCount, 0) << d.why;
    EXPECT_NE(SjisToUtf8(loaded.LoadProblem).find("veskohosts.dat はホスト一覧として読めません (" + d.why), std::string::npos)
        << SjisToUtf8(loaded.LoadProblem);
    EXPECT_EQ(ReadBytes(path), d.bytes);
  }
  WriteBytes(path, whole);
  THostTable loaded;
  loaded.LoadHostList(dir.Path());
  EXPECT_EQ(loaded.HostCount, 2);
  EXPECT_EQ(loaded.HostTable[1].Password, "secret");
}

TEST(HostList, AHostFolderIsAlwaysBelowTheProgramFolder) {
  for (const char* bad : {"", ".", "..", "../X", "A/../B", "/tmp/X", "./A", "A/."}) {
    EXPECT_NE(THostTable::FolderProblem(bad), "") << bad;
  }
  for (const char* good : {"DEMO", "HOSTS/NIFTY", "a..b", ".hidden"}) EXPECT_EQ(THostTable::FolderProblem(good), "") << good;
}

TEST(HostList, ATerminalTypeIsKeptOnlyWhenItIsNotTheDefault) {
  TTempDir dir;
  const std::string file = THostTable::FileName(dir.Path());
  WriteBytes(file, "[Hosts]\r\nCount=3\r\n" + Section(0, "Title=a\r\nTerminalType=ANSI\r\n") +
                       Section(1, "Title=b\r\nTerminalType=VT 100\r\n") + Section(2, "Title=c\r\n"));
  THostTable t;
  t.LoadHostList(dir.Path());
  EXPECT_EQ(t.HostTable[0].TerminalType, "ANSI");
  EXPECT_EQ(t.HostTable[1].TerminalType, "VT100");  // a blank cannot be answered
  EXPECT_EQ(t.HostTable[2].TerminalType, "VT100");
  // The first host goes: its section now holds the second's, without the key.
  t.Delete(0);
  t.SaveHostList(dir.Path());
  std::string saved = ReadBytes(file);
  EXPECT_EQ(saved.find("TerminalType"), std::string::npos) << saved;
  t.HostTable[1].TerminalType = "XTERM";
  t.SaveHostList(dir.Path());
  saved = ReadBytes(file);
  EXPECT_NE(saved.find("[HOST 1]\r\n"), std::string::npos);
  EXPECT_NE(saved.find("TerminalType=XTERM\r\n"), std::string::npos);
  THostTable again;
  again.LoadHostList(dir.Path());
  EXPECT_EQ(again.HostTable[1].TerminalType, "XTERM");
  EXPECT_EQ(again.HostTable[0].TerminalType, "VT100");
  // Escape sequences are removed unless the entry says "Escapes=0".
  EXPECT_TRUE(again.HostTable[0].RemoveEscapes);
  again.HostTable[0].RemoveEscapes = false;
  again.SaveHostList(dir.Path());
  EXPECT_NE(ReadBytes(file).find("[HOST 0]\r\nTitle=b\r\n"), std::string::npos);
  EXPECT_NE(ReadBytes(file).find("Escapes=0\r\n"), std::string::npos);
  THostTable third;
  third.LoadHostList(dir.Path());
  EXPECT_FALSE(third.HostTable[0].RemoveEscapes);
  EXPECT_TRUE(third.HostTable[1].RemoveEscapes);
}

TEST(HostList, TheTerminalProfileIsKeptOnlyWhereItIsNotTheDefault) {
  TTempDir dir;
  const std::string file = THostTable::FileName(dir.Path());
  WriteBytes(file, "[Hosts]\r\nCount=4\r\n" +
                       Section(0, "Title=bbs\r\n") +
                       Section(1, "Title=shell\r\nTerminalOnly=1\r\nFontSize=3\r\n") +
                       Section(2, "Title=set\r\nBackspace=del\r\nFontSize=20\r\nKeyMode=1\r\n") +
                       Section(3, "Title=odd\r\nTerminalOnly=1\r\nBackspace=BS\r\nFontSize=900\r\n"));
  THostTable t;
  t.LoadHostList(dir.Path());
  // Backspace: a bulletin board's BS, a shell's DEL, unless the entry says.
  const bool del[] = {false, true, true, false};
  const int size[] = {0, THostEntry::kMinFontSize, 20, THostEntry::kMaxFontSize};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(BackspaceSendsDelete(t.HostTable[static_cast<size_t>(i)]), del[i]) << i;
    EXPECT_EQ(t.HostTable[static_cast<size_t>(i)].FontSize, size[i]) << i;
    EXPECT_EQ(t.HostTable[static_cast<size_t>(i)].KeyModeAtStart, i == 2) << i;
  }
  t.HostTable[2].Backspace = EBackspaceKey::kAuto;
  t.HostTable[2].FontSize = 0;
  t.HostTable[2].KeyModeAtStart = false;
  t.HostTable[0].KeyModeAtStart = true;
  t.SaveHostList(dir.Path());
  const std::string saved = ReadBytes(file);
  EXPECT_NE(saved.find("KeyMode=1\r\n"), std::string::npos);
  EXPECT_EQ(saved.find("KeyMode=1\r\n"), saved.rfind("KeyMode=1\r\n"));  // host 2's went
  EXPECT_EQ(saved.find("Backspace=DEL"), std::string::npos);
  EXPECT_NE(saved.find("Backspace=BS\r\n"), std::string::npos);
  EXPECT_EQ(saved.find("FontSize=20"), std::string::npos);
  THostTable again;
  again.LoadHostList(dir.Path());
  EXPECT_TRUE(again.HostTable[0].KeyModeAtStart);
  EXPECT_FALSE(BackspaceSendsDelete(again.HostTable[2]));
  EXPECT_FALSE(BackspaceSendsDelete(again.HostTable[3]));
  EXPECT_EQ(again.HostTable[3].FontSize, THostEntry::kMaxFontSize);
}

TEST(HostList, CountAboveTheTableAndAFullTable) {
  TTempDir dir;
  std::string list = "[Hosts]\r\nCount=250\r\n";
  for (int i = 0; i < 250; ++i) list += Section(i);
  WriteBytes(THostTable::FileName(dir.Path()), list);
  THostTable t;
  t.LoadHostList(dir.Path());
  EXPECT_EQ(t.HostCount, 100);
  EXPECT_FALSE(t.Add(1));
  EXPECT_EQ(t.HostCount, 100);
  t.HostCount = 0;
  EXPECT_TRUE(t.Add(0x1234));
  EXPECT_EQ(t.HostTable[0].Title, Sjis("新規ホスト1234"));
  EXPECT_EQ(t.HostTable[0].FilePath, "HOST1234");
  EXPECT_EQ(t.HostTable[0].Password, "QWKZ");
}

TEST(HostList, SavedReadableByTheOwnerOnlyAndUnwritableReported) {
  TTempDir dir;
  const mode_t old = ::umask(0);
  THostTable t;
  t.LoadHostList(dir.Path());
  t.SaveHostList(dir.Path());
  ::umask(old);
  struct stat st;
  ASSERT_EQ(::stat(THostTable::FileName(dir.Path()).c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  WriteBytes(dir.File("plainfile"), "x");
  try {
    t.SaveHostList(dir.File("plainfile/sub"));
    FAIL();
  } catch (const EInOutError& e) {
    EXPECT_EQ(std::string(e.what()), dir.File("plainfile/sub/veskohosts.dat") + Sjis(" に書き込めません"));
  }
}

TEST(HostList, AListOthersCanReadIsMadePrivateAndTheUserToldOnce) {
  TTempDir dir;
  THostTable t;
  t.LoadHostList(dir.Path());
  t.SaveHostList(dir.Path());
  const std::string path = THostTable::FileName(dir.Path());
  ASSERT_EQ(::chmod(path.c_str(), 0666), 0);
  t.LoadHostList(dir.Path());
  struct stat st;
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_NE(SjisToUtf8(t.LoadProblem).find("veskohosts.dat はほかのユーザーも読める状態でした"), std::string::npos);
  t.LoadHostList(dir.Path());
  EXPECT_EQ(t.LoadProblem, "");
}

TEST(HostList, AGarbageListIsKeptAsideNamedAndReplacedByAFreshOne) {
  TTempDir dir;
  const std::string path = THostTable::FileName(dir.Path());
  std::string garbage;
  for (int i = 0; i < 300; ++i) garbage += static_cast<char>((i * 37) % 256);
  WriteBytes(path, garbage);
  ::chmod(path.c_str(), 0600);
  THostTable t;
  t.LoadHostList(dir.Path());
  EXPECT_EQ(t.HostCount, 0);
  EXPECT_NE(SjisToUtf8(t.LoadProblem).find("veskohosts.dat はホスト一覧として読めません"), std::string::npos);
  EXPECT_EQ(ReadBytes(path), garbage);  // loading changes nothing
  bool aside = false;
  for (const std::string& f : test::ListFolder(dir.Path())) {
    aside |= f.rfind("veskohosts.dat.broken-", 0) == 0 && ReadBytes(dir.File(f)) == garbage;
  }
  EXPECT_TRUE(aside);
  // The first save writes a host list, not the garbage with sections after it.
  t.Add(1);
  t.SaveHostList(dir.Path());
  EXPECT_EQ(ReadBytes(path).find(garbage.substr(1, 20)), std::string::npos);
  THostTable again;
  again.LoadHostList(dir.Path());
  EXPECT_EQ(again.HostCount, 1);
  EXPECT_EQ(again.LoadProblem, "");
}

// Two writers that loaded the same list: each one's save puts its own
// change into the list as it is then, and a change to a host the other
// changed first is refused, never written over it.
TEST(HostList, WritersThatMeetKeepEachOthersHosts) {
  TTempDir dir;
  const std::string path = THostTable::FileName(dir.Path());
  THostTable first, second;
  first.LoadHostList(dir.Path());
  second.LoadHostList(dir.Path());
  first.Add(0xA);
  first.SaveHostList(dir.Path());
  second.Add(0xB);
  second.HostTable[1].Password = "pwB";
  second.SaveHostList(dir.Path());
  EXPECT_EQ(second.HostCount, 3);  // the list as written, the other's host in it
  THostTable t;
  t.LoadHostList(dir.Path());
  ASSERT_EQ(t.HostCount, 3);
  EXPECT_EQ(t.HostTable[1].FilePath, "HOST000A");
  EXPECT_EQ(t.HostTable[2].FilePath, "HOST000B");
  // A removal from a table that missed a later host removes only its own.
  first.Delete(1);
  first.SaveHostList(dir.Path());
  t.LoadHostList(dir.Path());
  ASSERT_EQ(t.HostCount, 2);
  EXPECT_EQ(t.HostTable[1].FilePath, "HOST000B");
  EXPECT_EQ(ReadBytes(path).find("HOST000A"), std::string::npos);
  // The other removed the host this one changes: nothing is written, and
  // the table shows the list as it is.
  second.HostTable[1].Password = "changed";
  const std::string before = ReadBytes(path);
  EXPECT_THROW(second.SaveHostList(dir.Path()), EHostListChanged);
  EXPECT_EQ(ReadBytes(path), before);
  EXPECT_EQ(second.HostCount, 2);
  EXPECT_EQ(second.HostTable[1].FilePath, "HOST000B");
  // An entry the list cannot keep as it is: refused, the table as it was.
  second.HostTable[1].FilePath = "DEMO";  // the other host's folder
  EXPECT_THROW(second.SaveHostList(dir.Path()), EInOutError);
  EXPECT_EQ(ReadBytes(path), before);
  EXPECT_EQ(second.HostTable[1].FilePath, "DEMO");
}

TEST(HostList, WhatTheListCannotKeepAsGivenIsNamedByPosition) {
  TTempDir dir;
  const struct {
    std::string text;
    size_t limit;
    std::string why;  // "" when it is kept as given
  } cases[] = {
      {"secret", 8, ""},
      {" secret", 8, "の先頭が空白です (ホスト一覧には残りません)"},
      {"secret ", 8, "の末尾が空白です (ホスト一覧には残りません)"},
      {"secret\t", 8, "の 7 文字目が制御文字です"},
      {Sjis("ひみつ") + "\x01", 8, "の 4 文字目が制御文字です"},
      {"123456789", 8, "は 8 バイトまでです (9 バイトあります)"},
  };
  for (const auto& c : cases) {
    const std::string why = SjisToUtf8(THostTable::FieldProblem("PW", c.text, c.limit));
    if (c.why.empty()) EXPECT_EQ(why, "") << c.text;
    else EXPECT_EQ(why, "PW " + c.why) << c.text;
    EXPECT_EQ(why.find("secret"), std::string::npos);  // a password is never shown
  }
  THostTable t;
  t.LoadHostList(dir.Path());
  t.Add(1);
  WriteBytes(dir.File("notes.txt"), "x");
  for (const std::string folder : {"DEMO", "..\\..\\x", "notes.txt", "veskohosts.dat", " HOST0001", "A/../B"}) {
    t.HostTable[1].FilePath = folder;
    EXPECT_NE(t.EntryProblem(1, dir.Path()), "") << folder;
  }
  t.HostTable[1].FilePath = "HOST0001";
  EXPECT_EQ(t.EntryProblem(1, dir.Path()), "");
}

}  // namespace
}  // namespace brelo
