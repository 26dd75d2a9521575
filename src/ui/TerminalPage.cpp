#include "ui/TerminalPage.h"

#include <QComboBox>
#include <QFileDialog>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QStandardItemModel>
#include <QPainter>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>
#include <chrono>

#include "common/FileUtil.h"
#include "common/Sjis.h"
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
  ProtocolBox = new QComboBox;
  ProtocolBox->setObjectName(QStringLiteral("ProtocolBox"));
  ProtocolBox->setAccessibleName(QStringLiteral("転送プロトコル"));
  for (int p = pr_XMODEM_SUM_128; p <= pr_MLINK; ++p) ProtocolBox->addItem(QString::fromUtf8(ProtTypeName(static_cast<ProtType>(p))));
  // M-LINK has no program on this system: listed, not selectable.
  if (auto* m = qobject_cast<QStandardItemModel*>(ProtocolBox->model())) {
    QStandardItem* mlink = m->item(pr_MLINK);
    mlink->setFlags(mlink->flags() & ~Qt::ItemIsEnabled);
    mlink->setToolTip(QStringLiteral("このシステムでは使えません"));
  }
  ProtocolBox->setCurrentIndex(client_.ModemPort().Protocol);
  connect(ProtocolBox, &QComboBox::currentIndexChanged, this, [this](int i) {
    if (i < pr_XMODEM_SUM_128 || i >= pr_MLINK) return;
    client_.ModemPort().Protocol = static_cast<ProtType>(i);
    if (OnProtocolChanged) OnProtocolChanged();
  });
  DownloadButton = new QToolButton;
  DownloadButton->setText(QStringLiteral("ダウンロード"));
  DownloadButton->setToolTip(QStringLiteral("ホストに送信を頼んでから押します (ZMODEM はホストが送り始めると自動で受信します)"));
  UploadButton = new QToolButton;
  UploadButton->setText(QStringLiteral("アップロード"));
  UploadButton->setToolTip(QStringLiteral("ホストに受信を頼んでから押して、送るファイルを選びます"));
  connect(DownloadButton, &QToolButton::clicked, this, &TTerminalPage::StartDownload);
  connect(UploadButton, &QToolButton::clicked, this, &TTerminalPage::StartUpload);
  auto* bar = new QHBoxLayout;
  bar->setContentsMargins(0, 2, 0, 2);
  bar->addWidget(Edit1);
  bar->addWidget(SpeedButton2);
  bar->addStretch(1);
  TransferBar = new QWidget;
  TransferBar->setObjectName(QStringLiteral("TransferBar"));
  TransferProgress = new QProgressBar;
  TransferProgress->setRange(0, 1000);
  TransferProgress->setTextVisible(false);
  TransferLabel = new QLabel;
  TransferLabel->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);  // never widens the window
  CancelButton = new QToolButton;
  CancelButton->setText(QStringLiteral("中止"));
  CancelButton->setAccessibleName(QStringLiteral("転送を中止"));
  connect(CancelButton, &QToolButton::clicked, this, [this] { client_.CancelTransfer(); });
  // The transfer row: the protocol and the two directions, and while a
  // transfer runs its progress (a row of its own: the input line keeps its width).
  auto* transferRow = new QWidget;
  auto* transfer = new QHBoxLayout(transferRow);
  transfer->setContentsMargins(0, 0, 0, 0);
  transfer->addWidget(ProtocolBox);
  transfer->addWidget(DownloadButton);
  transfer->addWidget(UploadButton);
  auto* progress = new QHBoxLayout(TransferBar);
  progress->setContentsMargins(4, 0, 0, 0);
  // The text (name, bytes, rate, time left) has the room; the bar is short.
  TransferProgress->setMaximumWidth(90);
  progress->addWidget(TransferLabel, 1);
  progress->addWidget(TransferProgress);
  progress->addWidget(CancelButton);
  transfer->addWidget(TransferBar, 1);
  transfer->addStretch(0);
  TransferBar->hide();
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->addLayout(view, 1);
  layout->addWidget(transferRow);
  auto* barHolder = new QWidget;
  barHolder->setFixedHeight(33);
  barHolder->setLayout(bar);
  layout->addWidget(barHolder);
  connect(SpeedButton2, &QToolButton::clicked, this, &TTerminalPage::SendInputLine);
  Timer1.setInterval(200);
  connect(&Timer1, &QTimer::timeout, this, [this] {
    if (viewChanged_.exchange(false)) PaintBox1->DrawView();
    ShowTransfer();
  });
  ChooseUploadFiles = [this] {
    std::vector<std::string> files;
    // The host folder's UP/, where a pass also finds the files it sends.
    if (!client_.UploadFolder.empty()) MakePath(client_.UploadFolder);
    for (const QString& f : QFileDialog::getOpenFileNames(this, QStringLiteral("アップロードするファイル"),
                                                           QString::fromStdString(client_.UploadFolder))) {
      files.push_back(f.toStdString());
    }
    return files;
  };
  AskDownloadName = [this](const std::string& suggestion) {
    bool ok = false;
    const QString name = QInputDialog::getText(this, QStringLiteral("ダウンロード"),
                                               QStringLiteral("XMODEM はファイル名を送らないので、保存する名前を付けます:"),
                                               QLineEdit::Normal, QString::fromStdString(suggestion), &ok);
    return ok ? name.trimmed().toStdString() : std::string();
  };
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

