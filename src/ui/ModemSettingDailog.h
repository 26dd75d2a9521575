// "モデム設定": port, speed, dial and initialisation commands, and the device
// path, kept in Modem.Ini and applied to the session component.
#pragma once

#include <QDialog>

class QComboBox;
class QLineEdit;

namespace brelo {

class TVeskoClient;

class TModemSettingDailog : public QDialog {
  Q_OBJECT
 public:
  // Creation loads Modem.Ini into the session component.
  TModemSettingDailog(TVeskoClient& client, std::string programFolder, QWidget* parent = nullptr);

  QComboBox* ComboBox1 = nullptr;  // port
  QComboBox* ComboBox2 = nullptr;  // speed
  QComboBox* ComboBox3 = nullptr;  // dial command
  QLineEdit* Edit1 = nullptr;      // initialisation command
  QLineEdit* Device = nullptr;     // device path

  void OKBtnClick();

 protected:
  void showEvent(QShowEvent* e) override;

 private:
  void LoadIntoClient();
  TVeskoClient& client_;
  std::string programFolder_;
};

}  // namespace brelo
