// "ヘッダ・フッダの編集": the header and footer templates of new posts and
// responses, with a live preview. Also the composer of every draft.
#pragma once

#include <QDialog>

#include "compose/Templates.h"

class QComboBox;
class QPlainTextEdit;

namespace brelo {

class TMakeTextDialog : public QDialog {
  Q_OBJECT
 public:
  TMakeTextDialog(TTemplateEngine& engine, QWidget* parent = nullptr);

  // PrepareTemplates(kind) and shows the result in the boxes.
  void PrepareTemplates(int kind);
  // The preview's content: the draft as the user left it (Shift-JIS, CR LF);
  // nothing when it holds characters Shift-JIS cannot hold.
  std::optional<std::string> Preview();

  QPlainTextEdit* Memo1 = nullptr;  // header
  QPlainTextEdit* Memo2 = nullptr;  // footer
  QPlainTextEdit* Memo3 = nullptr;  // preview
  QPlainTextEdit* Memo4 = nullptr;  // macro legend
  QComboBox* ComboBox1 = nullptr;

 private:
  void ShowTemplates();
  void TemplatesEdited();
  bool Store();
  TTemplateEngine& engine_;
  bool updating_ = false;
};

}  // namespace brelo
