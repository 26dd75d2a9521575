// The terminal page's screen (画面表示): draws a TTerminalScreen in the
// chosen Japanese fixed font (bold, italic, underline and strike as the host
// paints), its scrollback behind a scroll bar and the mouse wheel, a
// selection made with the mouse (a word with a double click, a line with a
// triple click, each also the primary selection), and the cursor. While the
// host asks for the mouse, it gets it, unless Shift is held. Everything it
// decides about bytes and keys is the screen's; the page binds the rest.
#pragma once

#include <QFont>
#include <QWidget>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "reader/TerminalScreen.h"

class QScrollBar;

namespace brelo {

// The calling thread's CPU time in seconds (what a share of the main
// thread is measured in: a busy machine's waits are not the view's cost).
double ThreadCpuSeconds();

// The bytes the receive path taps for the screen, handed from the writer's
// thread (the main thread for telnet, the serial watch thread for a modem)
// to the main thread: gathered under a lock, the main thread woken once for
// whatever gathers before it takes them. Shared by the tap and the page, so
// that either may go first.
class TScreenFeed : public std::enable_shared_from_this<TScreenFeed> {
 public:
  // Any thread.
  void Append(const char* p, size_t n);
  // Main thread: what came since the last call.
  std::string Take();
  // Main thread: run (through the main thread's queue) when bytes come after
  // a Take. Cleared by the page when it goes.
  void SetOnWake(std::function<void()> f);

 private:
  std::mutex mutex_;
  std::string bytes_;                // guarded by mutex_
  bool woken_ = false;               // guarded by mutex_: a wake is on its way
  std::function<void()> onWake_;     // guarded by mutex_ (set and run on the main thread)
};

class TScreenView : public QWidget {
  Q_OBJECT
 public:
  static constexpr int kWheelLines = 3;

  explicit TScreenView(TTerminalScreen& screen, QWidget* parent = nullptr);

  // The font the cells are drawn in (its bold and italic come from it).
  void SetFont(const QFont& font);
  const QFont& Font() const { return font_; }
  // The host's backslash drawn as a yen sign, as a Shift-JIS host means it.
  void SetYen(bool yen);
  bool Yen() const { return yen_; }
  // The size in cells that fits `area` pixels at the font's size.
  QSize CellsFor(QSize area) const;
  // The screen took bytes: what changed is drawn (at most as often as the
  // page calls this).
  void ScreenChanged();

  // Scrollback: lines above the bottom shown (0: the live screen).
  int ScrolledBack() const { return scrolledBack_; }
  void ScrollBy(int lines);  // positive: back in time
  void ScrollToBottom() { ScrollBy(-scrolledBack_); }
  void PageBack() { ScrollBy(screen_.Rows() - 1); }
  void PageForward() { ScrollBy(-(screen_.Rows() - 1)); }
  // The line shown at the top.
  int TopLine() const { return screen_.ScrollbackSize() - scrolledBack_; }

  bool HasSelection() const { return hasSelection_; }
  QString SelectedText() const;
  void ClearSelection();
  // Marks a found place and brings it into sight.
  void ShowFound(TScreenPos at, int cells);
  void ClearFound();
  // Where a find goes on from: the found place, or the bottom.
  TScreenPos FindFrom() const;

  int CellWidth() const { return cellWidth_; }
  int CellHeight() const { return cellHeight_; }
  // The cell under a point of the view (line of the scrollback and screen).
  TScreenPos CellAt(QPoint p) const;
  // The rectangle of a screen cell (row of the screen, not scrolled).
  QRect CellRect(int row, int column, int cells = 1) const;
  QScrollBar* ScrollBar() const { return bar_; }

  // Painting's share of the main thread (for the benchmark).
  int Paints() const { return paints_; }
  double PaintSeconds() const { return paintSeconds_; }
  double PaintCpuSeconds() const { return paintCpuSeconds_; }

  // The page's: keys, typed text, the context menu, the mouse for the host
  // and a URL to open.
  std::function<bool(QKeyEvent*)> OnKey;             // true: taken
  std::function<bool(QKeyEvent*)> OnShortcutOverride;  // true: the key is the view's, not a shortcut's
  std::function<void(const QString&)> OnCommit;      // what an input method committed
  std::function<void(QPoint global)> OnContextMenu;
  std::function<bool()> MouseForHost;                // whether the host may have the mouse now
  std::function<void(const std::string&)> OnMouseBytes;
  std::function<void(const QString&)> OnOpenUrl;     // Ctrl+click on a URL
  // Where a selection goes as X terminals put it: the primary selection
  // (where the desktop has one).
  std::function<void(const QString&)> SetPrimarySelection;

 protected:
  bool event(QEvent* e) override;
  void paintEvent(QPaintEvent* e) override;
  void resizeEvent(QResizeEvent* e) override;
  void wheelEvent(QWheelEvent* e) override;
  void mousePressEvent(QMouseEvent* e) override;
  void mouseMoveEvent(QMouseEvent* e) override;
  void mouseReleaseEvent(QMouseEvent* e) override;
  void mouseDoubleClickEvent(QMouseEvent* e) override;
  void leaveEvent(QEvent* e) override;
  void keyPressEvent(QKeyEvent* e) override;
  void inputMethodEvent(QInputMethodEvent* e) override;
  QVariant inputMethodQuery(Qt::InputMethodQuery q) const override;
  void contextMenuEvent(QContextMenuEvent* e) override;

 private:
  void SyncBar();
  // The host has the mouse for this event (it asked, keys go to it, Shift is
  // not held, the live screen is shown); sends what the event means to it.
  bool ReportMouse(EMouseAction action, Qt::MouseButton button, QPoint at, Qt::KeyboardModifiers modifiers);
  // Marks [from, to] as the selection; then, as for a selection dragged,
  // it is drawn and made the primary selection.
  void Select(TScreenPos from, TScreenPos to);
  void SelectionMade();
  // Lines that left the scrollback for good: selection and marks are kept
  // in lines counted from the session's first.
  long long Base() const { return static_cast<long long>(screen_.Pushed()) - screen_.ScrollbackSize(); }
  bool Selected(int line, int column) const;
  bool Found(int line, int column) const;

  TTerminalScreen& screen_;
  QScrollBar* bar_ = nullptr;
  QFont font_;
  QFont bold_, italic_, boldItalic_;
  bool yen_ = true;
  int cellWidth_ = 8;
  int cellHeight_ = 16;
  int ascent_ = 12;
  int scrolledBack_ = 0;
  unsigned long long seenPushed_ = 0;
  bool syncingBar_ = false;
  // The selection, from anchor to extent, in lines counted from the session's first.
  bool selecting_ = false;
  bool hasSelection_ = false;
  long long anchorLine_ = 0, extentLine_ = 0;
  int anchorColumn_ = 0, extentColumn_ = 0;
  long long foundLine_ = -1;
  int foundColumn_ = 0, foundCells_ = 0;
  // A double click's time and place: a press soon after at its place is the third click.
  quint64 doubleClickAt_ = 0;
  QPoint doubleClickPos_;
  bool hostMouse_ = false;     // the press went to the host: so do its moves and release
  int paints_ = 0;
  double paintSeconds_ = 0;
  double paintCpuSeconds_ = 0;
};

}  // namespace brelo
