// The page "ﾀｰﾐﾅﾙ･ｵﾌﾟｼｮﾝ": the options that steer the automation, bound to
// the policy's TSessionOptions.
#pragma once

#include <QWidget>
#include <functional>
#include <string>

class QCheckBox;
class QLineEdit;

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

 private:
  TSessionOptions& options_;
};

}  // namespace brelo
