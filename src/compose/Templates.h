// Header and footer templates: one pair for new posts (kind 0) and one for
// responses (kind 1), in H0/F0/H1/F1.TXT in the program folder, with
// %-macros for the parties, the date and the source article. The template
// dialog edits them; every draft is composed here.
#pragma once

#include <functional>
#include <string>

#include "common/DateTime.h"

namespace brelo {

struct TTemplateContext {
  std::string MyID;        // %I
  std::string YourID;      // %i
  std::string MyHandle;    // %H
  std::string YourHandle;  // %h
  std::string BoardLabel;  // %B
  std::string Subject;     // %S
  std::string OrgNo;       // %X
  std::string BodyText;    // between header and footer, not expanded
};

class TTemplateEngine {
 public:
  explicit TTemplateEngine(std::string programFolder);

  int TemplateKind = 0;     // 0 new post, 1 response
  TTemplateContext Context;
  std::string Header;       // Memo1: the header template, Shift-JIS, CR LF
  std::string Footer;       // Memo2
  std::string Composed;     // the last composed text
  // The clock and the user's date and time formats (Shift-JIS results).
  std::function<TCivilTime()> Clock = [] { return NowCivil(); };
  std::function<std::string(const TCivilTime&)> DateText;
  std::function<std::string(const TCivilTime&)> TimeText;

  // Loads the kind's files (the defaults on any failure) and composes.
  void PrepareTemplates(int kind);
  // Composed := expanded header + BodyText + expanded footer.
  void ComposeDraft();
  // Stores Header and Footer into the files of TemplateKind, each line
  // followed by CR LF. Raises EInOutError.
  void StoreTemplates() const;
  // The kind changes: the shown templates are stored, the new kind loaded.
  void ComboBox1Change(int newKind);
  // OK: store and reload the shown kind.
  void OKBtnClick();
  // The sample context of the dialog's first preview.
  void SetSampleContext();
  std::string ExpandMacros(const std::string& text) const;

  static std::string DefaultHeader(int kind);
  static std::string DefaultFooter(int kind);
  std::string HeaderFile(int kind) const;
  std::string FooterFile(int kind) const;

 private:
  std::string programFolder_;
};

}  // namespace brelo
