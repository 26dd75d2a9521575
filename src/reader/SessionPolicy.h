// The session control of the main window as a plain class: host selection,
// the connect / force-disconnect button, every handler of the session
// component's events, the options of the terminal-options page, and the
// automation policy that decides what to do at each main prompt. The main
// window and the pilot mode both drive it; the window only binds controls.
//
// What the host sent and what the user wrote is never lost to it: a pass
// does not start where its store cannot be written; the first failed store
// write stops fetching; an article the store already holds is not stored
// twice; an entry is marked in the box as being sent before its write
// begins, so that no crash posts it twice; and an entry is only sent when it
// is whole (not open in an editor, its body there and readable, Shift-JIS).
#pragma once

#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "hosts/HostTable.h"
#include "session/VeskoClient.h"
#include "store/DuplicateIndex.h"
#include "store/HostLock.h"
#include "store/MessageStore.h"
#include "store/ReservationBox.h"
#include "reader/UserList.h"

namespace brelo {

// The options page "ﾀｰﾐﾅﾙ･ｵﾌﾟｼｮﾝ", with the defaults of a first start; what
// the user sets is kept in the settings file (TAppSettings).
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

  bool operator==(const TSessionOptions&) const = default;
};

// What one pass did, for its summary and the pilot's exit status.
struct TPassSummary {
  int stored = 0;       // messages and mail appended to the store
  int duplicates = 0;   // shown again by the host, already stored whole
  int lost = 0;         // captured, but a store write failed
  int completed = 0;    // whole copies that completed a stored copy a lost line had cut off
  int beyondRange = 0;  // not stored: the host's number is beyond what a record holds
  // The reservations due in this pass (held ones are not due).
  int sent = 0;         // confirmed by the host and taken out of the box
  int refused = 0;      // turned down by the host: nothing was posted
  int failed = 0;       // the host reported a failure
  int skipped = 0;      // not sent: open in an editor, body missing or not whole, box not savable
  int interrupted = 0;  // the pass ended before the result came: held as "送信中に中断"
  int unrecorded = 0;   // posted, but the box could not be saved afterwards
  bool started = false;     // the pass passed its checks and called
  bool loggedIn = false;
  bool logoutSent = false;
  bool loggedOut = false;   // the work thread ended after a login
  // The host turned the ID or the password down (its words, Shift-JIS);
  // the login watch found no login prompt it knows within its bound.
  bool loginRefused = false;
  std::string loginWords;
  bool loginNotRecognised = false;
  // An SSH host did not let the pass in (loginWords says more): the server
  // refused every way of logging in (the methods it offers), its key is
  // unknown and was not accepted (the key), its key differs from the one
  // recorded or was revoked (both keys).
  bool sshRefused = false;
  bool hostKeyUnknown = false;
  bool hostKeyChanged = false;
  // The host did not end the line after the logout: the pass hung up.
  bool hungUp = false;
  // The user ended the session with 強制切断 before it was over.
  bool cutByUser = false;
  std::string problem;      // why the pass did not start, or the first failed store write (Shift-JIS)
  bool storeFailed = false;
  int storedMail = 0;       // of `stored`, the private mail
  // File transfers of the pass: the names stored whole in the host's DOWN/
  // folder, and those that did not arrive whole (a cut one as ".part", a
  // name refused); the files the host took, and those it did not take or
  // that wait in UP/ for a later pass; the transfers that failed.
  std::vector<std::string> downloaded, notDownloaded, uploaded, notUploaded;
  int transfersFailed = 0;

  // The box as the pass leaves it, for the user to act on (Shift-JIS): why
  // each skipped entry was not sent; the titles of the entries held as
  // "送信中に中断" (posted or not, nobody knows); what is wrong with
  // Write.Dat; whether it could not be read, or holds entries due beyond
  // what loads, which no pass sends.
  std::vector<std::string> notSent, heldInterrupted;
  // The entries the host confirmed whose removal the box could not save
  // (body file names; the titles for the user): posted, whatever the box
  // on the disk still says of them.
  std::vector<std::string> unrecordedFiles, sentUnrecorded;
  std::string boxProblem;
  bool boxUnreadable = false;
  int dueBeyond = 0;

