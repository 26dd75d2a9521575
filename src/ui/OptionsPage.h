// The page "ﾀｰﾐﾅﾙ･ｵﾌﾟｼｮﾝ": the options that steer the automation, bound to
// the policy's TSessionOptions, and the terminal screen's font.
#pragma once

#include <QWidget>
#include <functional>
#include <string>

class QCheckBox;
class QComboBox;
class QLineEdit;
class QSpinBox;

namespace brelo {

struct TSessionOptions;

class TOptionsPage : public QWidget {
  Q_OBJECT
 public:
  TOptionsPage(TSessionOptions& options, QWidget* parent = nullptr);
  // Shows the options as they are now (the policy changes some itself).
  void Refresh();
  // The user changed an option (a click, a typed date), after the options
  // took the change.
  std::function<void(bool TSessionOptions::*field)> OnChecked;
  std::function<void()> OnDateEdited;

  QCheckBox* SealthLogin = nullptr;
  QCheckBox* ClearNews = nullptr;
  QCheckBox* CheckBox7 = nullptr;
  QCheckBox* GetUserList = nullptr;
  QCheckBox* ExecuteWriteYoyaku = nullptr;
  QCheckBox* GetMidoku = nullptr;
  QCheckBox* SetMidokuDate = nullptr;
  QLineEdit* MidokuDate = nullptr;
  QCheckBox* GoodbyeWhenExecute = nullptr;
  QCheckBox* PassgoodbyeMessage = nullptr;
  // The terminal screen's font: a fixed-pitch family and its size in pixels
  // (the families are listed when the page is first shown).
  QComboBox* TerminalFont = nullptr;
  QSpinBox* TerminalFontSize = nullptr;
  void SetTerminalFont(const QString& family, int pixelSize);
  std::function<void(const QString& family, int pixelSize)> OnTerminalFontChanged;

 protected:
  void showEvent(QShowEvent* e) override;

 private:
  TSessionOptions& options_;
  bool fontsListed_ = false;
};

}  // namespace brelo
