// Text between the engine (Shift-JIS bytes) and the windows (QString).
#pragma once

#include <QString>
#include <optional>
#include <string>
#include <vector>

class QWidget;
class QPlainTextEdit;

namespace brelo {

QString Q(const std::string& sjis);

// The user's text as Shift-JIS; when CP932 cannot hold some of its
// characters, tells the user which and returns nothing: nothing is stored or
// sent mangled.
std::optional<std::string> ToSjisOrWarn(QWidget* parent, const QString& text);

// Text with CR LF line ends for a text box (which wants LF) and back.
QString ForTextBox(const std::string& sjis);
std::optional<std::string> FromTextBox(QWidget* parent, const QString& text);  // lines end in CR LF

// The lines of a text box as it shows them: each long line broken where the
// box wraps it. Shift-JIS.
std::vector<std::string> ShownLines(QPlainTextEdit* box);

}  // namespace brelo
