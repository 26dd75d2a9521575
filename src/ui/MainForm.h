// The main window: the top bar with the host selector and the session
// buttons, the six pages, the status line and the main menu. It builds
// controls, binds them to the plain classes that hold the rules, and shows
// what they ask it to show.
#pragma once

#include <QMainWindow>
#include <map>
#include <memory>
#include <string>

#include "reader/Settings.h"
#include "compose/Templates.h"
#include "reader/ArticleBrowser.h"
#include "reader/MainModel.h"

class QAction;
class QComboBox;
class QLabel;
class QMenu;
class QPlainTextEdit;
class QTabWidget;
class QTimer;
class QToolButton;

namespace brelo {

class TBrowserPage;
class TDemoHostStarter;
class THostAddDeleteDialog;
class THostPropertyDialog;
class TMakeTextDialog;
class TMessageEditor;
class TModemSettingDailog;
class TOptionsPage;
class TReservationPage;
class TRounds;
class TSearchDialog;
class TTerminalPage;
class TUserListPage;

enum EMainPage { kPageBrowser = 0, kPageTerminal, kPageOptions, kPageBox, kPageNotepad, kPageUsers };

class TMainForm : public QMainWindow, public IMainView {
  Q_OBJECT
 public:
  TMainForm(std::string programFolder, TAppSettings settings, QWidget* parent = nullptr);
  ~TMainForm() override;

  static QString WindowTitleText();
  static QString VersionText();

  TMainModel& Model() { return model_; }
  TArticleBrowser& Browser() { return browser_; }
  TTemplateEngine& Templates() { return templates_; }
  const TAppSettings& Settings() const { return settings_; }
  TAppSettings& MutableSettings() { return settings_; }
  // Writes Brelo_V3.ini; a failure is reported, and the settings stay.
  void SaveSettings() { WriteSettingsReporting(); }
  QTabWidget* Pages() const { return pages_; }
  QPlainTextEdit* Notepad() const { return notepad_; }

  // Top bar.
  QComboBox* HostComboBox = nullptr;
  QToolButton* SpeedButton5 = nullptr;  // ﾌﾟﾛﾊﾟﾃｨ
  QToolButton* SpeedButton6 = nullptr;  // 追加・削除
  QToolButton* SpeedButton1 = nullptr;  // 接続/強制切断
  QLabel* Label4 = nullptr;             // what the selected host's last pass received
  QLabel* Label4Caption = nullptr;
  QLabel* StatusText = nullptr;         // StatusBar1's one field, never wiped by a menu's tip
  // Pages and dialogs.
  TBrowserPage* BrowserPage = nullptr;
  TTerminalPage* TerminalPage = nullptr;
  TOptionsPage* OptionsPage = nullptr;
  TReservationPage* ReservationPage = nullptr;
  TUserListPage* UserListPage = nullptr;
  TModemSettingDailog* ModemSettingDailog = nullptr;
  THostPropertyDialog* HostPropertyDialog = nullptr;
  THostAddDeleteDialog* HostAddDeleteDialog = nullptr;
  TMakeTextDialog* MakeTextDialog = nullptr;

  // Menu commands, named as their handlers know them.
  QAction* Recapture1 = nullptr;
  QAction* Download1 = nullptr;
  QAction* Upload1 = nullptr;
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
  QAction* Connect1 = nullptr;          // 接続/強制切断 from the keyboard
  QAction* Readme1 = nullptr;
  QAction* V1 = nullptr;
  QMenu* ActionMenu = nullptr;
  QMenu* SettingsMenu = nullptr;
  QMenu* JumpMenu = nullptr;
  // The rounds of every host, their schedule and the tray icon.
  TRounds* Rounds = nullptr;

