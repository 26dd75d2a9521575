// 設定 → "自動巡回": when the window makes its rounds by itself, and whether
// it tells the user what came.
#pragma once

#include <QDialog>

#include "reader/PatrolSchedule.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QRadioButton;
class QSpinBox;

namespace brelo {

class TPatrolDialog : public QDialog {
  Q_OBJECT
 public:
  explicit TPatrolDialog(QWidget* parent = nullptr);

  void Load(const TPatrolSettings& s);
  // The settings as the controls give them; nullopt (and a message on the
  // dialog) when the times of day are not valid.
  std::optional<TPatrolSettings> Result();

  QCheckBox* EnabledCheck = nullptr;   // 自動巡回する
  QRadioButton* EveryRadio = nullptr;  // 一定の間隔で
  QSpinBox* EveryMinutes = nullptr;
  QRadioButton* TimesRadio = nullptr;  // 決まった時刻に
  QLineEdit* TimesEdit = nullptr;
  QCheckBox* NotifyCheck = nullptr;    // 新着を通知する
  QLabel* Problem = nullptr;

  void accept() override;

 private:
  void UpdateEnabled();
};

}  // namespace brelo
