#include "store/ReservationBox.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "common/FileUtil.h"
#include "common/Records.h"
#include "common/Sjis.h"
#include "common/StringLock.h"

namespace brelo {
namespace {

static_assert(kReservationRecordSize == 4 + 61 + 256 + 128 + 13 + 1 + 1);

// The note in the reserved bytes of an entry whose sending began.
constexpr char kSendingNote[] = "Brelo: sending";

}  // namespace

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

std::string TReservationBox::BodyNameProblem(const std::string& name) {
  if (name.empty()) return Sjis("本文ファイルの名前がありません");
  if (name.find_first_of(std::string("/\\\0", 3)) != std::string::npos || name.find("..") != std::string::npos ||
      name.front() == '.') {
    return Sjis("本文ファイルの名前 ") + PathText(name) + Sjis(" は予約箱のフォルダの外を指しています");
  }
  std::string up = name;
  for (char& c : up) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  const auto endsWith = [&](std::string_view tail) {
    return up.size() >= tail.size() && up.compare(up.size() - tail.size(), tail.size(), tail) == 0;
  };
  const bool boardFile = up.size() == 9 && up.rfind("MES", 0) == 0 && std::isdigit(static_cast<unsigned char>(up[3])) &&
                         std::isdigit(static_cast<unsigned char>(up[4])) && (endsWith(".TXT") || endsWith(".IDX"));
  if (boardFile || up == "USERS.TXT" || endsWith(".DAT") || endsWith(".IDX") || endsWith(".LOG") ||
      endsWith(".LOCK") || endsWith(".INI") || up.find(".BROKEN-") != std::string::npos ||
      up.find(".TMP") != std::string::npos) {
    return Sjis("本文ファイルの名前 ") + PathText(name) + Sjis(" は予約のファイルではなく、保存されたデータのファイルです");
  }
  return std::string();
}

namespace {

// A control byte's name for the user: "BS", "ESC", "0x01".
std::string ControlName(unsigned char c) {
  switch (c) {
    case '\t': return "TAB";
    case '\n': return "LF";
    case '\r': return "CR";
    case 0x03: return "^C (ETX)";
    case 0x08: return "BS";
    case 0x1A: return "^Z (SUB)";
    case 0x1B: return "ESC";
    case 0x7F: return "DEL";
    default: {
      char buf[8];
      std::snprintf(buf, sizeof buf, "0x%02X", c);
      return buf;
    }
  }
}

// Bytes below a blank (but TAB, CR and LF) and DEL: no Shift-JIS trail byte
// is one, so a byte test finds them.
bool IsControl(unsigned char c) { return (c < 0x20 && c != '\t' && c != '\r' && c != '\n') || c == 0x7F; }

}  // namespace

std::string TReservationBox::BodyProblem(std::string_view body, const TEditorLimits& limits) {
  if (body.size() > kMaxBodyBytes) {
    return Sjis("本文が大きすぎる (") + std::to_string(body.size()) + Sjis(" バイト。") + std::to_string(kMaxBodyBytes) +
           Sjis(" バイトまで) ため");
  }
  if (body.find('\0') != std::string_view::npos) {
    return Sjis("本文に NUL 文字がある (UTF-16 など、シフトJIS でない形で保存されたファイルかもしれません) ため");
  }
  if (!IsValidSjis(body)) return Sjis("本文がシフトJISの文章ではないため");
  // The lines as the host's editor gets them: the body, a line break, then
  // "//"; a lone CR or LF is a line break to it as well.
  int lines = 0;
  size_t start = 0;
  for (;;) {
    const size_t end = std::min(body.find_first_of("\r\n", start), body.size());
    const std::string_view line = body.substr(start, end - start);
    ++lines;
    if (line == "//") return Sjis("本文に「//」だけの行があり、ホストはそこで本文を終えてしまうため");
    if (line.size() > static_cast<size_t>(limits.LineBytes)) {
      return SafeIntToStr(lines) + Sjis(" 行目が ") + std::to_string(line.size()) +
             Sjis(" バイトあり、ホストは 1 行 ") + SafeIntToStr(limits.LineBytes) + Sjis(" バイトまでしか受け付けないため");
    }
    for (const char c : line) {
      if (IsControl(static_cast<unsigned char>(c))) {
        return SafeIntToStr(lines) + Sjis(" 行目に制御文字 ") + ControlName(static_cast<unsigned char>(c)) +
               Sjis(" があり、ホストの行エディタがそれを文字として受け取らないため");
      }
    }
    if (end >= body.size()) break;
    start = end + (body[end] == '\r' && end + 1 < body.size() && body[end + 1] == '\n' ? 2 : 1);
    if (start == body.size()) {
      ++lines;  // the line break that ends the body leaves an empty line before the one sent after it
      break;
    }
  }
  // The editor's count includes the "//" that ends the body and the empty
  // line a body that ends with a line break leaves before it; the user's
  // count has neither.
  if (lines + 1 > limits.Lines) {
    const bool ended = !body.empty() && (body.back() == '\n' || body.back() == '\r');
    return Sjis("本文が ") + SafeIntToStr(lines - (ended ? 1 : 0)) + Sjis(" 行あり、ホストの書き込みは ") +
           SafeIntToStr(limits.Lines - 2) + Sjis(" 行までのため");
  }
  return std::string();
}

std::string TReservationBox::HeadProblem(const TWriteReservation& r) {
  for (const auto& [what, text] : {std::pair<const char*, const std::string*>{"題名", &r.Title}, {"宛先", &r.ToIDs}}) {
    for (const char c : *text) {
      const auto b = static_cast<unsigned char>(c);
      if (b < 0x20 || b == 0x7F) {
        return Sjis(what) + Sjis("に制御文字 ") + ControlName(b) + Sjis(" があり、ホストに別の行として送られてしまうため");
      }
    }
  }
  return std::string();
}

bool TReservationBox::Interrupted(const TWriteReservation& r) {
  return std::memcmp(r.Reserved.data(), kSendingNote, sizeof kSendingNote) == 0;
}

void TReservationBox::ClearMark(TWriteReservation& r) {
  if (Interrupted(r)) std::memset(r.Reserved.data(), 0, sizeof kSendingNote);
}

void TReservationBox::LoadReservations() {
  EditorSlots.fill(nullptr);
  ReservationCount = 0;
  tail_.clear();
  unreadable_ = false;
  LoadProblem.clear();
  SendingName.clear();
  DeleteWhenSent = false;
  if (HostFolder.empty()) return;
  RemoveStaleTemporaries(HostFolder);
  const std::string path = WriteFile();
  std::optional<std::string> data;
  try {
    TStringLockGuard lock;
    data = ReadWholeFile(path);
  } catch (const EInOutError& e) {
    unreadable_ = true;
    LoadProblem = e.what() + Sjis("。書き込み予約箱は空として表示し、このファイルには書き込みません");
    throw EInOutError(LoadProblem);
  }
  if (!data) return;
  const size_t whole = data->size() / kReservationRecordSize;
  const size_t stray = data->size() % kReservationRecordSize;
  const size_t records = std::min<size_t>(whole, kReservationsLoaded);
  for (size_t i = 0; i < records; ++i) {
    ReservationTable[i] = DecodeReservation(data->data() + i * kReservationRecordSize);
  }
  ReservationCount = static_cast<int>(records);
  // Records beyond what loads are written back as they are.
  tail_.assign(*data, records * kReservationRecordSize, (whole - records) * kReservationRecordSize);
  if (stray != 0) {
    // A cut record: the whole ones are kept, the damaged file goes aside
    // before anything is written over it.
    const std::string aside = KeepAside(path);
    LoadProblem = PathText(path) + Sjis(" が壊れています (") + std::to_string(whole) + Sjis(" 件と半端な ") +
                  std::to_string(stray) + Sjis(" バイト)。");
    if (aside.empty()) {
      unreadable_ = true;
      LoadProblem += Sjis("控えを作れないため、このファイルには書き込みません");
    } else {
      LoadProblem += Sjis("元のファイルを ") + PathText(aside) + Sjis(" に残しました");
    }
  }
  if (whole > records) {
    if (!LoadProblem.empty()) LoadProblem += "\r\n";
    LoadProblem += PathText(path) + Sjis(" には ") + std::to_string(whole) + Sjis(" 件あります。表示できるのは ") +
                   std::to_string(kReservationsLoaded) + Sjis(" 件までで、残りはそのまま残しています");
  }
}

void TReservationBox::SaveReservations() const {
  if (unreadable_) {
    throw EInOutError(PathText(WriteFile()) + Sjis(" を読めなかったため、上書きしません"));
  }
  std::string data(static_cast<size_t>(ReservationCount) * kReservationRecordSize, '\0');
  for (int i = 0; i < ReservationCount; ++i) {
    EncodeReservation(ReservationTable[static_cast<size_t>(i)], data.data() + static_cast<size_t>(i) * kReservationRecordSize);
  }
  data += tail_;
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
  if (ReservationCount >= kReservationsLoaded) {
    throw EInOutError(Sjis("書き込み予約箱がいっぱいです (") + SafeIntToStr(kReservationsLoaded) +
                      Sjis(" 件まで)。送るか削除してから予約してください"));
  }
  const std::string name = NewBodyFileName(NowCivil());
  TWriteReservation r;
  r.BoardNo = board;
  r.FileName = name;
  r.Title = CutChars(title, 60);
  r.Status = 0;
  r.ToIDs = CutChars(recipients, 255);
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
  const TWriteReservation removed = ReservationTable[static_cast<size_t>(index)];
  for (int i = index; i + 1 < ReservationCount; ++i) {
    ReservationTable[static_cast<size_t>(i)] = ReservationTable[static_cast<size_t>(i + 1)];
    EditorSlots[static_cast<size_t>(i)] = EditorSlots[static_cast<size_t>(i + 1)];
  }
  --ReservationCount;
  EditorSlots[static_cast<size_t>(ReservationCount)] = nullptr;
  try {
    SaveReservations();
  } catch (...) {
    // The box on disk still holds the entry: so does memory.
    for (int i = ReservationCount; i > index; --i) {
      ReservationTable[static_cast<size_t>(i)] = ReservationTable[static_cast<size_t>(i - 1)];
      EditorSlots[static_cast<size_t>(i)] = EditorSlots[static_cast<size_t>(i - 1)];
    }
    ReservationTable[static_cast<size_t>(index)] = removed;
    EditorSlots[static_cast<size_t>(index)] = nullptr;
    ++ReservationCount;
    throw;
  }
  for (int i = index; i < ReservationCount; ++i) {
    if (EditorSlots[static_cast<size_t>(i)]) EditorSlots[static_cast<size_t>(i)]->SetReservationIndex(i);
  }
  // The body goes last: a crash before this leaves a stray file, never an
  // entry without its text.
  // Only the entry's own file: never one of the store's, nor what a link
  // points to.
  struct stat st;
  const std::string body = HostFolder + removed.FileName;
  if (SafeFileName(removed.FileName) && ::lstat(body.c_str(), &st) == 0 && S_ISREG(st.st_mode)) ::unlink(body.c_str());
  if (OnChanged) OnChanged();
}

std::optional<std::string> TReservationBox::ReadBody(int index) const {
  if (index < 0 || index >= ReservationCount) return std::nullopt;
  const std::string& name = ReservationTable[static_cast<size_t>(index)].FileName;
  if (const std::string why = BodyNameProblem(name); !why.empty()) throw EInOutError(why);
  TStringLockGuard lock;
  return ReadWholeFile(BodyFile(index), kMaxBodyBytes, ELinks::kRefuse);
}

int TReservationBox::DueBeyond() const {
  int due = 0;
  for (size_t at = 0; at + kReservationRecordSize <= tail_.size(); at += kReservationRecordSize) {
    due += DecodeReservation(tail_.data() + at).Status == 0;
  }
  return due;
}

int TReservationBox::Find(const std::string& fileName) const {
  for (int i = 0; i < ReservationCount; ++i) {
    if (ReservationTable[static_cast<size_t>(i)].FileName == fileName) return i;
  }
  return -1;
}

void TReservationBox::MarkSending(int index) {
  TWriteReservation& r = ReservationTable[static_cast<size_t>(index)];
  const TWriteReservation before = r;
  r.Status = 1;
  std::memcpy(r.Reserved.data(), kSendingNote, sizeof kSendingNote);
  try {
    SaveReservations();
  } catch (...) {
    r = before;
    throw;
  }
}

void TReservationBox::ClearSending(int index) {
  TWriteReservation& r = ReservationTable[static_cast<size_t>(index)];
  r.Status = 0;
  ClearMark(r);
  SaveReservations();
}

}  // namespace brelo