  bool WritesAllDone() const {
    return failed == 0 && skipped == 0 && interrupted == 0 && unrecorded == 0 && heldInterrupted.empty() &&
           !boxUnreadable && dueBeyond == 0;
  }
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
  // Ends the session at once (what arrived is still captured).
  virtual void Disconnect() = 0;
};

// kHostBusy: the selected host's folder is another process's (a pilot's
// round): nothing of it is shown or written until that process lets go.
enum class ESessionControls { kNoHost, kHostSelected, kHostBusy, kSession };

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
  // An SSH host's key that no known_hosts file knows: whether to connect,
  // and to remember it. Without someone to ask, it is refused.
  virtual EHostKeyAnswer AskUnknownHostKey(const std::string& /*hostName*/, const THostKey& /*key*/) {
    return EHostKeyAnswer::kRefuse;
  }
  // A key file's passphrase (again: the last one was wrong); nothing passes
  // the key over.
  virtual std::optional<std::string> AskKeyPassphrase(const std::string& /*keyFile*/, bool /*again*/) {
    return std::nullopt;
  }
};

class TSessionPolicy {
 public:
  TSessionPolicy(TVeskoClient& client, THostTable& hosts, TMessageStore& store, TReservationBox& box,
                 TUserList& users, IMainView& view, std::string programFolder);

  TSessionOptions Options;
  // What the user set on the page: a session puts back these values of the
  // options it uses up (the user-list fetch, the unread fetch, the writes,
  // the logout, clearing the new marks); the unread date is for one session
  // only and always goes back off.
  TSessionOptions UserOptions;
  void UserChanged(bool TSessionOptions::*field) { UserOptions.*field = Options.*field; }
  void UserChangedDate() { UserOptions.MidokuDate = Options.MidokuDate; }

  int CurrentHost() const { return currentHost_; }
  const std::string& HostFolder() const { return store_.HostFolder; }
  int ReceivedCount() const { return received_; }
  bool LogoutSent() const { return summary_.logoutSent; }
  bool LoggedOut() const { return summary_.loggedOut; }
  const TPassSummary& Summary() const { return summary_; }

  // HostComboBoxChange with the selector's index (-1: none). Refused while a
  // session runs: what it still captures belongs to the selected host. The
  // selected host's folder is locked for this process; when another holds
  // it (waiting up to LockWaitMs), the host is selected but busy.
  void HostComboBoxChange(int index);
  int LockWaitMs = 0;
  bool HostBusy() const { return busy_; }
  // Why the selected host is busy (Shift-JIS), naming the other process.
  const std::string& BusyText() const { return lock_.Problem(); }
  int BusyHolder() const { return lock_.Holder(); }
  // Tries the busy host's lock again; true when the host became free and
  // its lists are shown now.
  bool RetryHostLock();
  // Rebuilds nothing itself: the window refills the selector, then calls this.
  void HostSelectorRebuilt() { HostComboBoxChange(-1); }
  // The host table was reloaded or edited without a rebuild of the selector
  // (a cancelled add/delete dialog after a saved property): the selected
  // host is found again by its data folder, so that the selector, the entry
  // and the folder keep describing the same host. Returns the index now
  // selected (-1 when the host is gone).
  int HostTableChanged();
  // SpeedButton1Click: down = connect, up = force disconnect. A host folder
  // that cannot take the pass refuses the connection and says why.
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
  void VeskoClient1WriteFailed(int tag, bool refused);
  void VeskoClient1Login();
  void VeskoClient1LoginFailed(ELoginEnd why, const std::string& hostWords);
  void VeskoClient1Logout();
  // A list the line cut off (cut) does not replace the whole one.
  void VeskoClient1ReceiveUsers(const std::string& users, bool cut);

