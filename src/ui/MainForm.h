// The main window: the top bar, the six pages, the status line and the main
// menu. The window only builds controls and forwards to the plain classes
// that hold the rules.
#pragma once

#include <QMainWindow>
#include <string>

#include "app/Settings.h"

class QAction;
class QMenu;
class QPlainTextEdit;
class QStatusBar;
class QTabWidget;

namespace brelo {

enum EMainPage { kPageBrowser = 0, kPageTerminal, kPageOptions, kPageBox, kPageNotepad, kPageUsers };

class TMainForm : public QMainWindow {
  Q_OBJECT
 public:
  TMainForm(std::string programFolder, TAppSettings settings, QWidget* parent = nullptr);
  ~TMainForm() override;

  QTabWidget* Pages() const { return pages_; }
  QPlainTextEdit* Notepad() const { return notepad_; }
  const TAppSettings& Settings() const { return settings_; }
  static QString WindowTitleText();
  static QString VersionText();

  // Menu commands, named as their handlers know them.
  QAction* Exit1 = nullptr;
  QAction* Undo1 = nullptr;
  QAction* Cut1 = nullptr;
  QAction* Copy1 = nullptr;
  QAction* Paste1 = nullptr;
  QAction* Delete1 = nullptr;
  QAction* SelectAll1 = nullptr;
  QAction* H1 = nullptr;
  QAction* M1 = nullptr;
  QAction* Q1 = nullptr;
  QAction* E1 = nullptr;
  QAction* K1 = nullptr;
  QAction* K2 = nullptr;
  QAction* K3 = nullptr;
  QAction* K4 = nullptr;
  QAction* M_Res = nullptr;
  QAction* M_New = nullptr;
  QAction* M_Mail = nullptr;
  QAction* Readme1 = nullptr;
  QAction* V1 = nullptr;
  QMenu* ActionMenu = nullptr;

 protected:
  void showEvent(QShowEvent* e) override;
  void closeEvent(QCloseEvent* e) override;

 private:
  void BuildMenu();
  void BuildPages();
  void V1Click();
  void WriteSettingsReporting();

  std::string programFolder_;
  TAppSettings settings_;
  QTabWidget* pages_ = nullptr;
  QPlainTextEdit* notepad_ = nullptr;
};

}  // namespace brelo
