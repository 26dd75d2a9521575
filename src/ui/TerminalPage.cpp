#include "ui/TerminalPage.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPainter>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>
#include <chrono>

#include "session/VeskoClient.h"
#include "ui/Fonts.h"
#include "reader/TerminalText.h"
#include "ui/Text.h"

namespace brelo {

TTerminalView::TTerminalView(TVeskoClient& client, QWidget* parent) : QWidget(parent), client_(client) {
  setFont(FixedFont(kMinPixelSize));
  setAttribute(Qt::WA_OpaquePaintEvent);
  setMinimumWidth(480);
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
  setAccessibleName(QStringLiteral("ターミナル画面"));
}

int TTerminalView::RowCount() const { return TerminalRows(height(), fontMetrics().height()); }

void TTerminalView::Layout() {
  // The largest font whose 80 columns fit the width.
  QFont f = FixedFont(kMinPixelSize);
  for (int px = kMaxPixelSize; px > kMinPixelSize; --px) {
    f.setPixelSize(px);
    if (QFontMetrics(f).horizontalAdvance(QLatin1Char('A')) * 80 <= width()) break;
  }
  setFont(f);
  cell_ = QFontMetrics(f).horizontalAdvance(QLatin1Char('A'));
  left_ = std::max(0, (width() - 80 * cell_) / 2);
  const qreal dpr = devicePixelRatioF();
  canvas_ = QImage(size() * dpr, QImage::Format_RGB32);
  canvas_.setDevicePixelRatio(dpr);
  canvas_.fill(Qt::black);
}

void TTerminalView::resizeEvent(QResizeEvent* e) {
  QWidget::resizeEvent(e);
  Layout();
  DrawView();  // from the ring, not a black area until new data comes
}

void TTerminalView::showEvent(QShowEvent* e) {
  QWidget::showEvent(e);
  if (canvas_.isNull() || !qFuzzyCompare(canvas_.devicePixelRatio(), devicePixelRatioF())) Layout();
  DrawView();
}

void TTerminalView::DrawView() {
  ++redraws_;
  if (canvas_.isNull()) return;
  const auto start = std::chrono::steady_clock::now();
  const QFontMetrics fm(font());
  const int h = fm.height();
  const std::vector<TTerminalRow> rows = TerminalRowsText(
      [this](int i, std::string& text, std::vector<TAttrRun>& runs) { client_.LineWithRuns(i, text, runs); },
      client_.LineIndex(), RowCount());
  QPainter p(&canvas_);
  p.setFont(font());
  for (size_t r = 0; r < rows.size(); ++r) {
    const std::string& row = rows[r].text;
    const int y = static_cast<int>(r) * h;
    p.fillRect(QRect(left_, y, 80 * cell_, h), Qt::black);
    if (rows[r].spans.empty()) {  // the terminal's own colours: the row at once
      p.setPen(Qt::white);
      p.drawText(QRect(left_, y, 80 * cell_, h), Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, Q(row));
      continue;
    }
    for (const TTerminalSpan& s : rows[r].spans) {
      const TTerminalColours c = TerminalColours(s.attr);
      const QRect rect(left_ + s.column * cell_, y, s.length * cell_, h);
      p.fillRect(rect, QColor::fromRgb(c.bg));
      p.setPen(QColor::fromRgb(c.fg));
      p.drawText(rect, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine,
                 Q(row.substr(static_cast<size_t>(s.column), static_cast<size_t>(s.length))));
    }
  }
  p.end();
  update();
  drawSeconds_ += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void TTerminalView::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.drawImage(0, 0, canvas_);
}

TTerminalPage::TTerminalPage(TVeskoClient& client, QWidget* parent) : QWidget(parent), client_(client) {
  PaintBox1 = new TTerminalView(client);
  Edit1 = new QLineEdit;
  Edit1->setObjectName(QStringLiteral("Edit1"));
  Edit1->setFont(FixedFont(16));
  Edit1->setFixedWidth(433);
  Edit1->installEventFilter(this);
  SpeedButton2 = new QToolButton;
  SpeedButton2->setText(QStringLiteral("送信"));
  Edit1->setAccessibleName(QStringLiteral("ホストに送る行"));
  SpeedButton2->setAccessibleName(QStringLiteral("送信"));
  auto* view = new QHBoxLayout;
  view->setContentsMargins(0, 0, 0, 0);
  view->addWidget(PaintBox1, 1);
  auto* bar = new QHBoxLayout;
  bar->setContentsMargins(0, 2, 0, 2);
  bar->addWidget(Edit1);
  bar->addWidget(SpeedButton2);
  bar->addStretch(1);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->addLayout(view, 1);
  auto* barHolder = new QWidget;
  barHolder->setFixedHeight(33);
  barHolder->setLayout(bar);
  layout->addWidget(barHolder);
  connect(SpeedButton2, &QToolButton::clicked, this, &TTerminalPage::SendInputLine);
  Timer1.setInterval(200);
  connect(&Timer1, &QTimer::timeout, this, [this] {
    if (viewChanged_.exchange(false)) PaintBox1->DrawView();
  });
  Timer1.start();
}

bool TTerminalPage::eventFilter(QObject* o, QEvent* e) {
  if (o == Edit1 && e->type() == QEvent::KeyPress) {
    auto* k = static_cast<QKeyEvent*>(e);
    if (k->key() == Qt::Key_Return || k->key() == Qt::Key_Enter) {
      SendInputLine();
      return true;
    }
  }
  return QWidget::eventFilter(o, e);
}

void TTerminalPage::SendInputLine() {
  std::optional<std::string> line = ToSjisOrWarn(this, Edit1->text());
  if (!line) return;  // kept in the field for the user to mend
  client_.SendLine(*line);
  Edit1->clear();
}

}  // namespace brelo
