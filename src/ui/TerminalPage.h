// The page "ターミナル": the session's lines as an 80-column text, white on
// black, and an input line that sends to the host.
#pragma once

#include <QImage>
#include <QTimer>
#include <QWidget>
#include <atomic>
#include <functional>
#include <string>
#include <vector>

#include "reader/TerminalSave.h"
#include "reader/TerminalScreen.h"
#include "ui/ScreenView.h"

class QComboBox;
class QFontMetrics;
class QKeyEvent;
class QLabel;
class QLineEdit;
class QProgressBar;
class QToolButton;

namespace brelo {

class TVeskoClient;
struct THostEntry;
struct TTransferProgress;

// The transfer bar's words for a file under way, within `width` pixels: the
// name (cut in its middle when it must give way), bytes, rate and time left.
QString TransferCaption(const TTransferProgress& p, const QFontMetrics& fm, int width);

// The drawing area: rows are drawn onto a kept image, so that rows a draw
// does not reach keep what they showed, as a screen does. It takes the
// page's width: the 80-byte rows stay 80 columns, centred, in a font that
// grows with the width (within limits); the image is drawn at the screen's
// device pixel ratio, and drawn again from the ring whenever the view is
// shown or resized.
class TTerminalView : public QWidget {
  Q_OBJECT
 public:
  static constexpr int kMinPixelSize = 12;
  static constexpr int kMaxPixelSize = 28;

  explicit TTerminalView(TVeskoClient& client, QWidget* parent = nullptr);
  // Draws the rows that fit from the session's ring.
  void DrawView();
  int Redraws() const { return redraws_; }
  double DrawSeconds() const { return drawSeconds_; }  // the main thread's time in DrawView
  double DrawCpuSeconds() const { return drawCpuSeconds_; }
  int RowCount() const;
  // Where the 80 columns start, and how wide a column is (logical pixels).
  int TextLeft() const { return left_; }
  int CellWidth() const { return cell_; }

 protected:
  void paintEvent(QPaintEvent* e) override;
  void resizeEvent(QResizeEvent* e) override;
  void showEvent(QShowEvent* e) override;

 private:
  // The canvas and the font for the view's size and pixel ratio.
  void Layout();

  TVeskoClient& client_;
  QImage canvas_;
  int left_ = 0;
  int cell_ = 0;
  int redraws_ = 0;
  double drawSeconds_ = 0;
  double drawCpuSeconds_ = 0;
};

// The page: the screen (画面表示) or the Part's line view (行表示) over the
// input line, or over nothing when keys go to the host as typed (キー入力).
class TTerminalPage : public QWidget {
  Q_OBJECT
 public:
  // How often, at most, the screen takes what the receive path tapped and
  // redraws: the host's bursts are coalesced, an echo still feels immediate.
  static constexpr int kScreenIntervalMs = 40;
  // The screen's share of each interval: what a flood brings beyond it
  // waits for the next tick (and what could only scroll out of the
  // scrollback is skipped), so the window stays quick under any flood.
  static constexpr int kScreenBudgetMs = 3;
  static constexpr size_t kScreenPiece = 4096;
  static constexpr int kHistoryLines = 100;

  explicit TTerminalPage(TVeskoClient& client, QWidget* parent = nullptr);
  ~TTerminalPage() override;

  TTerminalView* PaintBox1 = nullptr;
  QLineEdit* Edit1 = nullptr;
  QToolButton* SpeedButton2 = nullptr;
  QTimer Timer1;
  // The screen and its view; the choice of view and of input.
  TTerminalScreen& Screen() { return screen_; }
  TScreenView* ScreenView = nullptr;
  QToolButton* ScreenButton = nullptr;   // 画面表示
  QToolButton* LinesButton = nullptr;    // 行表示
  QToolButton* KeyModeButton = nullptr;  // キー入力 (Ctrl+Shift+K)
  // Find in the scrollback (Ctrl+Shift+F).
  QWidget* FindBar = nullptr;
  QLineEdit* FindText = nullptr;
  QToolButton* FindUpButton = nullptr;
  QToolButton* FindDownButton = nullptr;
  QLabel* FindResult = nullptr;
  // Whether a paste of several lines goes out (a question by default; tests answer it).
  std::function<bool(int lines)> ConfirmPaste;
  // The view chosen (true: 行表示), to be kept in the settings.
  std::function<void(bool lines)> OnViewChosen;
  // Where the screen is saved and in which form (a dialog by default; tests
  // answer it): an empty name saves nothing.
  std::function<QString(ETerminalSaveFormat& format)> AskSaveName;
  // Opens a URL the user Ctrl+clicked (the desktop's browser by default).
  std::function<void(const QString& url)> OpenUrl;