  // The commands of the window.
  void RebuildHostSelector();
  // The host table changed under the selector (the add/delete dialog left
  // without OK): the selector shows the table, with the same host selected
  // when it is still there.
  void HostTableReloaded();
  // The host list file changed since this window last read it (another
  // window, the shell's --add-host and --remove-host): it is read again and
  // the selector shows it, the selected host kept. Not while a host dialog
  // is open, a session or a round runs: then at the next look (the window
  // activated, the session over, a dialog closed).
  void CheckHostList();
  void OpenEditor(int index);
  void ResButtonClick();
  void NewButtonClick();
  void M_MailClick();
  void K5Click();
  void UserListMailClick();   // Button3 of the user list
  void UserListReserveClick();  // Button4
  void Q1Click();
  void E1Click();
  void Readme1Click();
  // The readme in a read-only window of the program (when the desktop has
  // no viewer for it).
  void ShowReadmeWindow();
  // The window's place, the splitters and the selected host, to and from the
  // settings.
  void RestorePlace();
  void RememberPlace();
  // A round keeps the user's place: from its start until the window is back
  // on the user's host, the browser reads its own copy of the host's store,
  // the pages that show the selected host's box and user list stand still,
  // and what would write into the box waits.
  void RoundBegins();
  void RoundEnds();
  // The folder of the host the browser shows ("" when none).
  const std::string& ReadingFolder() const { return readStore_.HostFolder; }
  // The browser's place (page, board, article) to and from the settings.
  void RestoreReadingPlace();
  void RememberReadingPlace();
  // The browser's search, and re-capture from a session log (file menu).
  void SearchClick();
  void RecaptureFile(const std::string& logPath);
  TSearchDialog* SearchDialog = nullptr;
  // The open editor windows (for tests and shut-down).
  std::vector<TMessageEditor*> Editors() const;

  // IMainView
  void SetStatus(const std::string& sjis) override;
  void SetCounter(const std::string& text) override;
  void SetControls(ESessionControls state) override;
  void ShowTerminal(bool focusInput) override;
  void OptionsChanged() override;
  void ShowBoardList() override;
  void ClearBrowser() override;
  void SelectHost(int index) override;
  bool CloseEditors() override;
  void ReportError(const std::string& sjis) override;
  EHostKeyAnswer AskUnknownHostKey(const std::string& hostName, const THostKey& key) override;
  std::optional<std::string> AskKeyPassphrase(const std::string& keyFile, bool again) override;

 protected:
  void showEvent(QShowEvent* e) override;
  void closeEvent(QCloseEvent* e) override;
  void changeEvent(QEvent* e) override;

 private:
  void BuildTopBar(QWidget* holder);
  void BuildMenu();
  void BuildPages();
  // The common flow of the drafting commands.
  void DraftFlow(int kind, bool showDialog, int board, const std::string& title, const std::string& recipients);
  const THostEntry* SelectedHost() const;
  void WriteSettingsReporting();
  bool KeepingPlace() const;
  // True (and the user told) when a round is under way: the selected host's
  // box is not the one being read.
  bool RefusedDuringRound();
  // The options the user set on the page, kept in the settings.
  void OptionsEdited();
  // A pass the user started is over once its work thread has ended and its
  // last words are shown: then the boards show what it left, and the status
  // line names why it failed, as a round names a failed host.
  void PassEnded();
  // Label4: the received count of the host the user reads.
  void ShowCounter();

  std::string programFolder_;
  TAppSettings settings_;
  TMainModel model_;
  // What the browser reads: the store of the host the user reads, apart
  // from the session's, which a round moves from host to host.
  TMessageStore readStore_;
  TArticleBrowser browser_;
  TTemplateEngine templates_;
  QTabWidget* pages_ = nullptr;
  QPlainTextEdit* notepad_ = nullptr;
  bool shown_ = false;
  bool selectorUpdating_ = false;
  std::unique_ptr<TDemoHostStarter> demoHost_;
  QTimer* busyTimer_ = nullptr;  // asks again for a host another process holds
  bool quitAfterPass_ = false;
  QTimer* quitTimer_ = nullptr;
  QTimer* goodbyeTimer_ = nullptr;  // names the host's goodbye question
  QTimer* passTimer_ = nullptr;     // watches a pass the user started until it is over
  std::map<std::string, int> received_;  // each host's last pass in this run, by folder
  // The host list file as last read here (what stat tells of it), and the
  // watch on the program folder that says when to look again.
  std::string hostListSeen_;
  QTimer* hostListTimer_ = nullptr;
  std::string goodbyeShown_;   // the user chose to quit once the pass has ended
};

}  // namespace brelo
