#include "ui/Text.h"

#include <QMessageBox>
#include <QPlainTextEdit>
#include <QTextBlock>
#include <QTextLayout>

#include "common/Sjis.h"

namespace brelo {

QString Q(const std::string& sjis) { return SjisToQString(sjis); }

std::optional<std::string> ToSjisOrWarn(QWidget* parent, const QString& text) {
  TSjisResult r = QStringToSjis(text);
  if (r.ok()) return std::move(r.bytes);
  QMessageBox::warning(parent, QStringLiteral("使えない文字"),
                       QStringLiteral("次の文字はシフトJISで表せないため、書き込みや送信に使えません:\n\n%1\n\n"
                                      "別の文字に置き換えてください。")
                           .arg(r.unmappable));
  return std::nullopt;
}

QString ForTextBox(const std::string& sjis) {
  QString t = Q(sjis);
  t.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  return t;
}

std::optional<std::string> FromTextBox(QWidget* parent, const QString& text) {
  QString t = text;
  t.replace(QStringLiteral("\n"), QStringLiteral("\r\n"));
  return ToSjisOrWarn(parent, t);
}

std::vector<std::string> ShownLines(QPlainTextEdit* box) {
  std::vector<std::string> lines;
  for (QTextBlock b = box->document()->begin(); b.isValid(); b = b.next()) {
    const QString text = b.text();
    QTextLayout* layout = b.layout();
    if (layout == nullptr || layout->lineCount() <= 1) {
      lines.push_back(QStringToSjis(text).bytes);
      continue;
    }
    for (int i = 0; i < layout->lineCount(); ++i) {
      const QTextLine l = layout->lineAt(i);
      QString part = text.mid(l.textStart(), l.textLength());
      while (part.endsWith(QLatin1Char(' ')) && i + 1 < layout->lineCount()) part.chop(1);  // the break's blank
      lines.push_back(QStringToSjis(part).bytes);
    }
  }
  return lines;
}

}  // namespace brelo
