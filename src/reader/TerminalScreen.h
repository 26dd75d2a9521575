// The terminal page's screen without a display: the host's bytes (Shift-JIS,
// after the telnet commands and the host's encoding, escape sequences kept)
// run through libvterm, a scrollback of the lines that leave the top, the
// text of a selection (a word, a line), find, the URLs on it, and what a key
// or the mouse sends to the host. The widget only draws what this holds and
// forwards the user's keys and clicks.
//
// Shift-JIS reaches libvterm as UTF-8 with one rule of our own: a
// double-byte character always takes two cells and a half-width katakana
// one, as on every Japanese terminal, whatever width Unicode gives the
// character (box drawing, Greek, ○ and ※ are one cell wide in Unicode).
// Double-byte characters travel as code points of the Tertiary Ideographic
// Plane, which libvterm makes two cells wide, and are turned back into
// their characters when read.
//
// One thread: the main thread (the page's). Not copyable.
#pragma once

#include <QString>
#include <Qt>
#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

struct VTerm;
struct VTermScreen;
struct VTermState;

namespace brelo {

// One cell. A wide character fills its first cell; the second has width 0.
struct TScreenCell {
  static constexpr uint32_t kDefaultColour = 0xFF000000u;  // the terminal's own
  char32_t ch = U' ';
  uint32_t fg = kDefaultColour;  // 0xRRGGBB, or kDefaultColour
  uint32_t bg = kDefaultColour;
  uint8_t width = 1;
  bool bold = false;
  bool underline = false;
  bool reverse = false;
  bool italic = false;
  bool strike = false;
  // The same painting (the character aside).
  bool SameStyle(const TScreenCell& o) const {
    return fg == o.fg && bg == o.bg && bold == o.bold && underline == o.underline && reverse == o.reverse &&
           italic == o.italic && strike == o.strike;
  }
};
using TScreenLine = std::vector<TScreenCell>;

// A place in the scrollback and screen: line 0 is the oldest line kept, the
// screen's rows follow the scrollback.
struct TScreenPos {
  int line = 0;
  int column = 0;
  auto operator<=>(const TScreenPos&) const = default;
};

// A key as the window received it.
struct TScreenKey {
  int key = 0;                          // Qt::Key
  Qt::KeyboardModifiers modifiers;
  QString text;                         // what the key types, if anything
};
// What a key sends: Shift-JIS bytes (characters in the host's encoding are
// made by the session when it sends), or nothing when the key is none of
// the host's. A character Shift-JIS cannot hold is named, not sent.
struct TKeyBytes {
  bool handled = false;
  std::string bytes;
  QString unmappable;
};

// What the host asked to hear of the mouse (DECSET 9, 1000, 1002, 1003).
enum class EMouseMode { kNone, kX10, kClick, kDrag, kMove };
// What the mouse did. Buttons: 1 left, 2 middle, 3 right.
enum class EMouseAction { kPress, kRelease, kMove, kWheelUp, kWheelDown };

class TTerminalScreen {
 public:
  static constexpr int kColumns = 80;  // before the page sizes it
  static constexpr int kRows = 24;
  static constexpr int kMinColumns = 20;
  static constexpr int kMinRows = 4;
  static constexpr int kScrollbackLines = 10000;

  TTerminalScreen(int columns = kColumns, int rows = kRows);
  ~TTerminalScreen();
  TTerminalScreen(const TTerminalScreen&) = delete;
  TTerminalScreen& operator=(const TTerminalScreen&) = delete;

  // The host's bytes, in any pieces (a character or a sequence split
  // between two pieces is joined).
  void Feed(std::string_view sjis);
  // Where to start in `bytes` so that no more than `lines` line ends are
  // left: what comes before could only scroll through the scrollback and out
  // of it, so a flood is drawn from there on (0: from the start).
  static size_t KeepFrom(std::string_view bytes, int lines);
  // A session ended: a program that never restored the terminal (the line
  // lost inside an editor) leaves no modes behind for the next session;
  // what it drew stays, and the normal screen comes back.
  void SessionEnded();
  // The size in cells (at least 20 x 4: smaller sizes are raised to it).
  void Resize(int columns, int rows);
  int Columns() const { return columns_; }
  int Rows() const { return rows_; }

