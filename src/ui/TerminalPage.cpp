#include "ui/TerminalPage.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPainter>
#include <QToolButton>
#include <QVBoxLayout>
#include <chrono>

#include "session/VeskoClient.h"
#include "ui/Fonts.h"
#include "reader/TerminalText.h"
#include "ui/Text.h"

namespace brelo {

TTerminalView::TTerminalView(TVeskoClient& client, QWidget* parent) : QWidget(parent), client_(client) {
  setFont(FixedFont(12));
  setAttribute(Qt::WA_OpaquePaintEvent);
  setFixedWidth(480);
}

int TTerminalView::RowCount() const { return TerminalRows(height(), fontMetrics().height()); }

void TTerminalView::resizeEvent(QResizeEvent* e) {
  QImage next(size(), QImage::Format_RGB32);
  next.fill(Qt::black);
  if (!canvas_.isNull()) {
    QPainter p(&next);
    p.drawImage(0, 0, canvas_);
  }
  canvas_ = next;
  QWidget::resizeEvent(e);
}

void TTerminalView::DrawView() {
  ++redraws_;
  if (canvas_.isNull()) return;
  const auto start = std::chrono::steady_clock::now();
  const QFontMetrics fm(font());
  const int h = fm.height();
  const int cell = fm.horizontalAdvance(QLatin1Char('A'));
  const std::vector<std::string> rows =
      TerminalRowsText([this](int i) { return client_.Lines(i); }, client_.LineIndex(), RowCount());
  QPainter p(&canvas_);
  p.setFont(font());
  for (size_t r = 0; r < rows.size(); ++r) {
    const QRect rect(0, static_cast<int>(r) * h, 80 * cell, h);
    p.fillRect(rect, Qt::black);
    p.setPen(Qt::white);
    p.drawText(rect, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, Q(rows[r]));
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
  auto* view = new QHBoxLayout;
  view->setContentsMargins(8, 0, 0, 0);
  view->addWidget(PaintBox1);
  view->addStretch(1);
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