namespace {

// A size in few characters: 980, 12.3K, 4.5M, 150M.
QString Size(long long n) {
  if (n < 1000) return QString::number(n);
  const double k = static_cast<double>(n) / 1024.0;
  if (k < 1000) return QString::number(k, 'f', k < 100 ? 1 : 0) + QLatin1Char('K');
  const double m = k / 1024.0;
  return QString::number(m, 'f', m < 100 ? 1 : 0) + QLatin1Char('M');
}

}  // namespace

void TTerminalPage::ShowTransfer() {
  const bool running = client_.TransferRunning();
  const bool session = client_.SessionRunning();
  DownloadButton->setEnabled(session && !running);
  UploadButton->setEnabled(session && !running);
  ProtocolBox->setEnabled(!running);
  if (ProtocolBox->currentIndex() != client_.ModemPort().Protocol) {
    ProtocolBox->setCurrentIndex(client_.ModemPort().Protocol);
  }
  if (!running) {
    TransferBar->hide();
    return;
  }
  const TTransferProgress p = client_.TransferProgress();
  TransferBar->show();
  TransferProgress->setValue(p.total > 0 ? static_cast<int>(std::min<long long>(1000, p.bytes * 1000 / p.total)) : 0);
  if (p.file.empty()) {
    TransferLabel->setText(QStringLiteral("転送の開始を待っています"));
    return;
  }
  // Bytes, rate and time left always show; a long name gives way in its middle.
  QString tail = QStringLiteral(" %1/%2").arg(Size(p.bytes), p.total > 0 ? Size(p.total) : QStringLiteral("?"));
  if (p.rate > 0) tail += QStringLiteral(" %1/秒").arg(Size(p.rate));
  if (p.secondsLeft >= 0) tail += QStringLiteral(" 残り%1:%2").arg(p.secondsLeft / 60).arg(p.secondsLeft % 60, 2, 10, QLatin1Char('0'));
  const QFontMetrics fm(TransferLabel->font());
  const int room = std::max(fm.horizontalAdvance(QStringLiteral("WWW…")), TransferLabel->width() - fm.horizontalAdvance(tail));
  TransferLabel->setText(fm.elidedText(SjisToQString(p.file), Qt::ElideMiddle, room) + tail);
}

void TTerminalPage::StartDownload() {
  std::string name;
  if (client_.ModemPort().Protocol <= pr_XMODEM_CRC_1024) {
    name = AskDownloadName ? AskDownloadName("download.bin") : std::string("download.bin");
    if (name.empty()) return;
  }
  client_.StartDownload(name);
  ShowTransfer();
}

void TTerminalPage::StartUpload() {
  const std::vector<std::string> files = ChooseUploadFiles ? ChooseUploadFiles() : std::vector<std::string>();
  if (files.empty()) return;
  client_.StartUpload(files);
  ShowTransfer();
}

void TTerminalPage::SendInputLine() {
  std::optional<std::string> line = ToSjisOrWarn(this, Edit1->text());
  if (!line) return;  // kept in the field for the user to mend
  client_.SendLine(*line);
  Edit1->clear();
}

}  // namespace brelo
