// The terminal page's screen without a display: golden screens from byte
// streams as hosts send them (fed whole and split at every byte), what the
// keys send, the scrollback, selection text and find.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/Sjis.h"
#include "reader/TerminalScreen.h"

namespace brelo {
namespace {

struct TGolden {
  const char* name;
  std::string bytes;                 // Shift-JIS, as the receive path hands them on
  std::vector<std::string> rows;     // the screen's top rows (UTF-8, blanks at the end left out)
  int cursorRow;
  int cursorColumn;
};

std::vector<std::string> TopRows(const TTerminalScreen& s, size_t n) {
  std::vector<std::string> out;
  for (size_t r = 0; r < n; ++r) out.push_back(s.RowText(static_cast<int>(r)).toStdString());
  return out;
}

const std::vector<TGolden>& Goldens() {
  static const std::vector<TGolden> g = {
      {"cursor motion: absolute, relative and to a column",
       "\x1b[2J\x1b[3;5HABC\x1b[1;1HX\x1b[2BY\x1b[10GZ\x1b[A\x1b[2D@",
       {"X", "        @", " Y  ABC  Z"}, 1, 9},
      {"clears: to the end and start of a row, below and above",
       "11111\r\n22222\r\n33333\r\n44444\x1b[1;3H\x1b[K\x1b[2;3H\x1b[1K\x1b[3;2H\x1b[J\x1b[1;1H",
       {"11", "   22", "3", ""}, 0, 0},
      {"a clear of the whole screen keeps nothing",
       "abc\r\ndef\x1b[2J\x1b[H", {"", ""}, 0, 0},
      {"a scroll region scrolls only its rows",
       "\x1b[1;1Htop\x1b[2;1Ha\r\nb\r\nc\x1b[5;1Hbottom\x1b[2;4r\x1b[4;1H\nd\x1b[r",
       {"top", "b", "c", "d", "bottom"}, 0, 0},
      {"insert and delete lines inside a region",
       "l1\r\nl2\r\nl3\r\nl4\x1b[2;1H\x1b[L\x1b[4;1H\x1b[M", {"l1", "", "l2", "l4"}, 3, 0},
      {"a Shift-JIS screen: double-byte characters two cells, half-width katakana one",
       Sjis("漢○ｱ|\r\n┌─┐※\r\nｶﾀｶﾅ全角"), {"漢○ｱ|", "┌─┐※", "ｶﾀｶﾅ全角"}, 2, 8},
      {"trail bytes at both ends of their two ranges (40, 7E, 80, FC): wide characters",
       Sjis("　×÷◯|"), {"　×÷◯|"}, 0, 9},
      {"a character cut by a control byte is one mark, and the byte still acts",
       std::string("a\x8A\rb"), {"b\xEF\xBF\xBD"}, 0, 1},
      {"overwriting half of a wide character blanks the other half",
       Sjis("漢字") + "\x1b[1;2HX", {" X字"}, 0, 2},
      {"several private modes at once: each is set",
       "main\x1b[?25;1049h\x1b[Halt\x1b[?1049;1l\x1b[?25$p", {"main"}, 0, 4},
  };
  return g;
}

TEST(TerminalScreen, GoldenScreensWhereverTheReadsSplit) {
  for (const TGolden& g : Goldens()) {
    for (size_t cut = 0; cut <= g.bytes.size(); ++cut) {
      TTerminalScreen s;
      s.Feed(g.bytes.substr(0, cut));
      s.Feed(g.bytes.substr(cut));
      ASSERT_EQ(TopRows(s, g.rows.size()), g.rows) << g.name << ", split at " << cut;
      ASSERT_EQ(s.CursorRow(), g.cursorRow) << g.name;
      ASSERT_EQ(s.CursorColumn(), g.cursorColumn) << g.name;
    }
  }
}

TEST(TerminalScreen, ColoursBoldReverseUnderlineAndTheWidthOfEachCell) {
  TTerminalScreen s;
  s.Feed("\x1b[31mR\x1b[1;34mB\x1b[0;38;5;196mX\x1b[38;2;1;2;3mT\x1b[0;7;4mU\x1b[0;42mG\x1b[0mN" + Sjis("漢"));
  const TScreenLine row = s.Row(0);
  EXPECT_EQ(row[0].fg, 0xCD0000u);  // the line view's red
  EXPECT_EQ(row[1].fg, 0x7F9FFFu);  // bold: the bright blue
  EXPECT_TRUE(row[1].bold);
  EXPECT_EQ(row[2].fg, 0xFF0000u);  // 256 colours: the cube's red
  EXPECT_EQ(row[3].fg, 0x010203u);  // true colour
  EXPECT_TRUE(row[4].reverse);
  EXPECT_TRUE(row[4].underline);
  EXPECT_EQ(row[5].bg, 0x00CD00u);
  EXPECT_EQ(row[6].fg, TScreenCell::kDefaultColour);
  EXPECT_EQ(row[6].bg, TScreenCell::kDefaultColour);
  EXPECT_EQ(row[7].ch, U'漢');
  EXPECT_EQ(row[7].width, 2);
  EXPECT_EQ(row[8].width, 0);
}

TEST(TerminalScreen, ScrollbackKeepsTheNewestTenThousandLinesAndAFullScreenProgramLeavesNone) {
  TTerminalScreen s;
  std::string text;
  for (int i = 1; i <= 10100; ++i) text += "line " + std::to_string(i) + "\r\n";
  s.Feed(text);
  // 10100 lines and the empty row the cursor stands on: 10101 - 24 left the top.
  EXPECT_EQ(s.Pushed(), 10101u - 24u);
  ASSERT_EQ(s.ScrollbackSize(), TTerminalScreen::kScrollbackLines);
  EXPECT_EQ(s.LineText(0).toStdString(), "line " + std::to_string(10101 - 24 - 10000 + 1));
  EXPECT_EQ(s.RowText(22).toStdString(), "line 10100");
  EXPECT_LT(s.ScrollbackBytes(), 10000u * 400u);  // a short line costs what its text needs
  // A full-screen program draws on its own screen and leaves the lines alone.
  const auto pushed = s.Pushed();
  s.Feed("\x1b[?1049h\x1b[2J\x1b[H");
  EXPECT_TRUE(s.AltScreen());
  for (int i = 0; i < 100; ++i) s.Feed("vi line\r\n");
  EXPECT_EQ(s.Pushed(), pushed);
  s.Feed("\x1b[?1049l");
  EXPECT_FALSE(s.AltScreen());
  EXPECT_EQ(s.RowText(22).toStdString(), "line 10100");
}

TEST(TerminalScreen, AFloodTakenInOneReadIsDrawnWhole) {
  // Megabytes at once, as a busy window takes them after a pause: libvterm
  // keeps a run of text on the stack, as long as what it is given.
  TTerminalScreen s;
  std::string flood;
  for (int i = 1; i <= 120000; ++i) flood += std::to_string(i) + Sjis(" 行目 大量送信テスト ＡＢＣ あいうえお") + "\r\n";
  ASSERT_GT(flood.size(), 4u << 20);
  s.Feed(flood);
  EXPECT_EQ(s.RowText(22), QString::number(120000) + QStringLiteral(" 行目 大量送信テスト ＡＢＣ あいうえお"));
  EXPECT_EQ(s.ScrollbackSize(), TTerminalScreen::kScrollbackLines);
}

TEST(TerminalScreen, AFloodIsDrawnFromWhereTheScrollbackCouldStillKeepIt) {
  std::string flood;
  for (int i = 1; i <= 30000; ++i) flood += "line " + std::to_string(i) + "\r\n";
  const size_t from = TTerminalScreen::KeepFrom(flood, TTerminalScreen::kScrollbackLines + 24);
  ASSERT_GT(from, 0u);
  TTerminalScreen whole, skipped;
  whole.Feed(flood);
  skipped.Feed(std::string_view(flood).substr(from));
  for (int l = 0; l < whole.LineCount(); ++l) ASSERT_EQ(skipped.LineText(l), whole.LineText(l)) << l;
  EXPECT_EQ(TTerminalScreen::KeepFrom("a\r\nb\r\n", 5), 0u);
  EXPECT_EQ(TTerminalScreen::KeepFrom("a\r\nb\r\nc", 1), 3u);
}

TEST(TerminalScreen, ASizeBelowTheLeastIsRaisedAndGrowingBringsLinesBack) {
  TTerminalScreen s(10, 2);
  EXPECT_EQ(s.Columns(), TTerminalScreen::kMinColumns);
  EXPECT_EQ(s.Rows(), TTerminalScreen::kMinRows);
  std::string text;
  for (int i = 1; i <= 30; ++i) text += "line " + std::to_string(i) + "\r\n";
  s.Feed(text);
  ASSERT_EQ(s.ScrollbackSize(), 31 - TTerminalScreen::kMinRows);
  s.Resize(100, 30);
  EXPECT_EQ(s.Columns(), 100);
  EXPECT_EQ(s.Rows(), 30);
  EXPECT_EQ(s.ScrollbackSize(), 1);  // six lines came back onto the screen
  EXPECT_EQ(s.RowText(0).toStdString(), "line 2");
  EXPECT_EQ(s.RowText(28).toStdString(), "line 30");
  s.Feed("\x1b[999;999H");
  EXPECT_EQ(s.CursorRow(), 29);
  EXPECT_EQ(s.CursorColumn(), 99);
}

TEST(TerminalScreen, SelectionTextAndFindOverScrollbackAndScreen) {
  TTerminalScreen s;
  std::string text;
  for (int i = 1; i <= 40; ++i) text += "row " + std::to_string(i) + (i == 5 ? Sjis(" 日本語の行") : "") + "\r\n";
  s.Feed(text);
  // Wide characters once, blanks at the ends of rows left out.
  EXPECT_EQ(s.Text({4, 4}, {5, 2}).toStdString(), "5 日本語の行\nrow");
  EXPECT_EQ(s.Text({5, 2}, {4, 4}), s.Text({4, 4}, {5, 2}));
  // From the bottom upwards, and on downwards from a hit.
  TScreenPos at;
  int cells = 0;
  ASSERT_TRUE(s.Find(QStringLiteral("本語"), {s.LineCount() - 1, 0}, true, at, cells));
  EXPECT_EQ(at.line, 4);
  EXPECT_EQ(at.column, 8);
  EXPECT_EQ(cells, 4);
  ASSERT_TRUE(s.Find(QStringLiteral("ROW 3"), {0, 0}, false, at, cells));  // ASCII case ignored
  EXPECT_EQ(at.line, 2);
  ASSERT_TRUE(s.Find(QStringLiteral("row 3"), at, false, at, cells));
  EXPECT_EQ(at.line, 29);  // row 30
  EXPECT_FALSE(s.Find(QStringLiteral("row 99"), {0, 0}, false, at, cells));
}

std::string Key(TTerminalScreen& s, int key, Qt::KeyboardModifiers m = Qt::NoModifier, const QString& text = {}) {
  const TKeyBytes k = s.KeyBytes({key, m, text});
  return k.handled ? k.bytes : "(none)";
}

struct TKeyCase {
  int key;
  Qt::KeyboardModifiers modifiers;
  const char* text;      // what the keyboard typed (UTF-8)
  std::string bytes;     // what goes to the host, "(none)" for nothing
};

// Pressed → bytes, as xterm sends them with its default resources.
TEST(TerminalScreen, KeysSendWhatXtermSends) {
  const Qt::KeyboardModifiers ctrl = Qt::ControlModifier, alt = Qt::AltModifier, shift = Qt::ShiftModifier;
  const std::vector<TKeyCase> cases = {
      {Qt::Key_Return, {}, "\r", "\r"},
      {Qt::Key_Enter, Qt::KeypadModifier, "\r", "\r"},
      {Qt::Key_Backspace, {}, "\b", "\x08"},
      {Qt::Key_Backspace, alt, "", "\x1b\x08"},
      {Qt::Key_Tab, {}, "\t", "\t"},
      {Qt::Key_Backtab, shift, "", "\x1b[Z"},
      {Qt::Key_Escape, {}, "\x1b", "\x1b"},
      {Qt::Key_Up, {}, "", "\x1b[A"},
      {Qt::Key_Down, {}, "", "\x1b[B"},
      {Qt::Key_Right, {}, "", "\x1b[C"},
      {Qt::Key_Left, {}, "", "\x1b[D"},
      {Qt::Key_Left, ctrl, "", "\x1b[1;5D"},
      {Qt::Key_Home, {}, "", "\x1b[H"},
      {Qt::Key_End, {}, "", "\x1b[F"},
      {Qt::Key_PageUp, {}, "", "\x1b[5~"},
      {Qt::Key_PageDown, {}, "", "\x1b[6~"},
      {Qt::Key_Insert, {}, "", "\x1b[2~"},
      {Qt::Key_Delete, {}, "", "\x1b[3~"},
      {Qt::Key_F1, {}, "", "\x1bOP"},
      {Qt::Key_F4, {}, "", "\x1bOS"},
      {Qt::Key_F5, {}, "", "\x1b[15~"},
      {Qt::Key_F12, {}, "", "\x1b[24~"},
      // Control keys, as X makes them for xterm.
      {Qt::Key_C, ctrl, "\x03", "\x03"},
      {Qt::Key_M, ctrl, "", "\r"},
      {Qt::Key_A, ctrl | shift, "", "\x01"},
      {Qt::Key_Space, ctrl, "", std::string(1, '\0')},
      {Qt::Key_At, ctrl | shift, "", std::string(1, '\0')},
      {Qt::Key_2, ctrl, "", std::string(1, '\0')},
      {Qt::Key_2, ctrl | shift, "", std::string(1, '\0')},
      {Qt::Key_3, ctrl, "", "\x1b"},
      {Qt::Key_4, ctrl, "", "\x1c"},
      {Qt::Key_5, ctrl, "", "\x1d"},
      {Qt::Key_6, ctrl, "", "\x1e"},
      {Qt::Key_7, ctrl, "", "\x1f"},
      {Qt::Key_8, ctrl, "", "\x7f"},
      {Qt::Key_Slash, ctrl, "", "\x1f"},
      {Qt::Key_Underscore, ctrl | shift, "", "\x1f"},
      {Qt::Key_BracketLeft, ctrl, "", "\x1b"},
      {Qt::Key_Backslash, ctrl, "", "\x1c"},
      {Qt::Key_BracketRight, ctrl, "", "\x1d"},
      {Qt::Key_AsciiCircum, ctrl | shift, "", "\x1e"},
      {Qt::Key_QuoteLeft, ctrl, "", std::string(1, '\0')},
      {Qt::Key_1, ctrl, "", "1"},           // no control character: the key's own
      {Qt::Key_Minus, ctrl, "", "-"},
      {Qt::Key_Question, ctrl | shift, "", "?"},
      {Qt::Key_unknown, ctrl, "\x01", "\x01"},  // a key Qt does not name: what the keyboard made of it
      // Alt puts ESC before what the key sends.
      {Qt::Key_X, alt, "x", "\x1bx"},
      {Qt::Key_C, ctrl | alt, "", "\x1b\x03"},
      {Qt::Key_A, {}, "a", "a"},
      {Qt::Key_Shift, shift, "", "(none)"},
      {Qt::Key_unknown, {}, "あ", Sjis("あ")},
  };
  TTerminalScreen s;
  for (const TKeyCase& k : cases) {
    EXPECT_EQ(Key(s, k.key, k.modifiers, QString::fromUtf8(k.text)), k.bytes)
        << "key " << std::hex << k.key << " modifiers " << k.modifiers.toInt();
  }
  // Backspace sends DEL where the host wants it (a Unix shell).
  s.SetBackspaceSendsDelete(true);
  EXPECT_EQ(Key(s, Qt::Key_Backspace), "\x7f");
  EXPECT_EQ(Key(s, Qt::Key_Backspace, alt), "\x1b\x7f");
  // A full-screen program asks for the application cursor keys.
  s.Feed("\x1b[?1h");
  EXPECT_EQ(Key(s, Qt::Key_Up), "\x1bOA");
  EXPECT_EQ(Key(s, Qt::Key_Home), "\x1bOH");
  // What Shift-JIS cannot hold is named, and nothing goes out.
  const TKeyBytes bad = s.KeyBytes({Qt::Key_unknown, Qt::NoModifier, QString::fromUcs4(U"😀", 1)});
  EXPECT_TRUE(bad.handled);
  EXPECT_TRUE(bad.bytes.empty());
  EXPECT_FALSE(bad.unmappable.isEmpty());
}

struct TMouseCase {
  const char* name;
  std::string modes;               // what the host sent to ask for the mouse
  EMouseMode mode;
  EMouseAction action;
  int button;
  int row, column;
  Qt::KeyboardModifiers modifiers;
  std::string bytes;               // what goes to the host
};

// Each mode the host can ask for, pressed → bytes, as xterm reports them.
TEST(TerminalScreen, TheMouseIsReportedAsTheHostAskedForIt) {
  const Qt::KeyboardModifiers none = Qt::NoModifier;
  const std::vector<TMouseCase> cases = {
      {"no mode: nothing", "", EMouseMode::kNone, EMouseAction::kPress, 1, 0, 0, none, ""},
      {"X10: a press", "\x1b[?9h", EMouseMode::kX10, EMouseAction::kPress, 1, 2, 4, none, "\x1b[M %#"},
      {"X10: no release", "\x1b[?9h", EMouseMode::kX10, EMouseAction::kRelease, 1, 2, 4, none, ""},
      {"X10: no modifiers", "\x1b[?9h", EMouseMode::kX10, EMouseAction::kPress, 3, 0, 0, Qt::ControlModifier,
       "\x1b[M\"!!"},
      {"X10: the wheel", "\x1b[?9h", EMouseMode::kX10, EMouseAction::kWheelUp, 0, 0, 0, none, "\x1b[M`!!"},
      {"X10 ended", "\x1b[?9h\x1b[?9l", EMouseMode::kNone, EMouseAction::kPress, 1, 0, 0, none, ""},
      {"normal: a press", "\x1b[?1000h", EMouseMode::kClick, EMouseAction::kPress, 1, 2, 4, none, "\x1b[M %#"},
      {"normal: the middle button with Ctrl", "\x1b[?1000h", EMouseMode::kClick, EMouseAction::kPress, 2, 0, 0,
       Qt::ControlModifier, "\x1b[M1!!"},
      {"normal: the right button with Shift", "\x1b[?1000h", EMouseMode::kClick, EMouseAction::kPress, 3, 0, 0,
       Qt::ShiftModifier, "\x1b[M&!!"},
      {"normal: no motion", "\x1b[?1000h", EMouseMode::kClick, EMouseAction::kMove, 1, 5, 5, none, ""},
      {"normal: wheel down", "\x1b[?1000h", EMouseMode::kClick, EMouseAction::kWheelDown, 0, 9, 9, none,
       "\x1b[Ma**"},
      {"button-event: a press", "\x1b[?1002h", EMouseMode::kDrag, EMouseAction::kPress, 1, 0, 0, none, "\x1b[M !!"},
      {"any-event: motion", "\x1b[?1003h", EMouseMode::kMove, EMouseAction::kMove, 0, 1, 1, none, "\x1b[MC\"\""},
      {"SGR: a press", "\x1b[?1000h\x1b[?1006h", EMouseMode::kClick, EMouseAction::kPress, 1, 2, 4, none,
       "\x1b[<0;5;3M"},
      {"SGR: far out", "\x1b[?1000;1006h", EMouseMode::kClick, EMouseAction::kPress, 1, 2, 300, none,
       "\x1b[<0;301;3M"},
      {"SGR: the wheel up with Alt", "\x1b[?1000;1006h", EMouseMode::kClick, EMouseAction::kWheelUp, 0, 0, 0,
       Qt::AltModifier, "\x1b[<72;1;1M"},
      {"SGR: the wheel down", "\x1b[?1002;1006h", EMouseMode::kDrag, EMouseAction::kWheelDown, 0, 0, 0, none,
       "\x1b[<65;1;1M"},
  };
  for (const TMouseCase& c : cases) {
    TTerminalScreen s(400, 30);
    s.Feed(c.modes);
    EXPECT_EQ(s.MouseMode(), c.mode) << c.name;
    EXPECT_EQ(s.MouseBytes(c.action, c.button, c.row, c.column, c.modifiers), c.bytes) << c.name;
  }
  // Press, drag and release in turn, as a program that asked for drags hears them.
  TTerminalScreen s;
  s.Feed("\x1b[?1002h\x1b[?1006h");
  std::string heard = s.MouseBytes(EMouseAction::kPress, 1, 0, 0, Qt::NoModifier);
  heard += s.MouseBytes(EMouseAction::kMove, 1, 0, 3, Qt::NoModifier);
  heard += s.MouseBytes(EMouseAction::kRelease, 1, 1, 3, Qt::NoModifier);
  heard += s.MouseBytes(EMouseAction::kMove, 0, 2, 3, Qt::NoModifier);  // no button held: not a drag
  EXPECT_EQ(heard, "\x1b[<0;1;1M\x1b[<32;4;1M\x1b[<32;4;2M\x1b[<0;4;2m");
  // An ended session leaves no mouse mode behind.
  s.Feed("\x1b[?9h");
  s.SessionEnded();
  EXPECT_EQ(s.MouseMode(), EMouseMode::kNone);
  EXPECT_EQ(s.MouseBytes(EMouseAction::kPress, 1, 0, 0, Qt::NoModifier), "");
}

TEST(TerminalScreen, AWordAndAUrlAroundACell) {
  TTerminalScreen s;
  s.Feed(Sjis("cd /usr/local_bin; 日本語のテキスト...end\r\nsee https://example.jp/a?b=1&c=(2). or mailto:op@a.jp, ok (see http://a.jp/x)"));
  const auto word = [&](int line, int column) {
    TScreenPos from, to;
    s.WordAt({line, column}, from, to);
    return s.Text(from, to).toStdString();
  };
  EXPECT_EQ(word(0, 0), "cd");
  EXPECT_EQ(word(0, 1), "cd");
  TScreenPos from, to;
  s.WordAt({0, 2}, from, to);  // a blank: the blanks around it
  EXPECT_EQ(from.column, 2);
  EXPECT_EQ(to.column, 2);
  EXPECT_EQ(word(0, 3), "/");
  EXPECT_EQ(word(0, 6), "usr");
  EXPECT_EQ(word(0, 10), "local_bin");
  EXPECT_EQ(word(0, 19), "日本語");   // kanji, either cell of a character
  EXPECT_EQ(word(0, 24), "日本語");
  EXPECT_EQ(word(0, 25), "の");       // hiragana
  EXPECT_EQ(word(0, 27), "テキスト"); // katakana
  EXPECT_EQ(word(0, 35), "...");
  EXPECT_EQ(word(0, 38), "end");
  EXPECT_EQ(s.UrlAt({1, 4}).toStdString(), "https://example.jp/a?b=1&c=(2)");
  EXPECT_EQ(s.UrlAt({1, 33}).toStdString(), "https://example.jp/a?b=1&c=(2)");
  EXPECT_EQ(s.UrlAt({1, 70}).toStdString(), "http://a.jp/x");  // the bracket around it is not its
  EXPECT_EQ(s.UrlAt({1, 76}).toStdString(), "");
  EXPECT_EQ(s.UrlAt({1, 3}).toStdString(), "");
  EXPECT_EQ(s.UrlAt({1, 34}).toStdString(), "");  // the full stop after it
  EXPECT_EQ(s.UrlAt({1, 40}).toStdString(), "mailto:op@a.jp");
  EXPECT_EQ(s.UrlAt({1, 53}).toStdString(), "");
  EXPECT_EQ(s.UrlAt({0, 5}).toStdString(), "");
}

TEST(TerminalScreen, AnEndedSessionLeavesNoModesBehind) {
  TTerminalScreen s;
  s.Feed("before\r\n\x1b[?1049h\x1b[?1h\x1b[?25l\x1b[5;10r\x1b[31meditor");
  ASSERT_TRUE(s.AltScreen());
  s.SessionEnded();
  EXPECT_FALSE(s.AltScreen());
  EXPECT_TRUE(s.CursorVisible());
  EXPECT_EQ(s.RowText(0).toStdString(), "before");
  EXPECT_EQ(Key(s, Qt::Key_Up), "\x1b[A");
  // The next session goes on below the last one's text, not over it.
  EXPECT_EQ(s.CursorRow(), 1);
  s.Feed("plain");
  EXPECT_EQ(s.RowText(0).toStdString(), "before");
  EXPECT_EQ(s.RowText(1).toStdString(), "plain");
  EXPECT_EQ(s.Row(s.CursorRow())[0].fg, TScreenCell::kDefaultColour);
  // A session that never left the normal screen: the same.
  TTerminalScreen plain;
  plain.Feed("one\r\ntwo\r\n");
  plain.SessionEnded();
  plain.Feed("three");
  EXPECT_EQ(plain.RowText(0).toStdString(), "one");
  EXPECT_EQ(plain.RowText(2).toStdString(), "three");
}

TEST(TerminalScreen, PastesEndLinesWithCrAndAreMarkedWhenTheHostAsksAndQuestionsAreAnswered) {
  TTerminalScreen s;
  EXPECT_EQ(s.TextBytes(QStringLiteral("a\nb\r\nあ"), true).bytes, "a\rb\r" + Sjis("あ"));
  s.Feed("\x1b[?2004h");
  EXPECT_EQ(s.TextBytes(QStringLiteral("x"), true).bytes, "\x1b[200~x\x1b[201~");
  EXPECT_EQ(s.TakeAnswers(), "");
  s.Feed("\x1b[3;7H\x1b[6n");
  EXPECT_EQ(s.TakeAnswers(), "\x1b[3;7R");
}

}  // namespace
}  // namespace brelo
