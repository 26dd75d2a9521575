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

class QComboBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QToolButton;

namespace brelo {

class TVeskoClient;

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
};

class TTerminalPage : public QWidget {
  Q_OBJECT
 public:
  explicit TTerminalPage(TVeskoClient& client, QWidget* parent = nullptr);

  TTerminalView* PaintBox1 = nullptr;
  QLineEdit* Edit1 = nullptr;
  QToolButton* SpeedButton2 = nullptr;
  QTimer Timer1;
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
  TVeskoClient& client_;
  std::atomic<bool> viewChanged_{false};
};

}  // namespace brelo