  // The logout was sent and its questions are the user's to answer
  // (PassgoodbyeMessage off): the host waits for the terminal.
  bool AwaitingGoodbyeAnswer() const { return goodbyeToUser_ && client_.SessionRunning(); }
  // The status line while it waits, naming the host's question when it is
  // known (the line the host left open, Shift-JIS).
  static std::string GoodbyeWaitStatus(const std::string& question);

  // A round's pass (the pilot's, the window's rounds): nobody is at the
  // terminal, so a pass that cannot go on by itself hangs up instead of
  // waiting for someone.
  bool Unattended = false;
  // The host did not end the line after the logout: the pass hangs up and
  // its summary says so.
  void HangUpAfterLogout();

  // Counting starts afresh (a pass, or a re-capture of a session log).
  void BeginCount();
  // Makes what was stored durable; a failure counts as a failed store write
  // of the pass. False after a failure.
  bool SyncStoreNow() { return SyncStore(EWhere::kPassOver); }

  // Where the prompt's commands go (the session component unless replaced).
  void SetCommands(ISessionCommands* commands) { commands_ = commands ? commands : &clientCommands_; }

  // The data folder of a host entry: the program folder + FilePath + "/".
  std::string FolderOf(int index) const;
  // Why that folder is refused (Shift-JIS; empty when it is below the
  // program folder): such a host is never selected nor called.
  std::string FolderProblem(int index) const;

 private:
  void Counter();
  // Where the session is when a store write fails, which decides how
  // fetching stops: capturing (it hangs up at once), at the main prompt (it
  // logs out), before the prompt, in a write dialogue or the login's mail
  // (the logout waits for the prompt), or over.
  enum class EWhere { kCapturing, kAtPrompt, kBeforePrompt, kPassOver };
  // True when the store holds mes (stored now, or already), false when a
  // write failed (fetching stops as `where` says) or it is not stored.
  bool Store(TVeskoMessage& mes, EWhere where = EWhere::kCapturing);
  // A store write failed: fetching stops (the host marks as read what it
  // sends), the status line names the file and the reason.
  void StoreFailed(const std::string& sjis, EWhere where);
  // Makes the captured messages durable; false after a failure.
  bool SyncStore(EWhere where);
  // Hands the next due entry to the session; false when none is left.
  bool SendNextReservation();
  // Why entry i cannot go out now ("" when it can); fills body.
  std::string Unsendable(int i, std::string& body);
  // The entry in flight has its result: the box follows.
  void WriteSettled(bool sent, bool refused);
  void EndOfPass();
  // Shows and loads the selected host's boards, box and user list.
  void LoadHost();
  // Nothing of a host is shown or held: the state of no host, or of a busy one.
  void ForgetHost();

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
    void Disconnect() override { c.Disconnect(); }
  };

  // The write the session is carrying out: its entry is known by its body
  // file, whatever happens to the box's order meanwhile.
  struct TInFlight {
    int tag = 0;
    std::string fileName;
    std::string title;
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
  std::string selectedFolder_;   // the selected host's folder, busy or not
  THostLock lock_;
  bool busy_ = false;
  int received_ = 0;
  bool captured_ = false;
  bool goodbyeToUser_ = false;
  TPassSummary summary_;
  std::unique_ptr<TDuplicateIndex> duplicates_;
  std::set<std::string> tried_;          // body files offered in this pass
  std::optional<TInFlight> inFlight_;
  // Uploads of the pass: the files of UP/ sent after the host's upload
  // command, once per pass; moved to UP/sent/ when the host has them.
  bool uploadsTried_ = false;
  std::vector<std::string> uploading_;
  bool SendUploads();
  void UploadEnded(const TTransferResult& r);
  std::shared_ptr<char> alive_ = std::make_shared<char>(0);  // posted handlers check it
};

}  // namespace brelo
