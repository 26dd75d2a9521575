#include "store/ReservationBox.h"

#include <unistd.h>

#include <cstring>

#include "common/FileUtil.h"
#include "common/Records.h"
#include "common/Sjis.h"
#include "common/StringLock.h"

namespace brelo {

static_assert(kReservationRecordSize == 4 + 61 + 256 + 128 + 13 + 1 + 1);

void EncodeReservation(const TWriteReservation& r, char* rec) {
  PutInt32(rec, r.BoardNo);
  PutShortString(rec + 4, 60, r.Title);
  PutShortString(rec + 65, 255, r.ToIDs);
  std::memcpy(rec + 321, r.Reserved.data(), r.Reserved.size());
  PutShortString(rec + 449, 12, r.FileName);
  rec[462] = static_cast<char>(r.Status);
  rec[463] = static_cast<char>(r.Reserved2);
}

TWriteReservation DecodeReservation(const char* rec) {
  TWriteReservation r;
  r.BoardNo = GetInt32(rec);
  r.Title = GetShortString(rec + 4, 60);
  r.ToIDs = GetShortString(rec + 65, 255);
  std::memcpy(r.Reserved.data(), rec + 321, r.Reserved.size());
  r.FileName = GetShortString(rec + 449, 12);
  r.Status = static_cast<uint8_t>(rec[462]);
  r.Reserved2 = static_cast<uint8_t>(rec[463]);
  return r;
}

void TReservationBox::LoadReservations() {
  EditorSlots.fill(nullptr);
  ReservationCount = 0;
  std::optional<std::string> data;
  {
    TStringLockGuard lock;
    data = ReadWholeFile(WriteFile());
  }
  if (!data) return;
  // A trailing partial record is ignored; at most 199 records are read.
  const size_t records = std::min<size_t>(data->size() / kReservationRecordSize, kReservationSlots - 1);
  for (size_t i = 0; i < records; ++i) {
    ReservationTable[i] = DecodeReservation(data->data() + i * kReservationRecordSize);
  }
  ReservationCount = static_cast<int>(records);
}

void TReservationBox::SaveReservations() const {
  std::string data(static_cast<size_t>(ReservationCount) * kReservationRecordSize, '\0');
  for (int i = 0; i < ReservationCount; ++i) {
    EncodeReservation(ReservationTable[static_cast<size_t>(i)], data.data() + static_cast<size_t>(i) * kReservationRecordSize);
  }
  TStringLockGuard lock;
  WriteFileAtomic(WriteFile(), data);
}

std::string TReservationBox::NewBodyFileName(const TCivilTime& today) {
  std::uniform_int_distribution<int> letter(0, 24);  // "a" to "y"
  for (;;) {
    std::string name = SafeFormat("%.2d%.2d%.2d", today.year % 100, today.month, today.day);
    name += static_cast<char>('a' + letter(rng_));
    name += static_cast<char>('a' + letter(rng_));
    name += ".TXT";
    if (!FileExists(HostFolder + name)) return name;
  }
}

std::string TReservationBox::AddReservation(int board, const std::string& title, const std::string& recipients) {
  if (ReservationCount >= kReservationSlots) {
    throw EInOutError(Sjis("書き込み予約箱がいっぱいです (") + SafeIntToStr(kReservationSlots) +
                      Sjis(" 件まで)。送るか削除してから予約してください"));
  }
  const std::string name = NewBodyFileName(NowCivil());
  TWriteReservation r;
  r.BoardNo = board;
  r.FileName = name;
  r.Title = CutBytes(title, 60);
  r.Status = 0;
  r.ToIDs = CutBytes(recipients, 255);
  const int index = ReservationCount;
  ReservationTable[static_cast<size_t>(index)] = r;
  EditorSlots[static_cast<size_t>(index)] = nullptr;
  ++ReservationCount;
  try {
    SaveReservations();
  } catch (...) {
    --ReservationCount;  // nothing half-done stays in memory
    throw;
  }
  if (OnChanged) OnChanged();
  return name;
}

void TReservationBox::DeleteReservation(int index) {
  if (index < 0 || index >= ReservationCount) return;
  if (IReservationEditor* e = EditorSlots[static_cast<size_t>(index)]) {
    EditorSlots[static_cast<size_t>(index)] = nullptr;
    e->SetReservationIndex(-1);
    e->CloseDetached();
  }
  const std::string body = BodyFile(index);
  if (FileExists(body)) ::unlink(body.c_str());
  for (int i = index; i + 1 < ReservationCount; ++i) {
    ReservationTable[static_cast<size_t>(i)] = ReservationTable[static_cast<size_t>(i + 1)];
    EditorSlots[static_cast<size_t>(i)] = EditorSlots[static_cast<size_t>(i + 1)];
    if (EditorSlots[static_cast<size_t>(i)]) EditorSlots[static_cast<size_t>(i)]->SetReservationIndex(i);
  }
  --ReservationCount;
  EditorSlots[static_cast<size_t>(ReservationCount)] = nullptr;
  SaveReservations();
  if (OnChanged) OnChanged();
}

std::optional<std::string> TReservationBox::ReadBody(int index) const {
  if (index < 0 || index >= ReservationCount) return std::nullopt;
  TStringLockGuard lock;
  return ReadWholeFile(BodyFile(index));
}

}  // namespace brelo
