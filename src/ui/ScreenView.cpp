#include "ui/ScreenView.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QPainter>
#include <QScrollBar>
#include <QWheelEvent>
#include <time.h>

#include <algorithm>
#include <chrono>

#include "common/MainThread.h"
#include "reader/Settings.h"
#include "ui/Fonts.h"

namespace brelo {

double ThreadCpuSeconds() {
  timespec t{};
  ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// ------------------------------------------------------------------ the feed

void TScreenFeed::Append(const char* p, size_t n) {
  bool wake = false;
  {
    std::lock_guard<std::mutex> lk(mutex_);
    bytes_.append(p, n);
    if (!woken_) woken_ = wake = true;
  }
  if (!wake) return;
  std::weak_ptr<TScreenFeed> self = weak_from_this();
  PostToMain([self] {
    const std::shared_ptr<TScreenFeed> feed = self.lock();
    if (!feed) return;
    std::function<void()> f;
    {
      std::lock_guard<std::mutex> lk(feed->mutex_);
      f = feed->onWake_;
    }
    if (f) f();
  });
}

std::string TScreenFeed::Take() {
  std::lock_guard<std::mutex> lk(mutex_);
  std::string out;
  out.swap(bytes_);
  woken_ = false;
  return out;
}

void TScreenFeed::SetOnWake(std::function<void()> f) {
  std::lock_guard<std::mutex> lk(mutex_);
  onWake_ = std::move(f);
}

// ------------------------------------------------------------------ the view

TScreenView::TScreenView(TTerminalScreen& screen, QWidget* parent) : QWidget(parent), screen_(screen) {
  setAttribute(Qt::WA_OpaquePaintEvent);
  setFocusPolicy(Qt::StrongFocus);
  setMinimumWidth(480);
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
  setAccessibleName(QStringLiteral("ターミナル画面"));
  setCursor(Qt::IBeamCursor);
  setMouseTracking(true);  // motion for a host that asks for all of it, and the hand over a URL
  bar_ = new QScrollBar(Qt::Vertical, this);
  bar_->setCursor(Qt::ArrowCursor);
  bar_->setAutoFillBackground(true);  // opaque: its changes never repaint the cells beneath
  bar_->setAccessibleName(QStringLiteral("スクロールバック"));
  connect(bar_, &QScrollBar::valueChanged, this, [this](int v) {
    if (syncingBar_) return;
    scrolledBack_ = std::clamp(screen_.ScrollbackSize() - v, 0, screen_.ScrollbackSize());
    update();
  });
  SetPrimarySelection = [](const QString& text) {
    if (QApplication::clipboard()->supportsSelection()) QApplication::clipboard()->setText(text, QClipboard::Selection);
  };
  SetFont(TerminalFont(QString::fromLatin1(TAppSettings::kDefaultTerminalFont), TAppSettings::kDefaultTerminalFontSize));
  seenPushed_ = screen_.Pushed();
  SyncBar();
}

void TScreenView::SetFont(const QFont& font) {
  font_ = font;
  bold_ = italic_ = boldItalic_ = font;
  bold_.setBold(true);
  italic_.setItalic(true);
  boldItalic_.setBold(true);
  boldItalic_.setItalic(true);
  const QFontMetrics fm(font_);
  cellWidth_ = std::max(1, fm.horizontalAdvance(QLatin1Char('A')));
  cellHeight_ = std::max(1, fm.height());
  ascent_ = fm.ascent();
  update();
}

void TScreenView::SetYen(bool yen) {
  if (yen == yen_) return;
  yen_ = yen;
  update();
}

QSize TScreenView::CellsFor(QSize area) const {
  const int w = std::max(1, area.width() - bar_->sizeHint().width());
  const int h = std::max(1, area.height());
  return {std::max(TTerminalScreen::kMinColumns, w / cellWidth_), std::max(TTerminalScreen::kMinRows, h / cellHeight_)};
}

void TScreenView::resizeEvent(QResizeEvent* e) {
  QWidget::resizeEvent(e);
  const int bw = bar_->sizeHint().width();
  bar_->setGeometry(width() - bw, 0, bw, height());
}

void TScreenView::SyncBar() {
  syncingBar_ = true;
  bar_->setRange(0, screen_.ScrollbackSize());
  bar_->setPageStep(screen_.Rows());
  bar_->setValue(screen_.ScrollbackSize() - scrolledBack_);
  syncingBar_ = false;
}

void TScreenView::ScreenChanged() {
  const unsigned long long pushed = screen_.Pushed();
  const long long added = static_cast<long long>(pushed) - static_cast<long long>(seenPushed_);
  seenPushed_ = pushed;
  int first = 0, last = 0;
  const bool changed = screen_.TakeChanged(first, last);
  if (scrolledBack_ > 0) {
    // What the user reads back stays where it is while lines come in.
    scrolledBack_ = static_cast<int>(std::clamp<long long>(scrolledBack_ + added, 0, screen_.ScrollbackSize()));
    if (changed || added != 0) update();
  } else if (changed) {
    update(QRect(0, first * cellHeight_, width(), (last - first + 1) * cellHeight_));
  }
  SyncBar();
}

void TScreenView::ScrollBy(int lines) {
  const int to = std::clamp(scrolledBack_ + lines, 0, screen_.ScrollbackSize());
  if (to == scrolledBack_) return;
  scrolledBack_ = to;
  SyncBar();
  update();
}

TScreenPos TScreenView::CellAt(QPoint p) const {
  const int row = std::clamp(p.y() / cellHeight_, 0, screen_.Rows() - 1);
  const int col = std::clamp(p.x() / cellWidth_, 0, screen_.Columns() - 1);
  return {TopLine() + row, col};
}

QRect TScreenView::CellRect(int row, int column, int cells) const {
  return {column * cellWidth_, row * cellHeight_, cells * cellWidth_, cellHeight_};
}

bool TScreenView::Selected(int line, int column) const {
  if (!hasSelection_) return false;
  const std::pair<long long, int> at{Base() + line, column};
  std::pair<long long, int> a{anchorLine_, anchorColumn_}, b{extentLine_, extentColumn_};
  if (b < a) std::swap(a, b);
  return a <= at && at <= b;
}

bool TScreenView::Found(int line, int column) const {
  return foundLine_ >= 0 && Base() + line == foundLine_ && column >= foundColumn_ &&
         column < foundColumn_ + foundCells_;
}

QString TScreenView::SelectedText() const {
  if (!hasSelection_) return {};
  const long long base = Base();
  const auto pos = [base](long long line, int column) {
    return line < base ? TScreenPos{0, 0} : TScreenPos{static_cast<int>(line - base), column};
  };
  return screen_.Text(pos(anchorLine_, anchorColumn_), pos(extentLine_, extentColumn_));
}

void TScreenView::ClearSelection() {
  if (!hasSelection_) return;
  hasSelection_ = false;
  update();
}

void TScreenView::ShowFound(TScreenPos at, int cells) {
  foundLine_ = Base() + at.line;
  foundColumn_ = at.column;
  foundCells_ = cells;
  if (at.line < TopLine() || at.line >= TopLine() + screen_.Rows()) {
    const int top = std::clamp(at.line - screen_.Rows() / 2, 0, screen_.ScrollbackSize());
    scrolledBack_ = screen_.ScrollbackSize() - top;
    SyncBar();
  }
  update();
}

void TScreenView::ClearFound() {
  if (foundLine_ < 0) return;
  foundLine_ = -1;
  update();
}

TScreenPos TScreenView::FindFrom() const {
  if (foundLine_ >= Base()) return {static_cast<int>(foundLine_ - Base()), foundColumn_};
  return {screen_.LineCount() - 1, screen_.Columns()};
}

namespace {
QColor Colour(uint32_t rgb) { return QColor::fromRgb(rgb & 0xFFFFFF); }
}  // namespace

void TScreenView::paintEvent(QPaintEvent* e) {
  const auto start = std::chrono::steady_clock::now();
  const double cpu = ThreadCpuSeconds();
  ++paints_;
  QPainter p(this);
  p.fillRect(e->rect(), Qt::black);
  const int rows = screen_.Rows();
  const int top = TopLine();
  const int firstRow = std::max(0, e->rect().top() / cellHeight_);
  const int lastRow = std::min(rows - 1, e->rect().bottom() / cellHeight_);
  for (int r = firstRow; r <= lastRow; ++r) {
    const int line = top + r;
    const TScreenLine cells = screen_.Line(line);
    const int y = r * cellHeight_;
    size_t c = 0;
    // Runs of cells painted alike and of one width are drawn at once.
    while (c < cells.size()) {
      const TScreenCell& head = cells[c];
      if (head.width == 0) {
        ++c;
        continue;
      }
      const bool wide = head.width == 2;
      const bool marked = Selected(line, static_cast<int>(c));
      const bool found = Found(line, static_cast<int>(c));
      QString text;
      int span = 0;
      size_t j = c;
      while (j < cells.size()) {
        const TScreenCell& cell = cells[j];
        if (cell.width == 0) {
          ++j;
          continue;
        }
        if ((cell.width == 2) != wide || !cell.SameStyle(head) || Selected(line, static_cast<int>(j)) != marked ||
            Found(line, static_cast<int>(j)) != found) {
          break;
        }
        char32_t ch = cell.ch == 0 ? U' ' : cell.ch;
        if (ch == U'\\' && yen_) ch = U'¥';
        text += QString::fromUcs4(&ch, 1);
        span += cell.width;
        ++j;
      }
      uint32_t fg = head.fg == TScreenCell::kDefaultColour ? 0xFFFFFF : head.fg;
      uint32_t bg = head.bg == TScreenCell::kDefaultColour ? 0x000000 : head.bg;
      if (head.reverse != marked) std::swap(fg, bg);
      if (found) {
        fg = 0x000000;
        bg = 0xFFD700;
      }
      const QRect rect(static_cast<int>(c) * cellWidth_, y, span * cellWidth_, cellHeight_);
      if (bg != 0) p.fillRect(rect, Colour(bg));
      if (!text.trimmed().isEmpty()) {
        p.setPen(Colour(fg));
        p.setFont(head.bold ? (head.italic ? boldItalic_ : bold_) : (head.italic ? italic_ : font_));
        if (p.fontMetrics().horizontalAdvance(text) == span * cellWidth_) {
          p.drawText(rect.left(), y + ascent_, text);
        } else {
          // A glyph of another width (a fallback font's): each in its cell.
          int x = rect.left();
          for (const uint u : text.toUcs4()) {
            const char32_t ch = u;
            p.drawText(x, y + ascent_, QString::fromUcs4(&ch, 1));
            x += (wide ? 2 : 1) * cellWidth_;
          }
        }
      }
      if (head.underline || head.strike) p.setPen(Colour(fg));
      if (head.underline) p.drawLine(rect.left(), y + ascent_ + 1, rect.right(), y + ascent_ + 1);
      if (head.strike) {
        const int mid = y + ascent_ - QFontMetrics(font_).xHeight() / 2;
        p.drawLine(rect.left(), mid, rect.right(), mid);
      }
      c = j;
    }
    // The cursor: a block where keys go, an outline without the focus.
    if (scrolledBack_ <= 0 && screen_.CursorVisible() && r == screen_.CursorRow() &&
        screen_.CursorColumn() < static_cast<int>(cells.size())) {
      const int col = screen_.CursorColumn();
      const TScreenCell& cell = cells[static_cast<size_t>(col)];
      const QRect rect = CellRect(r, col, std::max<int>(1, cell.width));
      if (hasFocus()) {
        p.fillRect(rect, Qt::white);
        p.setPen(Qt::black);
        p.setFont(font_);
        const char32_t ch = cell.ch == 0 ? U' ' : cell.ch;
        p.drawText(rect.left(), y + ascent_, QString::fromUcs4(&ch, 1));
      } else {
        p.setPen(Qt::white);
        p.drawRect(rect.adjusted(0, 0, -1, -1));
      }
    }
  }
  paintSeconds_ += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  paintCpuSeconds_ += ThreadCpuSeconds() - cpu;
}

namespace {
int ButtonNumber(Qt::MouseButton b) {
  switch (b) {
    case Qt::LeftButton: return 1;
    case Qt::MiddleButton: return 2;
    case Qt::RightButton: return 3;
    default: return 0;
  }
}
}  // namespace

bool TScreenView::ReportMouse(EMouseAction action, Qt::MouseButton button, QPoint at, Qt::KeyboardModifiers modifiers) {
  if (modifiers & Qt::ShiftModifier) return false;  // Shift keeps the mouse for selecting
  if (screen_.MouseMode() == EMouseMode::kNone || scrolledBack_ > 0 || !MouseForHost || !MouseForHost()) return false;
  const int row = std::clamp(at.y() / cellHeight_, 0, screen_.Rows() - 1);
  const int column = std::clamp(at.x() / cellWidth_, 0, screen_.Columns() - 1);
  const std::string bytes = screen_.MouseBytes(action, ButtonNumber(button), row, column, modifiers);
  if (!bytes.empty() && OnMouseBytes) OnMouseBytes(bytes);
  return true;
}

void TScreenView::wheelEvent(QWheelEvent* e) {
  const int notches = e->angleDelta().y() / 120;
  e->accept();
  if (notches == 0) return;
  const EMouseAction wheel = notches > 0 ? EMouseAction::kWheelUp : EMouseAction::kWheelDown;
  const QPoint at = e->position().toPoint();
  if (ReportMouse(wheel, Qt::NoButton, at, e->modifiers())) {
    // Each notch as xterm reports it.
    for (int n = std::abs(notches) - 1; n > 0; --n) ReportMouse(wheel, Qt::NoButton, at, e->modifiers());
    return;
  }
  ScrollBy(notches * kWheelLines);
}

void TScreenView::mousePressEvent(QMouseEvent* e) {
  const QPoint pos = e->position().toPoint();
  if (ReportMouse(EMouseAction::kPress, e->button(), pos, e->modifiers())) {
    hostMouse_ = true;
    setFocus(Qt::MouseFocusReason);
    return;
  }
  if (e->button() != Qt::LeftButton) return QWidget::mousePressEvent(e);
  setFocus(Qt::MouseFocusReason);
  const TScreenPos at = CellAt(pos);
  if (e->modifiers() & Qt::ControlModifier) {
    const QString url = screen_.UrlAt(at);
    if (!url.isEmpty()) {
      if (OnOpenUrl) OnOpenUrl(url);
      return;
    }
  }
  // The third click of a triple click: the whole line.
  if (doubleClickAt_ != 0 && e->timestamp() - doubleClickAt_ <= static_cast<quint64>(QApplication::doubleClickInterval()) &&
      (pos - doubleClickPos_).manhattanLength() <= QApplication::startDragDistance()) {
    doubleClickAt_ = 0;
    Select({at.line, 0}, {at.line, screen_.Columns() - 1});
    return;
  }
  doubleClickAt_ = 0;
  anchorLine_ = extentLine_ = Base() + at.line;
  anchorColumn_ = extentColumn_ = at.column;
  selecting_ = true;
  const bool had = hasSelection_;
  hasSelection_ = false;
  if (had) update();
}

void TScreenView::mouseMoveEvent(QMouseEvent* e) {
  const QPoint pos = e->position().toPoint();
  if (hostMouse_ || (!selecting_ && e->buttons() == Qt::NoButton)) {
    if (ReportMouse(EMouseAction::kMove, Qt::NoButton, pos, e->modifiers())) return;
  }
  if (!selecting_) {
    // Ctrl over a URL: the hand that says a click opens it.
    const bool link = (e->modifiers() & Qt::ControlModifier) && !screen_.UrlAt(CellAt(pos)).isEmpty();
    setCursor(link ? Qt::PointingHandCursor : Qt::IBeamCursor);
    return;
  }
  const TScreenPos at = CellAt(pos);
  extentLine_ = Base() + at.line;
  extentColumn_ = at.column;
  hasSelection_ = extentLine_ != anchorLine_ || extentColumn_ != anchorColumn_;
  update();
}

void TScreenView::mouseReleaseEvent(QMouseEvent* e) {
  if (hostMouse_) {
    hostMouse_ = e->buttons() != Qt::NoButton;
    ReportMouse(EMouseAction::kRelease, e->button(), e->position().toPoint(), e->modifiers());
    return;
  }
  if (e->button() != Qt::LeftButton || !selecting_) return QWidget::mouseReleaseEvent(e);
  selecting_ = false;
  if (hasSelection_) SelectionMade();
}

void TScreenView::mouseDoubleClickEvent(QMouseEvent* e) {
  const QPoint pos = e->position().toPoint();
  if (hostMouse_) return;  // its press went to the host already
  if (ReportMouse(EMouseAction::kPress, e->button(), pos, e->modifiers())) {
    hostMouse_ = true;
    return;
  }
  if (e->button() != Qt::LeftButton) return;
  TScreenPos from, to;
  screen_.WordAt(CellAt(pos), from, to);
  Select(from, to);
  doubleClickAt_ = std::max<quint64>(1, e->timestamp());
  doubleClickPos_ = pos;
}

void TScreenView::Select(TScreenPos from, TScreenPos to) {
  anchorLine_ = Base() + from.line;
  anchorColumn_ = from.column;
  extentLine_ = Base() + to.line;
  extentColumn_ = to.column;
  hasSelection_ = true;
  selecting_ = false;
  SelectionMade();
}

void TScreenView::SelectionMade() {
  update();
  if (SetPrimarySelection) SetPrimarySelection(SelectedText());
}

void TScreenView::leaveEvent(QEvent* e) {
  setCursor(Qt::IBeamCursor);
  QWidget::leaveEvent(e);
}

bool TScreenView::event(QEvent* e) {
  if (e->type() == QEvent::ShortcutOverride && OnShortcutOverride &&
      OnShortcutOverride(static_cast<QKeyEvent*>(e))) {
    e->accept();
    return true;
  }
  if (e->type() == QEvent::KeyPress) {
    auto* k = static_cast<QKeyEvent*>(e);
    // Tab is the host's, not the focus chain's, when keys go to the host.
    if ((k->key() == Qt::Key_Tab || k->key() == Qt::Key_Backtab) && OnKey && OnKey(k)) return true;
  }
  return QWidget::event(e);
}

void TScreenView::keyPressEvent(QKeyEvent* e) {
  if (e->modifiers() == Qt::ShiftModifier && (e->key() == Qt::Key_PageUp || e->key() == Qt::Key_PageDown)) {
    if (e->key() == Qt::Key_PageUp) PageBack();
    else PageForward();
    return;
  }
  if (OnKey && OnKey(e)) return;
  QWidget::keyPressEvent(e);
}

void TScreenView::inputMethodEvent(QInputMethodEvent* e) {
  if (!e->commitString().isEmpty() && OnCommit) OnCommit(e->commitString());
  e->accept();
}

QVariant TScreenView::inputMethodQuery(Qt::InputMethodQuery q) const {
  if (q == Qt::ImCursorRectangle) return CellRect(screen_.CursorRow(), screen_.CursorColumn());
  if (q == Qt::ImFont) return font_;
  return QWidget::inputMethodQuery(q);
}

void TScreenView::contextMenuEvent(QContextMenuEvent* e) {
  if (hostMouse_) return;  // the right button was the host's
  if (OnContextMenu) OnContextMenu(e->globalPos());
}

}  // namespace brelo
