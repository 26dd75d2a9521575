#include "store/ReservationBox.h"

#include <gtest/gtest.h>

#include "common/FileUtil.h"
#include "common/Sjis.h"
#include "support/TempDir.h"

namespace brelo {
namespace {

using test::ReadBytes;
using test::TTempDir;
using test::WriteBytes;

struct TEditor : IReservationEditor {
  int index;
  bool closed = false;
  explicit TEditor(int i) : index(i) {}
  void SetReservationIndex(int i) override { index = i; }
  void CloseDetached() override { closed = true; }
  void BringToFront() override {}
  bool RequestClose() override { return true; }
};

class BoxTest : public ::testing::Test {
 protected:
  TTempDir dir;
  TReservationBox box;
  int refreshes = 0;
  void SetUp() override {
    box.HostFolder = dir.Path();
    box.OnChanged = [this] { ++refreshes; };
  }
};

TEST(ReservationRecord, BytesAndTheReservedBlockCarriedUnchanged) {
  TWriteReservation r;
  r.BoardNo = 5;
  r.Title = "T";
  r.ToIDs = "TARO;HANAKO";
  r.FileName = "980315kq.TXT";
  r.Status = 1;
  for (size_t i = 0; i < r.Reserved.size(); ++i) r.Reserved[i] = static_cast<char>(i);
  char rec[kReservationRecordSize];
  EncodeReservation(r, rec);
  EXPECT_EQ(std::string(rec, 6), std::string("\x05\0\0\0\x01T", 6));
  EXPECT_EQ(rec[65], 11);
  EXPECT_EQ(rec[321 + 7], 7);
  EXPECT_EQ(std::string(rec + 449, 13), "\x0C" "980315kq.TXT");
  EXPECT_EQ(rec[462], 1);
  TWriteReservation back = DecodeReservation(rec);
  EXPECT_EQ(back.Reserved, r.Reserved);
  EXPECT_EQ(back.ToIDs, "TARO;HANAKO");
}

TEST_F(BoxTest, AddNamesBodyFilesUniquelyAndSaves) {
  const std::string a = box.AddReservation(3, std::string(70, 't'), "X");
  WriteBytes(dir.File(a), "body");
  const std::string b = box.AddReservation(0, "mail", "TARO");
  EXPECT_NE(a, b);
  ASSERT_EQ(a.size(), 12u);
  EXPECT_EQ(a.substr(8), ".TXT");
  EXPECT_GE(a[6], 'a');
  EXPECT_LE(a[7], 'y');
  EXPECT_EQ(box.ReservationCount, 2);
  EXPECT_EQ(box.ReservationTable[0].Title.size(), 60u);
  EXPECT_EQ(ReadBytes(box.WriteFile()).size(), 2 * kReservationRecordSize);
  EXPECT_EQ(refreshes, 2);
  TReservationBox again;
  again.HostFolder = dir.Path();
  again.LoadReservations();
  EXPECT_EQ(again.ReservationCount, 2);
  EXPECT_EQ(again.ReservationTable[1].ToIDs, "TARO");
}

TEST_F(BoxTest, DeletingMovesEntriesAndTheirEditors) {
  for (int i = 0; i < 3; ++i) box.AddReservation(i + 1, "t" + std::to_string(i), "");
  WriteBytes(box.BodyFile(0), "x");
  TEditor e1(1);
  box.EditorSlots[1] = &e1;
  box.DeleteReservation(0);
  EXPECT_EQ(box.ReservationCount, 2);
  EXPECT_EQ(e1.index, 0);  // entry 2 of old became entry 1: its editor follows
  EXPECT_EQ(box.EditorSlots[0], &e1);
  EXPECT_EQ(box.ReservationTable[0].Title, "t1");
  // Deleting an entry with an open editor detaches and closes it.
  box.DeleteReservation(0);
  EXPECT_EQ(e1.index, -1);
  EXPECT_TRUE(e1.closed);
  EXPECT_EQ(box.ReservationTable[0].Title, "t2");
}

TEST_F(BoxTest, ABoxHoldsWhatLoadsAndASaveKeepsEveryRecordOfALongerFile) {
  std::string data;
  for (int i = 0; i < 250; ++i) {
    TWriteReservation r;
    r.BoardNo = 1;
    r.Title = std::to_string(i);
    char rec[kReservationRecordSize];
    EncodeReservation(r, rec);
    data.append(rec, kReservationRecordSize);
  }
  WriteBytes(box.WriteFile(), data + "partial");
  box.LoadReservations();
  EXPECT_EQ(box.ReservationCount, 199);
  EXPECT_NE(SjisToUtf8(box.LoadProblem).find("250"), std::string::npos);
  // The add that would not load again is refused; nothing changes.
  EXPECT_THROW(box.AddReservation(1, "200th", ""), EInOutError);
  EXPECT_EQ(box.ReservationCount, 199);
  // A save writes back every whole record, and the damaged file was kept aside.
  box.DeleteReservation(0);
  const std::string saved = test::ReadBytes(box.WriteFile());
  ASSERT_EQ(saved.size(), 249 * kReservationRecordSize);
  EXPECT_EQ(DecodeReservation(saved.data()).Title, "1");
  EXPECT_EQ(DecodeReservation(saved.data() + 248 * kReservationRecordSize).Title, "249");
  bool aside = false;
  for (const std::string& f : test::ListFolder(dir.Path())) {
    if (f.rfind("Write.Dat.broken-", 0) == 0) aside = test::ReadBytes(dir.File(f)) == data + "partial";
  }
  EXPECT_TRUE(aside);
  // The entries beyond the first 199 come into view as others leave.
  box.LoadReservations();
  EXPECT_EQ(box.ReservationCount, 199);
  EXPECT_EQ(box.ReservationTable[198].Title, "199");
}

TEST_F(BoxTest, NoFileMeansAnEmptyBox) {
  box.LoadReservations();
  EXPECT_EQ(box.ReservationCount, 0);
  EXPECT_FALSE(box.ReadBody(0));
}

}  // namespace
}  // namespace brelo
