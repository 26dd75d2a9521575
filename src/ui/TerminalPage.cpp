#include "ui/TerminalPage.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDesktopServices>
#include <QFile>
#include <QFileDialog>
#include <QFontMetrics>
#include <QMenu>
#include <QMessageBox>
#include <QShortcut>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QStandardItemModel>
#include <QPainter>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>
#include <algorithm>
#include <chrono>

#include "common/FileUtil.h"
#include "common/Sjis.h"
#include "hosts/HostTable.h"
#include "reader/Settings.h"
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
  const double cpu = ThreadCpuSeconds();
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
  drawCpuSeconds_ += ThreadCpuSeconds() - cpu;
}

void TTerminalView::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.drawImage(0, 0, canvas_);
}

TTerminalPage::TTerminalPage(TVeskoClient& client, QWidget* parent) : QWidget(parent), client_(client) {
  PaintBox1 = new TTerminalView(client);
  PaintBox1->setFocusPolicy(Qt::StrongFocus);
  PaintBox1->installEventFilter(this);
  ScreenView = new TScreenView(screen_);
  ScreenView->OnKey = [this](QKeyEvent* k) { return HostKey(k); };
  ScreenView->OnShortcutOverride = [this](QKeyEvent* k) { return KeyMode() && !TerminalShortcut(k); };
  ScreenView->OnCommit = [this](const QString& text) {
    if (KeyMode()) SendToHost(screen_.TextBytes(text, false), text);
  };
  ScreenView->OnContextMenu = [this](QPoint global) { ShowContextMenu(global); };
  // The mouse is the host's when it asks and keys go to it as typed.
  ScreenView->MouseForHost = [this] { return KeyMode(); };
  ScreenView->OnMouseBytes = [this](const std::string& bytes) { SendToHost({true, bytes, {}}, QString()); };
  ScreenView->OnOpenUrl = [this](const QString& url) {
    if (OpenUrl) OpenUrl(url);
  };
  OpenUrl = [](const QString& url) { QDesktopServices::openUrl(QUrl(url)); };
  Edit1 = new QLineEdit;
  Edit1->setObjectName(QStringLiteral("Edit1"));
  Edit1->setFont(FixedFont(16));
  Edit1->setFixedWidth(433);
  Edit1->installEventFilter(this);
  SpeedButton2 = new QToolButton;
  SpeedButton2->setText(QStringLiteral("送信"));
  Edit1->setAccessibleName(QStringLiteral("ホストに送る行"));
  SpeedButton2->setAccessibleName(QStringLiteral("送信"));
  viewArea_ = new QWidget;
  auto* view = new QHBoxLayout(viewArea_);
  view->setContentsMargins(0, 0, 0, 0);
  view->addWidget(ScreenView, 1);
  view->addWidget(PaintBox1, 1);
  PaintBox1->hide();
  viewArea_->installEventFilter(this);  // the screen's size follows the area
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
  // The transfer row: the protocol and the two directions (a row of its own:
  // the input line keeps its width). While a transfer runs its progress has
  // a row below it, the page's whole width, so that at the window's least
  // width the file's name and figures still show.
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
  transfer->addStretch(1);
  TransferBar->hide();
  // How keys go to the host, and which view shows the session.
  KeyModeButton = new QToolButton;
  KeyModeButton->setText(QStringLiteral("キー入力"));
  KeyModeButton->setCheckable(true);
  KeyModeButton->setToolTip(QStringLiteral("キーをそのままホストに送ります (Ctrl+Shift+K で切り替え)。"
                                           "オフのときは下の行に入力して送信します"));
  connect(KeyModeButton, &QToolButton::toggled, this, &TTerminalPage::SetKeyMode);
  ScreenButton = new QToolButton;
  ScreenButton->setText(QStringLiteral("画面表示"));
  ScreenButton->setToolTip(QStringLiteral("ホストの画面をそのまま表示します"));
  LinesButton = new QToolButton;
  LinesButton->setText(QStringLiteral("行表示"));
  LinesButton->setToolTip(QStringLiteral("受信した行を 80 桁で表示します"));
  for (QToolButton* b : {ScreenButton, LinesButton}) {
    b->setCheckable(true);
    b->setAutoExclusive(true);
  }
  ScreenButton->setChecked(true);
  connect(LinesButton, &QToolButton::clicked, this, [this] { SetLineView(true); });
  connect(ScreenButton, &QToolButton::clicked, this, [this] { SetLineView(false); });
  transfer->addWidget(KeyModeButton);
  transfer->addWidget(ScreenButton);
  transfer->addWidget(LinesButton);
  // Find in the scrollback: upwards (back in time) with Enter.
  FindBar = new QWidget;
  FindBar->setObjectName(QStringLiteral("FindBar"));
  auto* find = new QHBoxLayout(FindBar);
  find->setContentsMargins(0, 2, 0, 2);
  FindText = new QLineEdit;
  FindText->setAccessibleName(QStringLiteral("スクロールバックを検索"));
  FindText->installEventFilter(this);
  FindUpButton = new QToolButton;
  FindUpButton->setText(QStringLiteral("↑前"));
  FindDownButton = new QToolButton;
  FindDownButton->setText(QStringLiteral("↓次"));
  FindResult = new QLabel;
  auto* findClose = new QToolButton;
  findClose->setText(QStringLiteral("閉じる"));
  find->addWidget(new QLabel(QStringLiteral("検索:")));
  find->addWidget(FindText, 1);
  find->addWidget(FindUpButton);
  find->addWidget(FindDownButton);
  find->addWidget(FindResult);
  find->addWidget(findClose);
  FindBar->hide();
  connect(FindUpButton, &QToolButton::clicked, this, [this] { FindNext(true); });
  connect(FindDownButton, &QToolButton::clicked, this, [this] { FindNext(false); });
  connect(FindText, &QLineEdit::textChanged, this, [this] {
    ScreenView->ClearFound();
    FindResult->clear();
  });
  connect(findClose, &QToolButton::clicked, this, [this] {
    FindBar->hide();
    ScreenView->ClearFound();
  });
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->addWidget(viewArea_, 1);
  layout->addWidget(FindBar);
  layout->addWidget(transferRow);
  layout->addWidget(TransferBar);
  auto* barHolder = new QWidget;
  barHolder->setFixedHeight(33);
  barHolder->setLayout(bar);
  layout->addWidget(barHolder);
  connect(SpeedButton2, &QToolButton::clicked, this, &TTerminalPage::SendInputLine);
  Timer1.setInterval(200);
  connect(&Timer1, &QTimer::timeout, this, [this] {
    if (viewChanged_.exchange(false)) PaintBox1->DrawView();
    ShowTransfer();
    const bool running = client_.SessionRunning();
    if (sessionSeen_ && !running) {
      TakeScreenBytes();  // the session's last bytes first
      screen_.SessionEnded();
      ScreenView->ScreenChanged();
    }
    sessionSeen_ = running;
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
  // The screen takes the tapped bytes at most every kScreenIntervalMs.
  screenTimer_.setSingleShot(true);
  screenTimer_.setInterval(kScreenIntervalMs);
  connect(&screenTimer_, &QTimer::timeout, this, &TTerminalPage::TakeScreenBytes);
  feed_->SetOnWake([this] {
    if (!screenTimer_.isActive()) screenTimer_.start();
  });
  client_.Ring().SetScreenTap([feed = feed_](const char* p, size_t n) { feed->Append(p, n); });
  const auto shortcut = [this](QKeyCombination keys, auto slot) {
    auto* s = new QShortcut(QKeySequence(keys), this);
    s->setContext(Qt::WidgetWithChildrenShortcut);
    connect(s, &QShortcut::activated, this, slot);
  };
  shortcut(Qt::CTRL | Qt::SHIFT | Qt::Key_K, [this] { KeyModeButton->toggle(); });
  shortcut(Qt::CTRL | Qt::SHIFT | Qt::Key_C, [this] { CopySelection(); });
  shortcut(Qt::CTRL | Qt::SHIFT | Qt::Key_V, [this] { PasteToHost(); });
  shortcut(Qt::CTRL | Qt::SHIFT | Qt::Key_F, [this] { ShowFind(); });
  shortcut(Qt::CTRL | Qt::SHIFT | Qt::Key_S, [this] { SaveScreen(); });
  AskSaveName = [this](ETerminalSaveFormat& format) {
    const QString sjis = QStringLiteral("テキスト Shift-JIS (*.txt)"), utf8 = QStringLiteral("テキスト UTF-8 (*.txt)"),
                  html = QStringLiteral("HTML 色つき (*.html *.htm)");
    QString chosen = sjis;
    const QString name = QFileDialog::getSaveFileName(this, QStringLiteral("スクロールバックと画面を保存"), QString(),
                                                      sjis + QStringLiteral(";;") + utf8 + QStringLiteral(";;") + html,
                                                      &chosen);
    format = chosen == html ? ETerminalSaveFormat::kHtml
             : chosen == utf8 ? ETerminalSaveFormat::kUtf8
                              : ETerminalSaveFormat::kShiftJis;
    return name;
  };
  SetTerminalFont(QString::fromLatin1(TAppSettings::kDefaultTerminalFont), TAppSettings::kDefaultTerminalFontSize);
  ConfirmPaste = [this](int lines) {
    return QMessageBox::question(this, QStringLiteral("貼り付け"),
                                 QStringLiteral("%1 行をホストに送ります。よろしいですか?").arg(lines)) ==
           QMessageBox::Yes;
  };
}

// The session's component outlives the page or not (the window's members go
// before its child widgets): the page never touches it here. The tap keeps
// the feed alive; nothing wakes the page any more.
TTerminalPage::~TTerminalPage() { feed_->SetOnWake(nullptr); }

void TTerminalPage::TakeScreenBytes() {
  const auto start = std::chrono::steady_clock::now();
  const double cpu = ThreadCpuSeconds();
  const std::string fresh = feed_->Take();
  // Nothing came since the last tick: the host has gone quiet, and what is
  // left of its flood (at most the scrollback's worth) is drawn at once.
  const bool quiet = fresh.empty();
  screenPending_ += fresh;
  if (screenPending_.empty()) return;
  const size_t skip = TTerminalScreen::KeepFrom(screenPending_, TTerminalScreen::kScrollbackLines + screen_.Rows());
  size_t at = skip;
  while (at < screenPending_.size()) {
    const size_t n = std::min(kScreenPiece, screenPending_.size() - at);
    screen_.Feed(std::string_view(screenPending_).substr(at, n));
    at += n;
    if (!quiet && std::chrono::steady_clock::now() - start >= std::chrono::milliseconds(kScreenBudgetMs)) break;
  }
  screenPending_.erase(0, at);
  if (!screenPending_.empty()) screenTimer_.start();  // the rest at the next tick
  // The host's questions (where is the cursor, which terminal) are answered
  // while the user drives it; an unattended pass sends only its own words.
  const std::string answers = screen_.TakeAnswers();
  if (KeyMode() && !answers.empty()) client_.SendText(answers);
  ScreenView->ScreenChanged();
  screenSeconds_ += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  screenCpuSeconds_ += ThreadCpuSeconds() - cpu;
}

void TTerminalPage::FitScreen() {
  const QSize cells = ScreenView->CellsFor(viewArea_->size());
  screen_.Resize(cells.width(), cells.height());
  ScreenView->ScreenChanged();
  client_.SetWindowSize(screen_.Columns(), screen_.Rows());
}

void TTerminalPage::SetTerminalFont(const QString& family, int pixelSize) {
  fontFamily_ = family;
  fontSize_ = pixelSize;
  ApplyFont();
}

void TTerminalPage::ApplyFont() {
  ScreenView->SetFont(TerminalFont(fontFamily_, hostFontSize_ > 0 ? hostFontSize_ : fontSize_));
  FitScreen();
}

void TTerminalPage::StartSession(const THostEntry& host, bool keyMode) {
  screen_.SetBackspaceSendsDelete(BackspaceSendsDelete(host));
  ScreenView->SetYen(host.Encoding == EHostEncoding::kShiftJis);
  if (hostFontSize_ != host.FontSize) {
    hostFontSize_ = host.FontSize;
    ApplyFont();
  }
  if (keyMode && host.KeyModeAtStart) SetKeyMode(true);
}

void TTerminalPage::SaveScreen() {
  ETerminalSaveFormat format = ETerminalSaveFormat::kShiftJis;
  const QString name = AskSaveName ? AskSaveName(format) : QString();
  if (!name.isEmpty()) SaveScreenTo(name, format);
}

bool TTerminalPage::SaveScreenTo(const QString& path, ETerminalSaveFormat format) {
  try {
    WriteFileAtomic(QFile::encodeName(path).toStdString(), TerminalSaveBytes(screen_, format, ScreenView->Yen()));
  } catch (const EInOutError& e) {
    QMessageBox::critical(this, QStringLiteral("エラー"), Q(e.what()));
    return false;
  }
  return true;
}

void TTerminalPage::SetLineView(bool lines) {
  ScreenView->setVisible(!lines);
  PaintBox1->setVisible(lines);
  (lines ? LinesButton : ScreenButton)->setChecked(true);
  if (lines) PaintBox1->DrawView();
  if (KeyMode()) (lines ? static_cast<QWidget*>(PaintBox1) : ScreenView)->setFocus();
  if (OnViewChosen) OnViewChosen(lines);
}

bool TTerminalPage::LineView() const { return LinesButton->isChecked(); }

void TTerminalPage::SetKeyMode(bool on) {
  if (KeyModeButton->isChecked() != on) KeyModeButton->setChecked(on);  // comes back here once
  Edit1->setEnabled(!on);
  SpeedButton2->setEnabled(!on);
  ScreenView->setAttribute(Qt::WA_InputMethodEnabled, on);
  if (on) (LineView() ? static_cast<QWidget*>(PaintBox1) : ScreenView)->setFocus();
  else Edit1->setFocus();
}

bool TTerminalPage::KeyMode() const { return KeyModeButton->isChecked(); }

bool TTerminalPage::TerminalShortcut(const QKeyEvent* k) {
  const Qt::KeyboardModifiers m = k->modifiers() & ~Qt::KeypadModifier;
  if (m == Qt::ShiftModifier && (k->key() == Qt::Key_PageUp || k->key() == Qt::Key_PageDown)) return true;
  return m == (Qt::ControlModifier | Qt::ShiftModifier) && (k->key() == Qt::Key_C || k->key() == Qt::Key_V ||
                                                            k->key() == Qt::Key_F || k->key() == Qt::Key_K ||
                                                            k->key() == Qt::Key_S);
}

bool TTerminalPage::HostKey(QKeyEvent* k) {
  if (!KeyMode()) {
    // Typing on the view goes to the input line.
    if (!k->text().isEmpty() && k->text()[0] >= QLatin1Char(' ') &&
        !(k->modifiers() & (Qt::ControlModifier | Qt::AltModifier))) {
      Edit1->setFocus();
      QApplication::sendEvent(Edit1, k);
      return true;
    }
    return false;
  }
  if (TerminalShortcut(k)) return false;
  const TKeyBytes b = screen_.KeyBytes({k->key(), k->modifiers(), k->text()});
  if (!b.handled) return false;
  SendToHost(b, k->text());
  return true;
}

void TTerminalPage::SendToHost(const TKeyBytes& b, const QString& typed) {
  if (!b.unmappable.isEmpty()) {
    ToSjisOrWarn(this, typed);  // says which characters, and nothing goes out
    return;
  }
  if (b.bytes.empty()) return;
  client_.UserTyped();
  client_.SendText(b.bytes);
  ScreenView->ScrollToBottom();
}

void TTerminalPage::CopySelection() {
  if (ScreenView->isVisible() && ScreenView->HasSelection()) {
    QApplication::clipboard()->setText(ScreenView->SelectedText());
  }
}

void TTerminalPage::PasteToHost() {
  const QString text = QApplication::clipboard()->text();
  if (text.isEmpty()) return;
  QString lines = text;
  lines.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  const int count = static_cast<int>(lines.count(QLatin1Char('\n'))) + (lines.endsWith(QLatin1Char('\n')) ? 0 : 1);
  if (count > 1 && ConfirmPaste && !ConfirmPaste(count)) return;
  SendToHost(screen_.TextBytes(text, true), text);
}

void TTerminalPage::ShowFind() {
  FindBar->show();
  FindText->setFocus();
  FindText->selectAll();
}

void TTerminalPage::FindNext(bool backwards) {
  if (FindText->text().isEmpty()) return;
  if (LineView()) SetLineView(false);  // the scrollback is the screen's
  TScreenPos at;
  int cells = 0;
  if (screen_.Find(FindText->text(), ScreenView->FindFrom(), backwards, at, cells)) {
    ScreenView->ShowFound(at, cells);
    FindResult->setText(QStringLiteral("%1 / %2 行").arg(at.line + 1).arg(screen_.LineCount()));
  } else {
    FindResult->setText(QStringLiteral("見つかりません"));
  }
}

void TTerminalPage::ShowContextMenu(QPoint global) {
  QMenu menu(this);
  QAction* copy = menu.addAction(QStringLiteral("コピー(&C)\tCtrl+Shift+C"), this, &TTerminalPage::CopySelection);
  copy->setEnabled(ScreenView->HasSelection());
  menu.addAction(QStringLiteral("貼り付け(&P)\tCtrl+Shift+V"), this, &TTerminalPage::PasteToHost);
  menu.addAction(QStringLiteral("検索(&F)...\tCtrl+Shift+F"), this, &TTerminalPage::ShowFind);
  menu.addAction(QStringLiteral("保存(&S)...\tCtrl+Shift+S"), this, &TTerminalPage::SaveScreen);
  menu.addSeparator();
  QAction* keys = menu.addAction(QStringLiteral("キー入力(&K)\tCtrl+Shift+K"));
  keys->setCheckable(true);
  keys->setChecked(KeyMode());
  connect(keys, &QAction::toggled, this, &TTerminalPage::SetKeyMode);
  menu.exec(global);
}

void TTerminalPage::Recall(int step) {
  if (history_.empty()) return;
  const int size = static_cast<int>(history_.size());
  if (historyAt_ == size) draft_ = Edit1->text();
  historyAt_ = std::clamp(historyAt_ + step, 0, size);
  Edit1->setText(historyAt_ == size ? draft_ : history_[static_cast<size_t>(historyAt_)]);
}

bool TTerminalPage::eventFilter(QObject* o, QEvent* e) {
  if (o == viewArea_ && e->type() == QEvent::Resize) FitScreen();
  if (o == Edit1 && e->type() == QEvent::KeyPress) {
    auto* k = static_cast<QKeyEvent*>(e);
    if (k->key() == Qt::Key_Return || k->key() == Qt::Key_Enter) {
      SendInputLine();
      return true;
    }
    if (k->key() == Qt::Key_Up || k->key() == Qt::Key_Down) {
      Recall(k->key() == Qt::Key_Up ? -1 : 1);
      return true;
    }
    if (k->modifiers() == Qt::ShiftModifier && (k->key() == Qt::Key_PageUp || k->key() == Qt::Key_PageDown)) {
      if (k->key() == Qt::Key_PageUp) ScreenView->PageBack();
      else ScreenView->PageForward();
      return true;
    }
  }
  if (o == FindText && e->type() == QEvent::KeyPress) {
    auto* k = static_cast<QKeyEvent*>(e);
    if (k->key() == Qt::Key_Return || k->key() == Qt::Key_Enter) {
      FindNext(!(k->modifiers() & Qt::ShiftModifier));
      return true;
    }
    if (k->key() == Qt::Key_Escape) {
      FindBar->hide();
      ScreenView->ClearFound();
      ScreenView->setFocus();
      return true;
    }
  }
  // The line view takes keys for the host as the screen does.
  if (o == PaintBox1 && e->type() == QEvent::ShortcutOverride && KeyMode() &&
      !TerminalShortcut(static_cast<QKeyEvent*>(e))) {
    e->accept();
    return true;
  }
  if (o == PaintBox1 && e->type() == QEvent::KeyPress && HostKey(static_cast<QKeyEvent*>(e))) return true;
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
  TransferLabel->setText(TransferCaption(p, QFontMetrics(TransferLabel->font()), TransferLabel->width()));
}

QString TransferCaption(const TTransferProgress& p, const QFontMetrics& fm, int width) {
  // Bytes, rate and time left always show; a long name gives way in its middle.
  QString tail = QStringLiteral(" %1/%2").arg(Size(p.bytes), p.total > 0 ? Size(p.total) : QStringLiteral("?"));
  if (p.rate > 0) tail += QStringLiteral(" %1/秒").arg(Size(p.rate));
  if (p.secondsLeft >= 0) tail += QStringLiteral(" 残り%1:%2").arg(p.secondsLeft / 60).arg(p.secondsLeft % 60, 2, 10, QLatin1Char('0'));
  const int room = std::max(fm.horizontalAdvance(QStringLiteral("WWW…")), width - fm.horizontalAdvance(tail));
  return fm.elidedText(SjisToQString(p.file), Qt::ElideMiddle, room) + tail;
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
  client_.UserTyped();
  client_.SendLine(*line);
  const QString sent = Edit1->text();
  if (!sent.isEmpty() && (history_.empty() || history_.back() != sent)) {
    history_.push_back(sent);
    if (history_.size() > static_cast<size_t>(kHistoryLines)) history_.erase(history_.begin());
  }
  historyAt_ = static_cast<int>(history_.size());
  draft_.clear();
  Edit1->clear();
}

}  // namespace brelo
