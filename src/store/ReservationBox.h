// The write-reservation box of one host: the posts and mails prepared offline
// for the next pass, kept in Write.Dat with a body file each in HostFolder.
// The box and each change to it are written through at once.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <random>
#include <optional>
#include <string>

#include "common/DateTime.h"

namespace brelo {

struct TWriteReservation {
  int32_t BoardNo = 0;         // 0 = mail
  std::string Title;           // at most 60 bytes
  std::string ToIDs;           // at most 255 bytes
  std::array<char, 128> Reserved{};  // never interpreted, carried unchanged
  std::string FileName;        // at most 12 bytes: the body file in HostFolder
  uint8_t Status = 0;          // 0 = write at the next access, 1 = hold
  uint8_t Reserved2 = 0;
};

constexpr size_t kReservationRecordSize = 464;
constexpr int kReservationSlots = 200;

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

  std::string WriteFile() const { return HostFolder + "Write.Dat"; }
  std::string BodyFile(int index) const { return HostFolder + ReservationTable[static_cast<size_t>(index)].FileName; }

  // Empties the editor slots and reads at most 199 records. Raises
  // EInOutError for an unreadable file (the box is then empty).
  void LoadReservations();
  // Writes ReservationCount records (whole-file replacement).
  void SaveReservations() const;
  // Fills the next slot and returns the new body file's name; the caller
  // writes the body. A full box raises EInOutError and changes nothing.
  std::string AddReservation(int board, const std::string& title, const std::string& recipients);
  // Detaches and closes the entry's editor, deletes its body file, moves the
  // later entries up (telling their editors), saves.
  void DeleteReservation(int index);
  // The body file's content, or nothing when it does not exist.
  std::optional<std::string> ReadBody(int index) const;

  // A name "yyMMdd" + two letters a-y + ".TXT" that no file in the folder has.
  std::string NewBodyFileName(const TCivilTime& today);

 private:
  std::mt19937 rng_{std::random_device{}()};
};

}  // namespace brelo
