// The page "ターミナル": the session's lines as an 80-column text, white on
// black, and an input line that sends to the host.
#pragma once

#include <QImage>
#include <QTimer>
#include <QWidget>
#include <atomic>

class QLineEdit;
class QToolButton;

namespace brelo {

class TVeskoClient;

// The drawing area: rows are drawn onto a kept image, so that rows a draw
// does not reach keep what they showed, as a screen does.
class TTerminalView : public QWidget {
  Q_OBJECT
 public:
  explicit TTerminalView(TVeskoClient& client, QWidget* parent = nullptr);
  // Draws the rows that fit from the session's ring.
  void DrawView();
  int Redraws() const { return redraws_; }
  double DrawSeconds() const { return drawSeconds_; }  // the main thread's time in DrawView
  int RowCount() const;

 protected:
  void paintEvent(QPaintEvent* e) override;
  void resizeEvent(QResizeEvent* e) override;

 private:
  TVeskoClient& client_;
  QImage canvas_;
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

  // VeskoClient1Receive: any thread.
  void MarkChanged() { viewChanged_ = true; }
  void SendInputLine();

 private:
  bool eventFilter(QObject* o, QEvent* e) override;
  TVeskoClient& client_;
  std::atomic<bool> viewChanged_{false};
};

}  // namespace brelo
