// The session control of the main window as a plain class: host selection,
// the connect / force-disconnect button, every handler of the session
// component's events, the options of the terminal-options page, and the
// automation policy that decides what to do at each main prompt. The main
// window and the pilot mode both drive it; the window only binds controls.
#pragma once

#include <memory>
#include <string>

#include "hosts/HostTable.h"
#include "session/VeskoClient.h"
#include "store/MessageStore.h"
#include "store/ReservationBox.h"
#include "ui/UserList.h"

namespace brelo {

// The options page "ﾀｰﾐﾅﾙ･ｵﾌﾟｼｮﾝ". Nothing here is stored: every start shows
// these defaults.
struct TSessionOptions {
  bool SealthLogin = true;
  bool ClearNews = true;
  bool CheckBox7 = true;           // receive mail during the login
  bool GetUserList = false;
  bool ExecuteWriteYoyaku = true;
  bool GetMidoku = true;
  bool SetMidokuDate = false;
  std::string MidokuDate = "98/01/01";
  bool GoodbyeWhenExecute = true;
  bool PassgoodbyeMessage = false;
};

// What the policy sends at a main prompt. The session component does it; a
// test records it.
class ISessionCommands {
 public:
  virtual ~ISessionCommands() = default;
  virtual void SendLine(const std::string& s) = 0;
  virtual void SendText(const std::string& s) = 0;
  virtual void WriteMessage(const std::string& board, const std::string& title, const std::string& body, int tag) = 0;
  virtual void WriteMail(const std::string& to, const std::string& title, const std::string& body, int tag) = 0;
};

enum class ESessionControls { kNoHost, kHostSelected, kSession };

// What the policy asks of the window it runs in (or of the pilot's console).
class IMainView {
 public:
  virtual ~IMainView() = default;
  virtual void SetStatus(const std::string& sjis) = 0;
  virtual void SetCounter(const std::string& text) = 0;   // Label4
  virtual void SetControls(ESessionControls state) = 0;
  virtual void ShowTerminal(bool focusInput) = 0;
  virtual void OptionsChanged() = 0;
  virtual void ShowBoardList() = 0;   // the browser reloads the boards
  virtual void ClearBrowser() = 0;    // board list, article list and text emptied
  virtual void SelectHost(int index) = 0;
  // Asks every open message editor to close; true when none stays open.
  virtual bool CloseEditors() = 0;
  virtual void ReportError(const std::string& sjis) = 0;
};

class TSessionPolicy {
 public:
  TSessionPolicy(TVeskoClient& client, THostTable& hosts, TMessageStore& store, TReservationBox& box,
                 TUserList& users, IMainView& view, std::string programFolder);

  TSessionOptions Options;

  int CurrentHost() const { return currentHost_; }
  const std::string& HostFolder() const { return store_.HostFolder; }
  int ReceivedCount() const { return received_; }
  int WriteCursor() const { return writeCursor_; }
  bool LogoutSent() const { return logoutSent_; }
  bool LoggedOut() const { return loggedOut_; }

  // HostComboBoxChange with the selector's index (-1: none).
  void HostComboBoxChange(int index);
  // Rebuilds nothing itself: the window refills the selector, then calls this.
  void HostSelectorRebuilt() { HostComboBoxChange(-1); }
  // SpeedButton1Click: down = connect, up = force disconnect.
  void SpeedButton1Click(bool down);

  // The handlers of VeskoClient1's events (assigned by the constructor).
  void VeskoClient1Connect();
  void VeskoClient1DisConnect();
  void VeskoClient1StatusOut(const std::string& status);
  void VeskoClient1GetMessageBoard(int boardNo, const std::string& name, const std::string& title);
  void VeskoClient1ReceiveMessage(TVeskoMessage& mes);
  void VeskoClient1ReceiveMail(TVeskoMessage& mes);
  void VeskoClient1GetMainPrompt();
  void VeskoClient1ExecuteWriteMessage(int tag);
  void VeskoClient1Logout();
  void VeskoClient1ReceiveUsers(const std::string& users);

  // Where the prompt's commands go (the session component unless replaced).
  void SetCommands(ISessionCommands* commands) { commands_ = commands ? commands : &clientCommands_; }

  // The data folder of a host entry: the program folder + FilePath + "/".
  std::string FolderOf(int index) const;

 private:
  void Counter();
  void Store(TVeskoMessage& mes);

  struct TClientCommands : ISessionCommands {
    TVeskoClient& c;
    explicit TClientCommands(TVeskoClient& client) : c(client) {}
    void SendLine(const std::string& s) override { c.SendLine(s); }
    void SendText(const std::string& s) override { c.SendText(s); }
    void WriteMessage(const std::string& b, const std::string& t, const std::string& body, int tag) override {
      c.WriteMessage(b, t, body, tag);
    }
    void WriteMail(const std::string& to, const std::string& t, const std::string& body, int tag) override {
      c.WriteMail(to, t, body, tag);
    }
  };

  TVeskoClient& client_;
  TClientCommands clientCommands_{client_};
  ISessionCommands* commands_ = &clientCommands_;
  THostTable& hosts_;
  TMessageStore& store_;
  TReservationBox& box_;
  TUserList& users_;
  IMainView& view_;
  std::string programFolder_;
  int currentHost_ = -1;
  int received_ = 0;
  bool captured_ = false;
  int writeCursor_ = 0;
  bool logoutSent_ = false;
  bool loggedOut_ = false;
  std::shared_ptr<char> alive_ = std::make_shared<char>(0);  // posted handlers check it
};

}  // namespace brelo
