#include "common/IniFile.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "common/FileUtil.h"
#include "common/Sjis.h"
#include "support/TempDir.h"

namespace brelo {
namespace {

using test::ReadBytes;
using test::TTempDir;
using test::WriteBytes;

// Written the Windows way: CR LF, Shift-JIS, mixed case, blanks around values.
const std::string kWindowsFile =
    "; comment kept\r\n"
    "[Hosts]\r\n"
    "Count = 2 \r\n"
    "\r\n"
    "[HOST 0]\r\n"
    "Title=" + Sjis("草の根ネット") + "\r\n"
    "Empty=\r\n"
    "Hex=0x1F\r\n"
    "HEXUPPER=0X10\r\n"
    "Bad=12abc\r\n"
    "Neg=-7\r\n";

TEST(IniFile, ReadsTheWindowsWay) {
  TIniFile ini("unused");
  ini.Parse(kWindowsFile);
  EXPECT_EQ(ini.ReadInteger("hosts", "COUNT", 0), 2);
  EXPECT_EQ(ini.ReadString("host 0", "title", "x"), Sjis("草の根ネット"));
  EXPECT_EQ(ini.ReadString("HOST 0", "Empty", "default"), "");   // present but empty
  EXPECT_EQ(ini.ReadString("HOST 0", "Absent", "default"), "default");
  EXPECT_EQ(ini.ReadString("Nowhere", "Title", "d"), "d");
  EXPECT_EQ(ini.ReadInteger("HOST 0", "Hex", 0), 31);
  EXPECT_EQ(ini.ReadInteger("HOST 0", "hexupper", 0), 16);
  EXPECT_EQ(ini.ReadInteger("HOST 0", "Bad", 5), 5);
  EXPECT_EQ(ini.ReadInteger("HOST 0", "Empty", 9), 9);
  EXPECT_EQ(ini.ReadInteger("HOST 0", "Neg", 0), -7);
}

TEST(IniFile, LongValuesAreCutTo1023Bytes) {
  TIniFile ini("unused");
  ini.Parse("[S]\r\nK=" + std::string(2000, 'x') + "\r\n");
  EXPECT_EQ(ini.ReadString("S", "K", "").size(), 1023u);
}

TEST(IniFile, WriteReplacesInPlaceAndKeepsEveryOtherLine) {
  TTempDir dir;
  const std::string path = dir.File("veskohosts.dat");
  WriteBytes(path, kWindowsFile);
  TIniFile ini(path);
  ini.Load();
  ini.WriteInteger("HOSTS", "count", 3);
  ini.WriteString("Hosts", "New", "v");
  ini.WriteString("HOST 1", "Title", "t");
  ini.Save();
  const std::string text = ReadBytes(path);
  EXPECT_EQ(text,
            "; comment kept\r\n"
            "[Hosts]\r\n"
            "count=3\r\n"
            "New=v\r\n"
            "\r\n"
            "[HOST 0]\r\n"
            "Title=" + Sjis("草の根ネット") + "\r\n"
            "Empty=\r\n"
            "Hex=0x1F\r\n"
            "HEXUPPER=0X10\r\n"
            "Bad=12abc\r\n"
            "Neg=-7\r\n"
            "[HOST 1]\r\n"
            "Title=t\r\n");
  TIniFile again(path);
  again.Load();
  EXPECT_EQ(again.ReadInteger("Hosts", "Count", 0), 3);
}

// What a replacement handed to the disk, in order: the descriptor's path,
// and what the file to replace held at that moment.
std::vector<std::string> gFlushed;
std::string gReplaced;
int RecordFlush(int fd) {
  char path[4096];
  const ssize_t n = ::readlink(("/proc/self/fd/" + std::to_string(fd)).c_str(), path, sizeof path);
  gFlushed.push_back((n > 0 ? std::string(path, static_cast<size_t>(n)) : std::string("?")) + " with " +
                     ReadBytes(gReplaced));
  return ::fsync(fd);
}

TEST(IniFile, AWriteReachesTheDiskBeforeItReplacesTheFileAndTheRenameAfter) {
  TTempDir dir;
  gReplaced = dir.File("Brelo_V3.ini");
  WriteBytes(gReplaced, "[Text]\r\nQuoteString=>\r\n");
  ReplaceSyncData = ReplaceSyncFolder = RecordFlush;
  gFlushed.clear();
  WriteProfileString(gReplaced, "Text", "QuoteString", ">_");
  ReplaceSyncData = ReplaceSyncFolder = ::fsync;
  ASSERT_EQ(gFlushed.size(), 2u);
  // The temporary file, while the old file was still in place; then the
  // folder, once the new one was.
  EXPECT_EQ(gFlushed[0].rfind(gReplaced + ".tmp", 0), 0u) << gFlushed[0];
  EXPECT_NE(gFlushed[0].find(" with [Text]\r\nQuoteString=>\r\n"), std::string::npos) << gFlushed[0];
  EXPECT_EQ(gFlushed[1], dir.Path().substr(0, dir.Path().size() - 1) + " with [Text]\r\nQuoteString=>_\r\n");
}

TEST(IniFile, ProfileCallsCreateTheFileAndRoundTrip) {
  TTempDir dir;
  const std::string path = dir.File("Modem.Ini");
  EXPECT_EQ(ReadProfileString(path, "MODEM", "INIT", "ATZ"), "ATZ");
  WriteProfileString(path, "MODEM", "INIT", "");
  WriteProfileInteger(path, "MODEM", "RATE", 4800);
  EXPECT_EQ(ReadProfileString(path, "MODEM", "INIT", "ATZ"), "");
  EXPECT_EQ(ReadProfileInteger(path, "MODEM", "RATE", 19200), 4800);
  EXPECT_EQ(ReadBytes(path), "[MODEM]\r\nINIT=\r\nRATE=4800\r\n");
}

TEST(IniFile, UnwritableFolderGivesTheExactError) {
  TTempDir dir;
  WriteBytes(dir.File("plainfile"), "x");
  // A folder below a plain file cannot exist, not even for root.
  const std::string path = dir.File("plainfile/sub/Brelo_V3.ini");
  try {
    WriteProfileString(path, "Text", "QuoteString", ">_");
    FAIL() << "no error";
  } catch (const EInOutError& e) {
    EXPECT_EQ(std::string(e.what()), path + Sjis(" に書き込めません"));
  }
}

TEST(IniFile, IntegerRule) {
  EXPECT_EQ(ProfileIntDef("42", 0), 42);
  EXPECT_EQ(ProfileIntDef(" 0xff ", 0), 255);
  EXPECT_EQ(ProfileIntDef("0x", 7), 7);
  EXPECT_EQ(ProfileIntDef("", 7), 7);
  EXPECT_EQ(ProfileIntDef("99999999999", 7), 7);
  EXPECT_EQ(ProfileIntDef("0xFFFFFFFF", 7), -1);
}

}  // namespace
}  // namespace brelo
