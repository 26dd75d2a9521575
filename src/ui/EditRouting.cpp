#include "ui/EditRouting.h"

#include <QAbstractSpinBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTextEdit>

namespace brelo {
namespace {

template <typename Edit>
bool ApplyToTextBox(Edit* e, EEditRequest r) {
  const bool ro = e->isReadOnly();
  switch (r) {
    case EEditRequest::Copy: e->copy(); return true;
    case EEditRequest::SelectAll: e->selectAll(); return true;
    default: break;
  }
  if (ro) return false;
  switch (r) {
    case EEditRequest::Undo: e->undo(); return true;
    case EEditRequest::Cut: e->cut(); return true;
    case EEditRequest::Paste: e->paste(); return true;
    case EEditRequest::Delete: {
      QTextCursor c = e->textCursor();
      c.removeSelectedText();
      e->setTextCursor(c);
      return true;
    }
    default: return false;
  }
}

bool ApplyToLine(QLineEdit* e, EEditRequest r) {
  const bool ro = e->isReadOnly();
  switch (r) {
    case EEditRequest::Copy: e->copy(); return true;
    case EEditRequest::SelectAll: e->selectAll(); return true;
    default: break;
  }
  if (ro) return false;
  switch (r) {
    case EEditRequest::Undo: e->undo(); return true;
    case EEditRequest::Cut: e->cut(); return true;
    case EEditRequest::Paste: e->paste(); return true;
    case EEditRequest::Delete:
      if (e->hasSelectedText()) e->del();
      return true;
    default: return false;
  }
}

}  // namespace

bool RouteEditRequest(QWidget* focused, EEditRequest request) {
  if (focused == nullptr) return false;
  if (auto* e = qobject_cast<QPlainTextEdit*>(focused)) return ApplyToTextBox(e, request);
  if (auto* e = qobject_cast<QTextEdit*>(focused)) return ApplyToTextBox(e, request);
  if (auto* e = qobject_cast<QLineEdit*>(focused)) return ApplyToLine(e, request);
  // An editable combo box keeps its text in a line edit of its own.
  if (auto* c = qobject_cast<QComboBox*>(focused); c != nullptr && c->lineEdit() != nullptr) {
    return ApplyToLine(c->lineEdit(), request);
  }
  return false;
}

}  // namespace brelo