  // Scrollback lines, then the screen's rows.
  int ScrollbackSize() const { return static_cast<int>(scrollback_.size()); }
  int LineCount() const { return ScrollbackSize() + rows_; }
  TScreenLine Line(int line) const;
  // A screen row (0: the top).
  TScreenLine Row(int row) const { return Line(ScrollbackSize() + row); }
  // The row's characters (a wide one once), without the blanks at its end.
  QString RowText(int row) const { return LineText(ScrollbackSize() + row); }
  QString LineText(int line) const;
  // Lines that ever left the screen's top (a view keeps its place by it).
  unsigned long long Pushed() const { return pushed_; }
  // Bytes the scrollback holds.
  size_t ScrollbackBytes() const;

  int CursorRow() const { return cursorRow_; }
  int CursorColumn() const { return cursorColumn_; }
  bool CursorVisible() const { return cursorVisible_; }
  // A full-screen program's own screen is up (it leaves no scrollback).
  bool AltScreen() const { return altScreen_; }
  // Whether anything changed since the last call, and the rows that did
  // (first, last; -1 when none) or the whole screen.
  bool TakeChanged(int& firstRow, int& lastRow);

  // The text from `from` to `to` (to's cell included), as a terminal copies
  // it: rows joined by new lines, blanks at each row's end left out.
  QString Text(TScreenPos from, TScreenPos to) const;
  // The next place `needle` occurs after (or before) `from`, not across
  // lines; case ignored for ASCII. False when there is none.
  bool Find(const QString& needle, TScreenPos from, bool backwards, TScreenPos& at, int& cells) const;
  // The word around a cell, as a double click takes it: a run of letters
  // and digits, of kanji, of hiragana or of katakana, of blanks, or of one
  // punctuation character repeated. A wide character's second cell counts
  // as its first. `to` is the word's last cell.
  void WordAt(TScreenPos at, TScreenPos& from, TScreenPos& to) const;
  // The URL (http, https, ftp, telnet, mailto) a cell is part of, or empty.
  QString UrlAt(TScreenPos at) const;

  // What a key sends, as the host's modes want it (cursor keys, keypad)
  // and as xterm sends control keys; Backspace sends BS, or DEL when set.
  TKeyBytes KeyBytes(const TScreenKey& key);
  void SetBackspaceSendsDelete(bool del) { backspaceDelete_ = del; }
  bool BackspaceSendsDelete() const { return backspaceDelete_; }
  // The mouse as the host asked for it, at a cell of the screen (0-based,
  // not scrolled back); empty when its mode takes none of it.
  EMouseMode MouseMode() const;
  std::string MouseBytes(EMouseAction action, int button, int row, int column, Qt::KeyboardModifiers modifiers);
  // Text pasted or committed by an input method; `bracketed` when the host
  // asked for pastes to be marked.
  TKeyBytes TextBytes(const QString& text, bool paste);
  // What the screen answers to the host's questions (where the cursor is,
  // which terminal this is), gathered since the last call.
  std::string TakeAnswers();

 private:
  friend struct TScreenCallbacks;
  void Damaged(int first, int last);
  TScreenCell CellAt(int row, int col) const;
  // What libvterm sends while f runs (a key's sequence).
  template <typename F>
  std::string Captured(F&& f);

  VTerm* vt_ = nullptr;
  VTermScreen* screen_ = nullptr;
  VTermState* state_ = nullptr;
  int columns_;
  int rows_;
  std::deque<TScreenLine> scrollback_;
  unsigned long long pushed_ = 0;
  unsigned char lead_ = 0;     // a lead byte waiting for its second byte
  // Where a control sequence stands across reads (ScanSequences).
  enum : unsigned char { kCsiNone, kCsiEsc, kCsiArguments };
  static constexpr int kMaxCsiSeparators = 16;  // libvterm holds 16 arguments
  unsigned char csi_ = kCsiNone;
  int csiSeparators_ = 0;
  bool csiPrivate_ = false;    // ESC [ ? ...
  std::string csiHeld_;        // a private sequence's arguments, held until its end
  void ScanSequences(std::string& bytes);
  bool x10_ = false;           // DECSET 9, which libvterm does not know
  int mouseProp_ = 0;          // libvterm's VTERM_PROP_MOUSE
  bool backspaceDelete_ = false;
  std::string utf8_;           // the piece for libvterm
  std::string output_;         // what libvterm has to send
  bool capturing_ = false;     // output_ is a key's, not an answer
  std::string answers_;
  int cursorRow_ = 0;
  int cursorColumn_ = 0;
  bool cursorVisible_ = true;
  bool altScreen_ = false;
  bool changed_ = true;
  int firstChanged_ = 0;
  int lastChanged_ = 0;
};

}  // namespace brelo