  // The screen's font as the options set it; a host's own size goes first.
  void SetTerminalFont(const QString& family, int pixelSize);
  // A session to `host` starts: what Backspace sends, the font size, the
  // yen sign for a Shift-JIS host, and key mode when the host starts in it
  // and `keyMode` allows (a round's passes leave the keys alone).
  void StartSession(const THostEntry& host, bool keyMode);

  void SetLineView(bool lines);
  bool LineView() const;
  void SetKeyMode(bool on);
  bool KeyMode() const;
  // Ctrl+Shift+C, Ctrl+Shift+V, Ctrl+Shift+F.
  void CopySelection();
  void PasteToHost();
  void ShowFind();
  void FindNext(bool backwards);
  // Ctrl+Shift+S: the scrollback and the screen into a file.
  void SaveScreen();
  // False, after telling the user, when the file cannot be written.
  bool SaveScreenTo(const QString& path, ETerminalSaveFormat format);
  // Main thread: takes what the receive path tapped into the screen.
  void TakeScreenBytes();
  // The main thread's time in TakeScreenBytes (wall clock, and CPU).
  double ScreenSeconds() const { return screenSeconds_; }
  double ScreenCpuSeconds() const { return screenCpuSeconds_; }
  // File transfers (our addition): the protocol, the two directions, and
  // while one runs, its progress and a cancel button.
  QComboBox* ProtocolBox = nullptr;
  QToolButton* DownloadButton = nullptr;
  QToolButton* UploadButton = nullptr;
  QWidget* TransferBar = nullptr;
  QProgressBar* TransferProgress = nullptr;
  QLabel* TransferLabel = nullptr;
  QToolButton* CancelButton = nullptr;
  // How the files to send and an XMODEM download's name are asked for
  // (dialogs by default; tests answer them).
  std::function<std::vector<std::string>()> ChooseUploadFiles;
  std::function<std::string(const std::string& suggestion)> AskDownloadName;
  // The protocol chosen (to be kept in the settings).
  std::function<void()> OnProtocolChanged;

  // VeskoClient1Receive: any thread.
  void MarkChanged() { viewChanged_ = true; }
  void SendInputLine();
  // After asking the host to send (X/YMODEM; a ZMODEM send starts by itself).
  void StartDownload();
  void StartUpload();
  // The protocol box and the transfer bar as the session stands.
  void ShowTransfer();

 private:
  bool eventFilter(QObject* o, QEvent* e) override;
  // A key for the host in key mode (true: taken), from either view.
  bool HostKey(QKeyEvent* k);
  // Keys the terminal keeps for itself in key mode.
  static bool TerminalShortcut(const QKeyEvent* k);
  void SendToHost(const TKeyBytes& bytes, const QString& typed);
  // The input line's history: ↑ older, ↓ newer (the line being typed last).
  void Recall(int step);
  void ShowContextMenu(QPoint global);
  void FitScreen();
  void ApplyFont();

  TVeskoClient& client_;
  std::atomic<bool> viewChanged_{false};
  TTerminalScreen screen_;
  std::shared_ptr<TScreenFeed> feed_ = std::make_shared<TScreenFeed>();
  std::string screenPending_;  // taken from the feed, not yet through the screen
  QTimer screenTimer_;
  double screenSeconds_ = 0;
  double screenCpuSeconds_ = 0;
  bool sessionSeen_ = false;   // a session was running at the last tick
  QWidget* viewArea_ = nullptr;
  std::vector<QString> history_;
  int historyAt_ = 0;          // history_.size(): the line being typed
  QString draft_;              // what was being typed before ↑
  QString fontFamily_;
  int fontSize_ = 0;           // the options'
  int hostFontSize_ = 0;       // the session's host's, 0: none
};

}  // namespace brelo
