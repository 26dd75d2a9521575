// "ホストの追加と削除": the host list, adding and deleting hosts, their
// titles and data folders.
#pragma once

#include <QDialog>
#include <functional>
#include <string>

class QLineEdit;
class QListWidget;
class QPushButton;

namespace brelo {

class THostTable;
class THostPropertyDialog;

class THostAddDeleteDialog : public QDialog {
  Q_OBJECT
 public:
  THostAddDeleteDialog(THostTable& hosts, std::string programFolder, THostPropertyDialog& properties,
                       QWidget* parent = nullptr);

  QListWidget* ListBox1 = nullptr;
  QLineEdit* Title = nullptr;
  QLineEdit* FilePath = nullptr;
  QPushButton* Button1 = nullptr;  // 削除
  QPushButton* Button2 = nullptr;  // 追加
  QPushButton* Button3 = nullptr;  // ﾌﾟﾛﾊﾟﾃｨ
  // Called after OK: the main window rebuilds its host selector.
  std::function<void()> OnHostsSaved;

  void Button2Click();
  void Button1Click();
  // ｷｬﾝｾﾙ, Escape and the window's close button alike: the saved list is
  // loaded again, so that nothing unsaved stays in the table.
  void reject() override;

 protected:
  void showEvent(QShowEvent* e) override;

 private:
  void Rebuild();
  // Rebuilds the list and selects the host of that folder, when it is there.
  void Reselect(const std::string& folder);
  void ListBox1Click();
  void Load();
  THostTable& hosts_;
  std::string programFolder_;
  THostPropertyDialog& properties_;
};

}  // namespace brelo
