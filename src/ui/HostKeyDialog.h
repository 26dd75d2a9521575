// "ホストの鍵の確認": an SSH host's key that no known_hosts file knows, shown
// by its type and SHA-256 fingerprint; the user connects and remembers it,
// connects this once, or stops.
#pragma once

#include <QDialog>
#include <string>

#include "transport/KnownHosts.h"
#include "transport/SshLine.h"

class QLabel;
class QPushButton;

namespace brelo {

class THostKeyDialog : public QDialog {
  Q_OBJECT
 public:
  // title: the host's title in the host list (Shift-JIS); hostName as
  // known_hosts names the host.
  THostKeyDialog(const std::string& title, const std::string& hostName, const THostKey& key,
                 QWidget* parent = nullptr);

  EHostKeyAnswer Answer() const { return answer_; }

  QLabel* Fingerprint = nullptr;
  QPushButton* RememberBtn = nullptr;  // "接続して記憶する"
  QPushButton* OnceBtn = nullptr;      // "今回だけ接続"
  QPushButton* StopBtn = nullptr;      // "中止"

 private:
  EHostKeyAnswer answer_ = EHostKeyAnswer::kRefuse;
};

}  // namespace brelo
