#include "ui/ExternalEdits.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QProcess>
#include <QSocketNotifier>
#include <QStandardPaths>
#include <QTimer>
#include <QUrl>

#include "common/FileUtil.h"
#include "common/Sjis.h"
#include "ui/Text.h"

namespace brelo {

TExternalEdits& TExternalEdits::Instance() {
  static TExternalEdits* instance = [] {
    auto* e = new TExternalEdits;
    e->setParent(QCoreApplication::instance());
    return e;
  }();
  return *instance;
}

TExternalEdits::TExternalEdits() {
  connect(&watcher_, &QFileSystemWatcher::fileChanged, this, [this] { Check(); });
  // Editors often save by writing a new file and renaming it over the old.
  connect(&watcher_, &QFileSystemWatcher::directoryChanged, this, [this] { Check(); });
}

QString TExternalEdits::CopyOf(const std::string& bodyPath) {
  const QString dir = QDir::tempPath() + QStringLiteral("/brelo-edit-%1").arg(::getuid());
  const QByteArray tag =
      QCryptographicHash::hash(QByteArray::fromStdString(bodyPath), QCryptographicHash::Sha1).toHex().left(12);
  return dir + QLatin1Char('/') + QString::fromLatin1(tag) + QLatin1Char('-') + QFileInfo(QString::fromStdString(bodyPath)).fileName();
}

bool TExternalEdits::Open(const std::string& program, const std::string& bodyPath) {
  if (program != "NotePad") {
    if (QProcess::startDetached(QString::fromStdString(program), {QString::fromStdString(bodyPath)})) return true;
    QMessageBox::warning(nullptr, QStringLiteral("外部エディタ"),
                         QStringLiteral("外部エディタ %1 を起動できませんでした。").arg(QString::fromStdString(program)));
    return false;
  }
  // The copy, in UTF-8 with the line ends of this system.
  const QString copy = CopyOf(bodyPath);
  QDir().mkpath(QFileInfo(copy).path());
  QFile::setPermissions(QFileInfo(copy).path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
  std::string body;
  try {
    body = ReadWholeFile(bodyPath).value_or(std::string());
  } catch (const EInOutError& e) {
    QMessageBox::critical(nullptr, QStringLiteral("エラー"), Q(e.what()));
    return false;
  }
  QByteArray text = QByteArray::fromStdString(SjisToUtf8(body));
  text.replace("\r\n", "\n");
  {
    QFile f(copy);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(text) != text.size()) {
      QMessageBox::critical(nullptr, QStringLiteral("エラー"), QStringLiteral("%1 に書き込めません").arg(copy));
      return false;
    }
  }
  bodies_[copy] = bodyPath;
  seen_[copy] = text;
  watcher_.addPath(copy);
  watcher_.addPath(QFileInfo(copy).path());

  QString editor = qEnvironmentVariable("VISUAL");
  if (editor.isEmpty()) editor = qEnvironmentVariable("EDITOR");
  const QString terminal = QStandardPaths::findExecutable(QStringLiteral("x-terminal-emulator"));
  if (!editor.isEmpty() && !terminal.isEmpty()) {
    QStringList args{QStringLiteral("-e")};
    args << QProcess::splitCommand(editor) << copy;
    qint64 pid = 0;
    if (QProcess::startDetached(terminal, args, QString(), &pid)) {
      CheckWhenEnded(pid);
      return true;
    }
  }
  if (QDesktopServices::openUrl(QUrl::fromLocalFile(copy))) return true;
  QMessageBox::warning(nullptr, QStringLiteral("外部エディタ"),
                       QStringLiteral("テキストエディタを起動できませんでした。環境変数 VISUAL か EDITOR に"
                                      "エディタを設定するか、設定→外部エディタ でエディタを選んでください。"));
  return false;
}

void TExternalEdits::CheckWhenEnded(qint64 pid) {
  // An editor that has ended has saved: its copy is read back then, however
  // late the watcher reports the change, or when it reports none at all.
  const int fd = static_cast<int>(::syscall(SYS_pidfd_open, static_cast<pid_t>(pid), 0));
  if (fd < 0) {  // ended already
    QTimer::singleShot(0, this, [this] { Check(); });
    return;
  }
  auto* ended = new QSocketNotifier(fd, QSocketNotifier::Read, this);
  connect(ended, &QSocketNotifier::activated, this, [this, ended, fd] {
    ended->setEnabled(false);
    ended->deleteLater();
    ::close(fd);
    Check();
  });
}

void TExternalEdits::Check() {
  for (const auto& [copy, bodyPath] : bodies_) {
    QFile f(copy);
    if (!f.open(QIODevice::ReadOnly)) continue;  // being replaced: the next change brings it
    const QByteArray now = f.readAll();
    if (!watcher_.files().contains(copy)) watcher_.addPath(copy);
    if (now == seen_[copy]) continue;
    seen_[copy] = now;
    const std::string utf8 = now.toStdString();
    if (!IsValidUtf8(utf8)) {
      QMessageBox::warning(nullptr, QStringLiteral("外部エディタ"),
                           QStringLiteral("%1 が UTF-8 で保存されていないため、本文に取り込みません。").arg(copy));
      continue;
    }
    TSjisResult sjis = Utf8ToSjisChecked(utf8);
    if (!sjis.ok()) {
      // As the built-in editor does: nothing is changed until they are gone.
      QMessageBox::warning(nullptr, QStringLiteral("使えない文字"),
                           QStringLiteral("次の文字はシフトJISで表せないため、本文に取り込めません:\n\n%1\n\n"
                                          "別の文字に置き換えて保存してください。")
                               .arg(sjis.unmappable));
      continue;
    }
    try {
      WriteFileAtomic(bodyPath, WithFinalLineBreak(JoinLinesCRLF(SplitLines(sjis.bytes))));
    } catch (const EInOutError& e) {
      QMessageBox::critical(nullptr, QStringLiteral("エラー"), Q(e.what()));
      continue;
    }
    if (OnBodyChanged) OnBodyChanged(bodyPath);
  }
}

}  // namespace brelo
