// The external editor of a reservation's body ("外部エディタ").
//
// The stored default "NotePad" opens $VISUAL or $EDITOR inside the desktop's
// terminal emulator (x-terminal-emulator -e: the program has no terminal of
// its own), else the desktop's text editor, on a UTF-8 copy of the body.
// When the copy changes it is read back, converted to Shift-JIS and checked
// as the built-in editor checks, so that no editor can leave the body in the
// wrong encoding; it is also read back when the editor's process ends. Any
// other value runs that program on the body file itself, as it stands. The
// program does not wait for the editor.
#pragma once

#include <QFileSystemWatcher>
#include <QObject>
#include <functional>
#include <map>
#include <string>

namespace brelo {

class TExternalEdits : public QObject {
  Q_OBJECT
 public:
  // One for the program, living with the application object.
  static TExternalEdits& Instance();

  // Starts the editor `program` on the body file; false (the user told why)
  // when nothing could be started.
  bool Open(const std::string& program, const std::string& bodyPath);
  // A body file took what an editor saved (main thread).
  std::function<void(const std::string& bodyPath)> OnBodyChanged;
  // Where the copy of a body is kept while an editor has it.
  static QString CopyOf(const std::string& bodyPath);

 private:
  TExternalEdits();
  void Check();  // reads back every copy that changed
  void CheckWhenEnded(qint64 pid);  // Check() once the editor's process ends
  QFileSystemWatcher watcher_;
  std::map<QString, std::string> bodies_;  // copy -> body file
  std::map<QString, QByteArray> seen_;     // copy -> what it held last
};

}  // namespace brelo
