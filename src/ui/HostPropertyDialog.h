// "ホストプロパティ": address, credentials and family of one host entry.
#pragma once

#include <QDialog>
#include <string>

#include <functional>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QSpinBox;
class QPushButton;

namespace brelo {

class THostTable;

class THostPropertyDialog : public QDialog {
  Q_OBJECT
 public:
  THostPropertyDialog(THostTable& hosts, std::string programFolder, QWidget* parent = nullptr);

  int HostIndex = -1;  // set by the opener before showing
  static QString AddressHelp();

  QLineEdit* Address = nullptr;
  QLineEdit* UserID = nullptr;
  QLineEdit* Password = nullptr;
  QLineEdit* HandleName = nullptr;
  QComboBox* HostKind = nullptr;
  QComboBox* TerminalType = nullptr;  // answered when a telnet host asks; typed or picked
  QCheckBox* RemoveEscapes = nullptr;
  QComboBox* Encoding = nullptr;
  QComboBox* Line = nullptr;
  QLineEdit* UploadCommand = nullptr;
  QCheckBox* TerminalOnly = nullptr;  // "自動ログインしない"
  // The terminal page's profile of the host.
  QComboBox* Backspace = nullptr;     // in EBackspaceKey order
  QSpinBox* FontSize = nullptr;       // 0: the options' size
  QCheckBox* KeyModeAtStart = nullptr;
  QLineEdit* SshKey = nullptr;        // an SSH host's own key file
  QPushButton* OKBtn = nullptr;
  QLabel* InUseNote = nullptr;  // shown while the host is connected
  // Whether the host of an index is connected now: its entry is not changed
  // under a session that was started with it.
  std::function<bool(int index)> Connected;
  // After OK wrote the list: the table is the list as written, which may
  // hold what others changed meanwhile (or, when another writer changed
  // this very entry first, the list as it is, nothing written).
  std::function<void()> OnHostsChanged;

 protected:
  void showEvent(QShowEvent* e) override;
  bool eventFilter(QObject* o, QEvent* e) override;

 private:
  void OKBtnClick();
  THostTable& hosts_;
  std::string programFolder_;
};

}  // namespace brelo
