// The terminal page's screen (画面表示): draws a TTerminalScreen with the
// Japanese fixed font, its scrollback behind a scroll bar and the mouse
// wheel, a selection made with the mouse, and the cursor. Everything it
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
  static constexpr int kPixelSize = 16;     // the font, unless 80 x 24 would not fit
  static constexpr int kMinPixelSize = 8;
  static constexpr int kWheelLines = 3;

  explicit TScreenView(TTerminalScreen& screen, QWidget* parent = nullptr);

  // The size in cells that fits `area` pixels (the font is made smaller,
  // down to a limit, until 80 x 24 fit).
  QSize CellsFor(QSize area);
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

  // The page's: keys, typed text and the context menu.
  std::function<bool(QKeyEvent*)> OnKey;             // true: taken
  std::function<bool(QKeyEvent*)> OnShortcutOverride;  // true: the key is the view's, not a shortcut's
  std::function<void(const QString&)> OnCommit;      // what an input method committed
  std::function<void(QPoint global)> OnContextMenu;

 protected:
  bool event(QEvent* e) override;
  void paintEvent(QPaintEvent* e) override;
  void resizeEvent(QResizeEvent* e) override;
  void wheelEvent(QWheelEvent* e) override;
  void mousePressEvent(QMouseEvent* e) override;
  void mouseMoveEvent(QMouseEvent* e) override;
  void mouseReleaseEvent(QMouseEvent* e) override;
  void mouseDoubleClickEvent(QMouseEvent* e) override;
  void keyPressEvent(QKeyEvent* e) override;
  void inputMethodEvent(QInputMethodEvent* e) override;
  QVariant inputMethodQuery(Qt::InputMethodQuery q) const override;
  void contextMenuEvent(QContextMenuEvent* e) override;

 private:
  void SetFont(int pixelSize);
  void SyncBar();
  // Lines that left the scrollback for good: selection and marks are kept
  // in lines counted from the session's first.
  long long Base() const { return static_cast<long long>(screen_.Pushed()) - screen_.ScrollbackSize(); }
  bool Selected(int line, int column) const;
  bool Found(int line, int column) const;

  TTerminalScreen& screen_;
  QScrollBar* bar_ = nullptr;
  QFont font_;
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
  int paints_ = 0;
  double paintSeconds_ = 0;
  double paintCpuSeconds_ = 0;
};

}  // namespace brelo
