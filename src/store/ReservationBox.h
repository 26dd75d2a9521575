// The write-reservation box of one host: the posts and mails prepared offline
// for the next pass, kept in Write.Dat with a body file each in HostFolder.
// The box and each change to it are written through at once.
//
// Nothing the user wrote is dropped by a save: records beyond what loads are
// written back unchanged, a damaged file is kept aside before anything new
// is written, and a file that could not be read is never written over.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <random>
#include <optional>
#include <string>
#include <string_view>

#include "common/DateTime.h"
#include "hosts/HostTable.h"

namespace brelo {

struct TWriteReservation {
  int32_t BoardNo = 0;         // 0 = mail
  std::string Title;           // at most 60 bytes
  std::string ToIDs;           // at most 255 bytes
  std::array<char, 128> Reserved{};  // carried unchanged, except the note below
  std::string FileName;        // at most 12 bytes: the body file in HostFolder
  uint8_t Status = 0;          // 0 = write at the next access, 1 = hold
  uint8_t Reserved2 = 0;
};

constexpr size_t kReservationRecordSize = 464;
// The most a body file may hold: far beyond any post a host takes.
constexpr size_t kMaxBodyBytes = 256u << 10;
constexpr int kReservationSlots = 200;
// What a load reads, and so what the box may hold.
constexpr int kReservationsLoaded = kReservationSlots - 1;

void EncodeReservation(const TWriteReservation& r, char* rec);
TWriteReservation DecodeReservation(const char* rec);

// The editor window of a reservation, as the box sees it.
class IReservationEditor {
 public:
  virtual ~IReservationEditor() = default;
  // The entry moved to another index (-1: it was deleted, the editor is detached).
  virtual void SetReservationIndex(int index) = 0;
  // Closes the window without saving (after detaching).
  virtual void CloseDetached() = 0;
  virtual void BringToFront() = 0;
  // Asks the window to close as the user would (it may ask and refuse);
  // true when it closed.
  virtual bool RequestClose() = 0;
};

class TReservationBox {
 public:
  std::string HostFolder;  // ending in "/"
  std::array<TWriteReservation, kReservationSlots> ReservationTable;
  int ReservationCount = 0;
  std::array<IReservationEditor*, kReservationSlots> EditorSlots{};
  // RefreshReservationGrid: redraw whatever shows the box.
  std::function<void()> OnChanged;

  // The body file name of the entry being sent right now ("" when none);
  // set by the session policy. That entry is neither edited nor deleted
  // until its result is in.
  std::string SendingName;
  // The user asked to delete the entry being sent: done once its result is in.
  bool DeleteWhenSent = false;
  // What the last load found wrong with Write.Dat, for the user (Shift-JIS;
  // empty when nothing).
  std::string LoadProblem;

  std::string WriteFile() const { return HostFolder + "Write.Dat"; }
  std::string BodyFile(int index) const { return HostFolder + ReservationTable[static_cast<size_t>(index)].FileName; }

  // Empties the editor slots and reads at most 199 records; removes what
  // crashed writers left behind. Raises EInOutError for an unreadable file
  // (the box is then empty, and saving it is refused). A damaged file loads
  // its whole records, is kept aside, and says so in LoadProblem.
  void LoadReservations();
  // Writes the entries, then the records beyond what loaded (whole-file
  // replacement). Raises EInOutError.
  void SaveReservations() const;
  // Fills the next slot and returns the new body file's name; the caller
  // writes the body. A full box raises EInOutError and changes nothing.
  std::string AddReservation(int board, const std::string& title, const std::string& recipients);
  // Detaches and closes the entry's editor, moves the later entries up
  // (telling their editors), saves, and only then deletes the body file. On
  // a failed save nothing changes but the closed editor.
  void DeleteReservation(int index);
  // The body file's content, or nothing when it does not exist. Raises
  // EInOutError with the reason for a name that is not the entry's own
  // file (BodyNameProblem), a symbolic link, a file that is not regular or
  // is longer than kMaxBodyBytes, and one that cannot be read.
  std::optional<std::string> ReadBody(int index) const;
  // The index of the entry with this body file, or -1.
  int Find(const std::string& fileName) const;

  // Why a body file name is not the entry's own file, in Shift-JIS; empty
  // when it is. It is a plain name in the host folder (no path separator,
  // no "..", not hidden, not empty) and none of the store's own files:
  // Write.Dat, Boards.Dat, MESnn.IDX/TXT, Users.TXT, the session logs, the
  // lock, copies kept aside, temporary files. Capitals do not matter.
  static std::string BodyNameProblem(const std::string& name);
  static bool SafeFileName(const std::string& name) { return BodyNameProblem(name).empty(); }
  // What the selected host's line editor takes (set with HostFolder).
  TEditorLimits Limits;
  // Why a Shift-JIS body cannot reach the host whole, as a reason ending in
  // "ため" (empty when it can): more than kMaxBodyBytes, a NUL byte (a
  // UTF-16 file), bytes that are not Shift-JIS text, a line that is
  // exactly "//", which ends the body in the host's line editor, more lines
  // or a longer line than that editor takes, or a control character it
  // would act on (anything below a blank but TAB and the line breaks, and DEL).
  static std::string BodyProblem(std::string_view body, const TEditorLimits& limits);
  // Why a title or the recipients cannot go to the host as they are (a
  // control character: a line break would send a line of its own), ending
  // in "ため"; empty when they can.
  static std::string HeadProblem(const TWriteReservation& r);
  // Marked as being sent: a pass began to send it and never learned the
  // result. Such an entry is held and never sent again by itself.
  static bool Interrupted(const TWriteReservation& r);
  // Marks entry i as being sent (held, with a note in the reserved bytes,
  // which older versions ignore) and saves: done before a write begins, so
  // that no crash can post it twice. Raises EInOutError; memory is then as
  // before.
  void MarkSending(int index);
  // Entry i back to "write at the next access" without the note, saved.
  void ClearSending(int index);
  // The note alone taken away (the user decided to send it again).
  static void ClearMark(TWriteReservation& r);

  // Write.Dat could not be read at the last load (the box shows empty and is
  // never saved).
  bool Unreadable() const { return unreadable_; }
  // The whole records beyond what loads, and of them those due.
  int RecordsBeyond() const { return static_cast<int>(tail_.size() / kReservationRecordSize); }
  int DueBeyond() const;

  // A name "yyMMdd" + two letters a-y + ".TXT" that no file in the folder has.
  std::string NewBodyFileName(const TCivilTime& today);

 private:
  std::mt19937 rng_{std::random_device{}()};
  std::string tail_;         // whole records beyond what loads, kept as read
  bool unreadable_ = false;  // the file could not be read: never written over
};

}  // namespace brelo
