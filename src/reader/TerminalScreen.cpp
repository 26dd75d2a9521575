#include "reader/TerminalScreen.h"

#include <vterm.h>

#include <QList>
#include <QRegularExpression>
#include <QStringList>

#include <algorithm>
#include <array>
#include <cstring>
#include <string.h>

#include "common/Sjis.h"
#include "reader/TerminalText.h"

namespace brelo {
namespace {

// The most libvterm is given at once (see Feed).
constexpr size_t kWritePiece = 4096;

// Where double-byte characters travel: U+30000 + their Shift-JIS code.
constexpr char32_t kSjisPlane = 0x30000;
constexpr unsigned kFirstCode = 0x8100;
constexpr unsigned kLastCode = 0xFCFF;

bool IsTrailByte(unsigned char b) { return (b >= 0x40 && b <= 0x7E) || (b >= 0x80 && b <= 0xFC); }

void PutUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// The character of each double-byte Shift-JIS code, made once.
const std::vector<char32_t>& DoubleByteTable() {
  static const std::vector<char32_t> table = [] {
    std::vector<char32_t> t(kLastCode - kFirstCode + 1, U'\uFFFD');
    for (unsigned lead = 0x81; lead <= 0xFC; ++lead) {
      if (!IsDBCSLeadByte(static_cast<unsigned char>(lead))) continue;
      for (unsigned trail = 0x40; trail <= 0xFC; ++trail) {
        if (!IsTrailByte(static_cast<unsigned char>(trail))) continue;
        const char bytes[2] = {static_cast<char>(lead), static_cast<char>(trail)};
        const QList<uint> ucs = SjisToQString(std::string_view(bytes, 2)).toUcs4();
        if (ucs.size() == 1) t[(lead << 8 | trail) - kFirstCode] = ucs[0];
      }
    }
    return t;
  }();
  return table;
}

char32_t FromVterm(uint32_t c) {
  if (c >= kSjisPlane + kFirstCode && c <= kSjisPlane + kLastCode) return DoubleByteTable()[c - kSjisPlane - kFirstCode];
  return c;
}

uint32_t Rgb(const VTermColor& c) { return uint32_t(c.rgb.red) << 16 | uint32_t(c.rgb.green) << 8 | c.rgb.blue; }

bool Blank(const TScreenCell& c) {
  return (c.ch == U' ' || c.ch == 0) && c.width == 1 && c.bg == TScreenCell::kDefaultColour && !c.underline &&
         !c.reverse;
}

// The second half of a wide character whose first half was written over
// becomes a blank.
void BlankLoneHalves(TScreenLine& line) {
  for (size_t c = 0; c < line.size(); ++c) {
    if (line[c].width == 0 && (c == 0 || line[c - 1].width != 2)) {
      line[c].ch = U' ';
      line[c].width = 1;
    }
  }
}

}  // namespace

// libvterm's callbacks, forwarded to the screen.
struct TScreenCallbacks {
  static TTerminalScreen& S(void* user) { return *static_cast<TTerminalScreen*>(user); }
  static TScreenCell Cell(TTerminalScreen& s, const VTermScreenCell& c) {
    TScreenCell out;
    if (c.chars[0] == static_cast<uint32_t>(-1)) {
      out.ch = 0;
      out.width = 0;
    } else if (c.width < 2 && c.chars[0] >= kSjisPlane + kFirstCode && c.chars[0] <= kSjisPlane + kLastCode) {
      out.ch = U' ';  // a double-byte character whose second half was written over
    } else {
      out.ch = c.chars[0] == 0 ? U' ' : FromVterm(c.chars[0]);
      out.width = static_cast<uint8_t>(std::max(1, static_cast<int>(c.width)));
    }
    if (!VTERM_COLOR_IS_DEFAULT_FG(&c.fg)) {
      VTermColor x = c.fg;
      vterm_screen_convert_color_to_rgb(s.screen_, &x);
      out.fg = Rgb(x);
    }
    if (!VTERM_COLOR_IS_DEFAULT_BG(&c.bg)) {
      VTermColor x = c.bg;
      vterm_screen_convert_color_to_rgb(s.screen_, &x);
      out.bg = Rgb(x);
    }
    out.bold = c.attrs.bold;
    out.underline = c.attrs.underline != 0;
    out.reverse = c.attrs.reverse;
    out.italic = c.attrs.italic;
    out.strike = c.attrs.strike;
    return out;
  }
  static int Damage(VTermRect r, void* user) {
    S(user).Damaged(r.start_row, r.end_row - 1);
    return 1;
  }
  static int MoveRect(VTermRect dest, VTermRect src, void* user) {
    S(user).Damaged(std::min(dest.start_row, src.start_row), std::max(dest.end_row, src.end_row) - 1);
    return 1;
  }
  static int MoveCursor(VTermPos pos, VTermPos old, int visible, void* user) {
    TTerminalScreen& s = S(user);
    s.cursorRow_ = pos.row;
    s.cursorColumn_ = pos.col;
    s.cursorVisible_ = visible != 0;
    s.Damaged(std::min(pos.row, old.row), std::max(pos.row, old.row));
    return 1;
  }
  static int SetTermProp(VTermProp prop, VTermValue* val, void* user) {
    TTerminalScreen& s = S(user);
    if (prop == VTERM_PROP_CURSORVISIBLE) s.cursorVisible_ = val->boolean != 0;
    if (prop == VTERM_PROP_ALTSCREEN) s.altScreen_ = val->boolean != 0;
    if (prop == VTERM_PROP_MOUSE) s.mouseProp_ = val->number;
    s.Damaged(0, s.rows_ - 1);
    return 1;
  }
  static int PushLine(int cols, const VTermScreenCell* cells, void* user) {
    TTerminalScreen& s = S(user);
    int n = cols;
    std::vector<TScreenCell> line(static_cast<size_t>(cols));
    for (int c = 0; c < cols; ++c) line[static_cast<size_t>(c)] = Cell(s, cells[c]);
    BlankLoneHalves(line);
    while (n > 0 && Blank(line[static_cast<size_t>(n - 1)])) --n;
    s.scrollback_.emplace_back(line.begin(), line.begin() + n);  // exactly as long as its text
    if (s.scrollback_.size() > TTerminalScreen::kScrollbackLines) s.scrollback_.pop_front();
    ++s.pushed_;
    return 1;
  }
  static int PopLine(int cols, VTermScreenCell* cells, void* user) {
    TTerminalScreen& s = S(user);
    if (s.scrollback_.empty()) return 0;
    const TScreenLine line = std::move(s.scrollback_.back());
    s.scrollback_.pop_back();
    --s.pushed_;
    for (int c = 0; c < cols; ++c) {
      const TScreenCell x = static_cast<size_t>(c) < line.size() ? line[static_cast<size_t>(c)] : TScreenCell();
      VTermScreenCell& v = cells[c];
      v = VTermScreenCell();
      v.chars[0] = x.width == 0 ? static_cast<uint32_t>(-1) : static_cast<uint32_t>(x.ch);
      v.width = static_cast<char>(x.width == 0 ? 1 : x.width);
      v.attrs.bold = x.bold;
      v.attrs.underline = x.underline ? 1 : 0;
      v.attrs.reverse = x.reverse;
      v.attrs.italic = x.italic;
      v.attrs.strike = x.strike;
      vterm_color_rgb(&v.fg, (x.fg >> 16) & 0xFF, (x.fg >> 8) & 0xFF, x.fg & 0xFF);
      vterm_color_rgb(&v.bg, (x.bg >> 16) & 0xFF, (x.bg >> 8) & 0xFF, x.bg & 0xFF);
      if (x.fg == TScreenCell::kDefaultColour) v.fg.type |= VTERM_COLOR_DEFAULT_FG;
      if (x.bg == TScreenCell::kDefaultColour) v.bg.type |= VTERM_COLOR_DEFAULT_BG;
    }
    return 1;
  }
  static void Output(const char* p, size_t n, void* user) {
    TTerminalScreen& s = S(user);
    (s.capturing_ ? s.output_ : s.answers_).append(p, n);
  }
};

namespace {
const VTermScreenCallbacks kCallbacks = {
    &TScreenCallbacks::Damage,   &TScreenCallbacks::MoveRect, &TScreenCallbacks::MoveCursor,
    &TScreenCallbacks::SetTermProp, nullptr, nullptr,         &TScreenCallbacks::PushLine,
    &TScreenCallbacks::PopLine,
};
}  // namespace

TTerminalScreen::TTerminalScreen(int columns, int rows)
    : columns_(std::max(columns, kMinColumns)), rows_(std::max(rows, kMinRows)) {
  vt_ = vterm_new(rows_, columns_);
  vterm_set_utf8(vt_, 1);
  vterm_output_set_callback(vt_, &TScreenCallbacks::Output, this);
  state_ = vterm_obtain_state(vt_);
  screen_ = vterm_obtain_screen(vt_);
  vterm_screen_set_callbacks(screen_, &kCallbacks, this);
  vterm_screen_set_damage_merge(screen_, VTERM_DAMAGE_SCROLL);
  vterm_screen_enable_altscreen(screen_, 1);
  // The line view's sixteen colours, bold as the bright ones, white on black.
  vterm_state_set_bold_highbright(state_, 1);
  for (int i = 0; i < 16; ++i) {
    TTextAttr a;
    a.fg = static_cast<uint8_t>(i);
    const uint32_t rgb = TerminalColours(a).fg;
    VTermColor c;
    vterm_color_rgb(&c, (rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF);
    vterm_state_set_palette_color(state_, i, &c);
  }
  VTermColor fg, bg;
  vterm_color_rgb(&fg, 0xFF, 0xFF, 0xFF);
  vterm_color_rgb(&bg, 0, 0, 0);
  vterm_state_set_default_colors(state_, &fg, &bg);
  vterm_screen_reset(screen_, 1);
}

TTerminalScreen::~TTerminalScreen() { vterm_free(vt_); }

void TTerminalScreen::Damaged(int first, int last) {
  first = std::max(first, 0);
  last = std::min(last, rows_ - 1);
  if (last < first) return;
  if (!changed_) {
    changed_ = true;
    firstChanged_ = first;
    lastChanged_ = last;
  } else {
    firstChanged_ = std::min(firstChanged_, first);
    lastChanged_ = std::max(lastChanged_, last);
  }
}

bool TTerminalScreen::TakeChanged(int& firstRow, int& lastRow) {
  if (!changed_) {
    firstRow = lastRow = -1;
    return false;
  }
  firstRow = firstChanged_;
  lastRow = lastChanged_;
  changed_ = false;
  return true;
}

void TTerminalScreen::Feed(std::string_view sjis) {
  utf8_.clear();
  const auto* p = reinterpret_cast<const unsigned char*>(sjis.data());
  const size_t n = sjis.size();
  size_t i = 0;
  while (i < n) {
    const unsigned char b = p[i];
    if (lead_ != 0) {
      const unsigned char lead = lead_;
      lead_ = 0;
      if (IsTrailByte(b)) {
        PutUtf8(utf8_, kSjisPlane + (static_cast<char32_t>(lead) << 8 | b));
        ++i;
      } else {
        PutUtf8(utf8_, U'\uFFFD');  // half a character: the byte after it counts as itself
      }
      continue;
    }
    if (b < 0x80) {  // ASCII and the controls, at once
      size_t j = i + 1;
      while (j < n && p[j] < 0x80) ++j;
      utf8_.append(sjis.data() + i, j - i);
      i = j;
      continue;
    }
    if (IsDBCSLeadByte(b)) lead_ = b;
    else if (b >= 0xA1 && b <= 0xDF) PutUtf8(utf8_, U'\uFF61' + (b - 0xA1));  // half-width katakana
    else PutUtf8(utf8_, U'\uFFFD');
    ++i;
  }
  ScanSequences(utf8_);
  // libvterm keeps a run of text on its stack, as long as what it is given:
  // it gets the bytes in pieces, each ending on a whole character.
  size_t at = 0;
  while (at < utf8_.size()) {
    size_t end = std::min(utf8_.size(), at + kWritePiece);
    while (end < utf8_.size() && end > at + 1 && (static_cast<unsigned char>(utf8_[end]) & 0xC0) == 0x80) --end;
    vterm_input_write(vt_, utf8_.data() + at, end - at);
    at = end;
  }
  vterm_screen_flush_damage(screen_);
}

void TTerminalScreen::ScanSequences(std::string& bytes) {
  // libvterm writes a sequence's arguments past the end of its array when a
  // host sends more than it holds (ESC [ 4;;;;...H): separators beyond that
  // are dropped here, so the last argument takes the rest. It sets only the
  // first of several private modes set at once (ESC [ ? 1000;1006 h): they
  // are given to it one sequence each. And the X10 mouse mode (ESC [ ? 9 h),
  // which it does not know, is followed here. Across reads: a private mode
  // sequence is held until its end.
  std::string out;
  out.reserve(bytes.size());
  for (const char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    if (b == 0x1B) {
      out += csiHeld_;  // cut short by a new sequence: as it came
      csiHeld_.clear();
      csi_ = kCsiEsc;
    } else if (csi_ == kCsiEsc) {
      csi_ = b == '[' ? kCsiArguments : kCsiNone;
      if (b == 'c') x10_ = false;  // a full reset
      csiSeparators_ = 0;
      csiPrivate_ = false;
    } else if (csi_ == kCsiArguments) {
      if (b == '?' && csiHeld_.empty() && !csiPrivate_) {
        csiPrivate_ = true;
        csiHeld_ = "?";
        continue;
      }
      if (b == ';' || b == ':') {
        if (++csiSeparators_ >= kMaxCsiSeparators) continue;
      } else if (b >= 0x40 || b == 0x18 || b == 0x1A) {  // its end, or cancelled
        csi_ = kCsiNone;
        if (csiPrivate_ && (b == 'h' || b == 'l')) {
          // One sequence for each mode.
          bool first = true;
          for (const QString& mode : QString::fromLatin1(csiHeld_.substr(1)).split(QLatin1Char(';'))) {
            if (mode.toInt() == 9) x10_ = b == 'h';
            out += (first ? "?" : "\x1b[?") + mode.toStdString() + static_cast<char>(b);
            first = false;
          }
          csiHeld_.clear();
          csiPrivate_ = false;
          continue;
        }
        out += csiHeld_;
        csiHeld_.clear();
        csiPrivate_ = false;
      }
      if (csiPrivate_ && csiHeld_.size() < 64) {
        csiHeld_ += c;
        continue;
      }
      out += csiHeld_;  // too long to be a list of modes: as it came
      csiHeld_.clear();
      csiPrivate_ = false;
    }
    out += c;
  }
  bytes.swap(out);
}

size_t TTerminalScreen::KeepFrom(std::string_view bytes, int lines) {
  size_t end = bytes.size();
  for (int n = 0; n <= lines; ++n) {
    const void* lf = end > 0 ? ::memrchr(bytes.data(), '\n', end) : nullptr;
    if (lf == nullptr) return 0;
    end = static_cast<size_t>(static_cast<const char*>(lf) - bytes.data());
  }
  return end + 1;
}

void TTerminalScreen::SessionEnded() {
  lead_ = 0;
  // The normal screen: where its cursor stands, the next session's text goes.
  // Leaving the alternate screen puts back the cursor saved on entering it,
  // the top-left corner when there was none: only a session that is in it
  // leaves it.
  if (AltScreen()) Feed("\x1b[?1049l");
  const int row = cursorRow_, column = cursorColumn_;
  // A soft reset (margins, colours), and the modes it keeps: cursor and
  // keypad keys, bracketed paste, the mouse and how it is reported, a
  // visible cursor. Resetting the
  // margins homes the cursor, and the next session would be drawn over the
  // last one's screen from its top: the cursor is put back.
  Feed("\x1b[!p\x1b[?1l\x1b>\x1b[?2004l\x1b[?9l\x1b[?1000l\x1b[?1002l\x1b[?1003l\x1b[?1005l\x1b[?1006l\x1b[?1015l\x1b[?25h\x1b[r\x1b[m\x1b[" +
       std::to_string(row + 1) + ";" + std::to_string(column + 1) + "H");
}

void TTerminalScreen::Resize(int columns, int rows) {
  columns = std::max(columns, kMinColumns);
  rows = std::max(rows, kMinRows);
  if (columns == columns_ && rows == rows_) return;
  columns_ = columns;
  rows_ = rows;
  vterm_set_size(vt_, rows, columns);
  vterm_screen_flush_damage(screen_);
  Damaged(0, rows_ - 1);
}

TScreenCell TTerminalScreen::CellAt(int row, int col) const {
  VTermScreenCell c;
  if (vterm_screen_get_cell(screen_, VTermPos{row, col}, &c) == 0) return TScreenCell();
  return TScreenCallbacks::Cell(const_cast<TTerminalScreen&>(*this), c);
}

TScreenLine TTerminalScreen::Line(int line) const {
  if (line < 0 || line >= LineCount()) return {};
  if (line < ScrollbackSize()) return scrollback_[static_cast<size_t>(line)];
  TScreenLine out(static_cast<size_t>(columns_));
  const int row = line - ScrollbackSize();
  for (int c = 0; c < columns_; ++c) out[static_cast<size_t>(c)] = CellAt(row, c);
  BlankLoneHalves(out);
  return out;
}

namespace {
// The characters of cells [from, to] (a wide one once), and the column of each.
void CellText(const TScreenLine& line, int from, int to, QString& text, std::vector<int>* columns) {
  for (int c = std::max(0, from); c <= to && c < static_cast<int>(line.size()); ++c) {
    const TScreenCell& cell = line[static_cast<size_t>(c)];
    if (cell.width == 0) continue;
    const char32_t ch = cell.ch == 0 ? U' ' : cell.ch;
    const QString s = QString::fromUcs4(&ch, 1);
    text += s;
    if (columns != nullptr) columns->insert(columns->end(), static_cast<size_t>(s.size()), c);
  }
}
void TrimEnd(QString& s) {
  int n = static_cast<int>(s.size());
  while (n > 0 && s[n - 1] == QLatin1Char(' ')) --n;
  s.truncate(n);
}
}  // namespace

QString TTerminalScreen::LineText(int line) const {
  QString s;
  CellText(Line(line), 0, columns_ * 2, s, nullptr);
  TrimEnd(s);
  return s;
}

QString TTerminalScreen::Text(TScreenPos from, TScreenPos to) const {
  if (to < from) std::swap(from, to);
  QStringList lines;
  for (int l = std::max(0, from.line); l <= to.line && l < LineCount(); ++l) {
    QString s;
    CellText(Line(l), l == from.line ? from.column : 0, l == to.line ? to.column : 1 << 20, s, nullptr);
    TrimEnd(s);
    lines << s;
  }
  return lines.join(QLatin1Char('\n'));
}

bool TTerminalScreen::Find(const QString& needle, TScreenPos from, bool backwards, TScreenPos& at,
                           int& cells) const {
  if (needle.isEmpty()) return false;
  const int count = LineCount();
  for (int k = 0; k <= count; ++k) {
    const int l = backwards ? from.line - k : from.line + k;
    if (l < 0 || l >= count) break;
    QString text;
    std::vector<int> columns;
    const TScreenLine line = Line(l);
    CellText(line, 0, static_cast<int>(line.size()) - 1, text, &columns);
    // Within the starting line, only after (before) the starting column.
    qsizetype hit = -1;
    if (backwards) {
      qsizetype start = text.size() - 1;
      if (k == 0) {
        start = 0;
        while (start < static_cast<qsizetype>(columns.size()) && columns[static_cast<size_t>(start)] < from.column) ++start;
        start -= 1;
      }
      if (start >= 0) hit = text.lastIndexOf(needle, start, Qt::CaseInsensitive);
    } else {
      qsizetype start = 0;
      if (k == 0) {
        while (start < static_cast<qsizetype>(columns.size()) && columns[static_cast<size_t>(start)] <= from.column) ++start;
      }
      hit = text.indexOf(needle, start, Qt::CaseInsensitive);
    }
    if (hit < 0) continue;
    at = {l, columns[static_cast<size_t>(hit)]};
    const int last = columns[static_cast<size_t>(hit + needle.size() - 1)];
    cells = last - at.column + std::max<int>(1, line[static_cast<size_t>(last)].width);
    return true;
  }
  return false;
}

template <typename F>
std::string TTerminalScreen::Captured(F&& f) {
  output_.clear();
  capturing_ = true;
  f();
  capturing_ = false;
  std::string out;
  out.swap(output_);
  return out;
}

std::string TTerminalScreen::TakeAnswers() {
  std::string out;
  out.swap(answers_);
  return out;
}

TKeyBytes TTerminalScreen::TextBytes(const QString& text, bool paste) {
  TKeyBytes r;
  r.handled = true;
  QString t = text;
  if (paste) {
    // Line ends as the Enter key sends them.
    t.replace(QStringLiteral("\r\n"), QStringLiteral("\r"));
    t.replace(QLatin1Char('\n'), QLatin1Char('\r'));
  }
  const TSjisResult s = QStringToSjis(t);
  if (!s.ok()) {
    r.unmappable = s.unmappable;
    return r;
  }
  if (paste) {
    r.bytes = Captured([this] { vterm_keyboard_start_paste(vt_); }) + s.bytes +
              Captured([this] { vterm_keyboard_end_paste(vt_); });
  } else {
    r.bytes = s.bytes;
  }
  return r;
}

TKeyBytes TTerminalScreen::KeyBytes(const TScreenKey& key) {
  const bool ctrl = key.modifiers & Qt::ControlModifier;
  const bool alt = key.modifiers & Qt::AltModifier;
  const bool shift = key.modifiers & Qt::ShiftModifier;
  int mod = VTERM_MOD_NONE;
  if (shift) mod |= VTERM_MOD_SHIFT;
  if (ctrl) mod |= VTERM_MOD_CTRL;
  if (alt) mod |= VTERM_MOD_ALT;
  const std::string meta = alt ? "\x1b" : "";
  VTermKey vk = VTERM_KEY_NONE;
  switch (key.key) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
      vk = VTERM_KEY_ENTER;  // CR (CR LF when the host set its new-line mode)
      mod = VTERM_MOD_NONE;
      break;
    case Qt::Key_Backspace:
      return {true, meta + (backspaceDelete_ ? "\x7f" : "\x08"), {}};
    case Qt::Key_Tab:
      vk = VTERM_KEY_TAB;
      mod &= VTERM_MOD_SHIFT;
      break;
    case Qt::Key_Backtab:
      vk = VTERM_KEY_TAB;
      mod = VTERM_MOD_SHIFT;
      break;
    case Qt::Key_Escape:
      vk = VTERM_KEY_ESCAPE;
      mod = VTERM_MOD_NONE;
      break;
    case Qt::Key_Up: vk = VTERM_KEY_UP; break;
    case Qt::Key_Down: vk = VTERM_KEY_DOWN; break;
    case Qt::Key_Left: vk = VTERM_KEY_LEFT; break;
    case Qt::Key_Right: vk = VTERM_KEY_RIGHT; break;
    case Qt::Key_Insert: vk = VTERM_KEY_INS; break;
    case Qt::Key_Delete: vk = VTERM_KEY_DEL; break;
    case Qt::Key_Home: vk = VTERM_KEY_HOME; break;
    case Qt::Key_End: vk = VTERM_KEY_END; break;
    case Qt::Key_PageUp: vk = VTERM_KEY_PAGEUP; break;
    case Qt::Key_PageDown: vk = VTERM_KEY_PAGEDOWN; break;
    default:
      if (key.key >= Qt::Key_F1 && key.key <= Qt::Key_F12) vk = static_cast<VTermKey>(VTERM_KEY_FUNCTION(key.key - Qt::Key_F1 + 1));
      break;
  }
  if (vk != VTERM_KEY_NONE) {
    return {true, Captured([&] { vterm_keyboard_key(vt_, vk, static_cast<VTermModifier>(mod)); }), {}};
  }
  if (ctrl) {
    // The character the key types, made a control character as X makes it
    // for xterm: @ to ~ and the space keep their low five bits, 2 is NUL,
    // 3 to 7 are ESC to US, 8 is DEL and / is US; any other character goes
    // as it is. Qt names an ASCII key by its character (a letter in upper
    // case); a key it does not name brings what the keyboard typed.
    char32_t c = 0;
    if (key.key >= 0x20 && key.key <= 0x7E) c = static_cast<char32_t>(key.key);
    else if (key.text.size() == 1 && key.text[0].unicode() < 0x80) c = key.text[0].unicode();
    else return {};
    if ((c >= '@' && c < 0x7F) || c == ' ') c &= 0x1F;
    else if (c == '2') c = 0x00;
    else if (c >= '3' && c <= '7') c -= '3' - 0x1B;
    else if (c == '8') c = 0x7F;
    else if (c == '/') c = '_' & 0x1F;
    return {true, meta + std::string(1, static_cast<char>(c)), {}};
  }
  if (key.text.isEmpty()) return {};
  for (QChar ch : key.text) {
    if (ch.unicode() < 0x20 || ch.unicode() == 0x7F) return {};
  }
  TKeyBytes r = TextBytes(key.text, false);
  if (!r.bytes.empty()) r.bytes.insert(0, meta);
  return r;
}

EMouseMode TTerminalScreen::MouseMode() const {
  switch (mouseProp_) {
    case VTERM_PROP_MOUSE_CLICK: return EMouseMode::kClick;
    case VTERM_PROP_MOUSE_DRAG: return EMouseMode::kDrag;
    case VTERM_PROP_MOUSE_MOVE: return EMouseMode::kMove;
    default: return x10_ ? EMouseMode::kX10 : EMouseMode::kNone;
  }
}

std::string TTerminalScreen::MouseBytes(EMouseAction action, int button, int row, int column,
                                        Qt::KeyboardModifiers modifiers) {
  row = std::clamp(row, 0, rows_ - 1);
  column = std::clamp(column, 0, columns_ - 1);
  const bool wheel = action == EMouseAction::kWheelUp || action == EMouseAction::kWheelDown;
  if (wheel) button = action == EMouseAction::kWheelUp ? 4 : 5;
  if ((action == EMouseAction::kPress || action == EMouseAction::kRelease) && (button < 1 || button > 3)) return {};
  switch (MouseMode()) {
    case EMouseMode::kNone:
      return {};
    case EMouseMode::kX10: {
      // Presses alone, without modifiers, in the old encoding, which has no
      // room for a place beyond 223.
      if (action != EMouseAction::kPress && !wheel) return {};
      if (column > 222 || row > 222) return {};
      const int code = wheel ? 64 + button - 4 : button - 1;
      return std::string("\x1b[M") + static_cast<char>(32 + code) + static_cast<char>(33 + column) +
             static_cast<char>(33 + row);
    }
    default:
      break;
  }
  // libvterm encodes the rest as the host's modes want it (normal, SGR).
  int mod = VTERM_MOD_NONE;
  if (modifiers & Qt::ShiftModifier) mod |= VTERM_MOD_SHIFT;
  if (modifiers & Qt::AltModifier) mod |= VTERM_MOD_ALT;
  if (modifiers & Qt::ControlModifier) mod |= VTERM_MOD_CTRL;
  const auto m = static_cast<VTermModifier>(mod);
  return Captured([&] {
    vterm_mouse_move(vt_, row, column, m);
    if (action == EMouseAction::kPress || wheel) vterm_mouse_button(vt_, button, true, m);
    else if (action == EMouseAction::kRelease) vterm_mouse_button(vt_, button, false, m);
  });
}

namespace {
// Which run of characters a character belongs to, for a double click.
int WordClass(char32_t c) {
  if (c == U' ' || c == 0 || c == U'\u3000') return 0;
  if (c == U'_' || (c < 0x80 && QChar::isLetterOrNumber(c))) return 1;
  if ((c >= 0xFF10 && c <= 0xFF19) || (c >= 0xFF21 && c <= 0xFF3A) || (c >= 0xFF41 && c <= 0xFF5A)) return 1;
  if (c >= 0x3041 && c <= 0x309F) return 2;                                             // hiragana
  if ((c >= 0x30A0 && c <= 0x30FF) || (c >= 0xFF66 && c <= 0xFF9F)) return 3;          // katakana, ー
  if ((c >= 0x4E00 && c <= 0x9FFF) || (c >= 0x3400 && c <= 0x4DBF) || c == U'\u3005') return 4;  // kanji, 々
  if (c >= 0x80 && QChar::isLetterOrNumber(c)) return 5;                              // other letters
  return 0x100 + static_cast<int>(c);  // punctuation: a run of the same character
}
}  // namespace

void TTerminalScreen::WordAt(TScreenPos at, TScreenPos& from, TScreenPos& to) const {
  const TScreenLine line = Line(at.line);
  from = to = at;
  if (line.empty()) return;
  const int n = static_cast<int>(line.size());
  const int c = std::clamp(at.column, 0, n - 1);
  // Each cell's class; a wide character's second cell takes its first's.
  std::vector<int> cls(static_cast<size_t>(n));
  for (size_t i = 0; i < cls.size(); ++i) cls[i] = line[i].width == 0 && i > 0 ? cls[i - 1] : WordClass(line[i].ch);
  const int want = cls[static_cast<size_t>(c)];
  int first = c, last = c;
  while (first > 0 && cls[static_cast<size_t>(first - 1)] == want) --first;
  while (last + 1 < n && cls[static_cast<size_t>(last + 1)] == want) ++last;
  from = {at.line, first};
  to = {at.line, last};
}

QString TTerminalScreen::UrlAt(TScreenPos at) const {
  const TScreenLine line = Line(at.line);
  QString text;
  std::vector<int> columns;
  CellText(line, 0, static_cast<int>(line.size()) - 1, text, &columns);
  static const QRegularExpression url(
      QStringLiteral(R"((?:https?|ftp|telnet)://[A-Za-z0-9\-._~:/?#\[\]@!$&'()*+,;=%]+|mailto:[A-Za-z0-9\-._+%]+@[A-Za-z0-9\-.]+)"));
  for (auto it = url.globalMatch(text); it.hasNext();) {
    const QRegularExpressionMatch m = it.next();
    QString found = m.captured();
    // Punctuation that ends a sentence, or a bracket that closes one the
    // URL did not open, is not the URL's.
    const auto strayEnd = [](const QString& u) {
      if (QStringLiteral(".,;:!?'").contains(u.back())) return true;
      return u.back() == QLatin1Char(')') && u.count(QLatin1Char(')')) > u.count(QLatin1Char('('));
    };
    while (!found.isEmpty() && strayEnd(found)) found.chop(1);
    const qsizetype first = m.capturedStart(), last = first + found.size() - 1;
    if (found.isEmpty() || static_cast<size_t>(last) >= columns.size()) continue;
    if (at.column >= columns[static_cast<size_t>(first)] && at.column <= columns[static_cast<size_t>(last)]) {
      return found;
    }
  }
  return {};
}

size_t TTerminalScreen::ScrollbackBytes() const {
  size_t n = 0;
  for (const TScreenLine& l : scrollback_) n += sizeof(TScreenLine) + l.capacity() * sizeof(TScreenCell);
  return n;
}

}  // namespace brelo
