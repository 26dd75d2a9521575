#include "reader/Patrol.h"

#include <algorithm>

#include "common/Sjis.h"


namespace brelo {

int PassStatus(const TPassSummary& s, bool timedOut) {
  if (s.storeFailed) return kExitStore;
  if (s.hostKeyChanged) return kExitHostKeyChanged;
  if (s.hostKeyUnknown) return kExitHostKeyUnknown;
  if (s.sshRefused) return kExitSshRefused;
  if (s.loginRefused) return kExitLoginRefused;
  if (s.cutByUser && !s.logoutSent) return kExitStopped;
  if (timedOut) return kExitTimeout;
  if (!s.loggedIn) return kExitNoLogin;
  if (!s.logoutSent || !s.loggedOut) return kExitLineLost;
  if (!s.WritesAllDone()) return kExitWrites;
  return kExitOk;
}

void NoteTheBox(const TReservationBox& box, TPassSummary& s) {
  s.heldInterrupted.clear();
  s.sentUnrecorded.clear();
  for (int i = 0; i < box.ReservationCount; ++i) {
    const TWriteReservation& e = box.ReservationTable[static_cast<size_t>(i)];
    if (e.Status == 0 || !TReservationBox::Interrupted(e)) continue;
    // One the host confirmed in this pass was posted: it is no unknown.
    const bool posted = std::find(s.unrecordedFiles.begin(), s.unrecordedFiles.end(), e.FileName) != s.unrecordedFiles.end();
    (posted ? s.sentUnrecorded : s.heldInterrupted).push_back(e.Title);
  }
  s.boxProblem = box.LoadProblem;
  s.boxUnreadable = box.Unreadable() && !box.HostFolder.empty();
  s.dueBeyond = box.DueBeyond();
}

int WorstStatus(const std::vector<int>& statuses) {
  // Most serious first: what the user must see to before the next round.
  static const int kOrder[] = {kExitStopped,      kExitHostKeyChanged, kExitStore,    kExitLoginRefused,
                               kExitSshRefused,   kExitHostKeyUnknown, kExitWrites,   kExitLineLost,
                               kExitTimeout,      kExitNoLogin,        kExitBusy,     kExitTerminalOnly};
  for (int s : kOrder) {
    if (std::find(statuses.begin(), statuses.end(), s) != statuses.end()) return s;
  }
  return kExitOk;
}

std::string StatusWords(int status) {
  switch (status) {
    case kExitOk: return "done";
    case kExitNoLogin: return "no login";
    case kExitTimeout: return "timed out";
    case kExitLineLost: return "line lost";
    case kExitWrites: return "writes not all done";
    case kExitStore: return "cannot store";
    case kExitStopped: return "stopped";
    case kExitBusy: return "busy";
    case kExitLoginRefused: return "login refused";
    case kExitTerminalOnly: return "terminal only, not called";
    case kExitSshRefused: return "SSH login refused";
    case kExitHostKeyUnknown: return "host key unknown";
    case kExitHostKeyChanged: return "host key changed";
    default: return "status " + std::to_string(status);
  }
}

std::string RoundNews(const std::vector<TPatrolResult>& results) {
  std::string out;
  for (const TPatrolResult& r : results) {
    const int mail = r.summary.storedMail, messages = r.summary.stored - r.summary.storedMail;
    if (mail == 0 && messages == 0) continue;
    std::string line;
    if (mail > 0) line = Sjis("新着メール ") + std::to_string(mail) + Sjis(" 通");
    if (messages > 0) line += (line.empty() ? "" : " / ") + Sjis("新着 ") + std::to_string(messages) + Sjis(" 件");
    if (!out.empty()) out += "\r\n";
    out += line + " (" + r.title + ")";
  }
  return out;
}

std::string RoundOutcome(const std::vector<TPatrolResult>& results, bool stopped) {
  static const std::pair<int, const char*> kWords[] = {
      {kExitOk, "完了"},          {kExitBusy, "使用中"},       {kExitNoLogin, "ログインできず"},
      {kExitTimeout, "時間切れ"}, {kExitLineLost, "回線断"},   {kExitWrites, "書き込み未完了"},
      {kExitStore, "保存できず"}, {kExitStopped, "中断"},       {kExitLoginRefused, "ログイン拒否"},
      {kExitTerminalOnly, "自動ログインしない"}, {kExitSshRefused, "SSHログイン拒否"},
      {kExitHostKeyUnknown, "ホスト鍵未確認"}, {kExitHostKeyChanged, "ホスト鍵不一致"}};
  std::string out = std::to_string(results.size()) + Sjis(" ホスト: ");
  bool first = true;
  for (const auto& entry : kWords) {
    const int status = entry.first;
    const auto n = std::count_if(results.begin(), results.end(), [status](const TPatrolResult& r) { return r.status == status; });
    if (n == 0) continue;
    out += (first ? "" : Sjis("、")) + Sjis(entry.second) + " " + std::to_string(n);
    first = false;
  }
  if (stopped) out += Sjis(" (途中で止めました)");
  return out;
}

std::string LineErrorWords(int code, const std::string& text) {
  static const std::pair<int, const char*> kWords[] = {
      {10061, "接続が拒否されました"},     {10060, "応答がありません"},
      {10065, "ホストに届きません"},       {10051, "ネットワークに届きません"},
      {10050, "ネットワークが使えません"}, {10064, "ホストが止まっています"},
      {10054, "相手が回線を切りました"},   {10053, "回線が切れました"},
      {11001, "ホストが見つかりません"},   {11002, "ホストが見つかりません"},
      {11004, "ホストのアドレスがありません"}};
  for (const auto& [c, words] : kWords) {
    if (c == code) return Sjis(words);
  }
  return text.empty() ? Sjis("エラー ") + std::to_string(code) : text;
}

std::string FailureWords(const TPatrolResult& r) {
  const std::string because = r.summary.problem.empty() ? std::string() : " (" + r.summary.problem + ")";
  const std::string words = r.summary.loginWords.empty() ? std::string() : " (" + r.summary.loginWords + ")";
  switch (r.status) {
    case kExitOk: return std::string();
    case kExitBusy:
      if (r.busyHolder > 0) return Sjis("使用中 (pid ") + std::to_string(r.busyHolder) + ")";
      return Sjis("使用中") + (r.problem.empty() ? std::string() : " (" + r.problem + ")");
    case kExitNoLogin:
      if (r.lineError.code != 0) return Sjis("接続できません (") + LineErrorWords(r.lineError.code, r.lineError.text) + ")";
      if (r.lineError.ssh.kind == TSshOutcome::kFailed) return Sjis("SSH の接続に失敗しました (") + r.lineError.ssh.error + ")";
      if (!r.summary.started) return Sjis("接続しませんでした") + because;
      if (r.summary.loginNotRecognised) return Sjis("ログインの画面を確認できません");
      return Sjis("ログインできません");
    case kExitLoginRefused: return Sjis("ログインを拒否されました") + words;
    case kExitTerminalOnly: return Sjis("自動ログインしないホスト (巡回しません)");
    case kExitSshRefused: return Sjis("SSH のログインを拒否されました") + words;
    case kExitHostKeyUnknown: return Sjis("ホストの鍵が未確認のため接続しませんでした") + words;
    case kExitHostKeyChanged: return Sjis("ホストの鍵が記録と違うため接続しませんでした") + words;
    case kExitTimeout: return Sjis("時間切れ");
    case kExitLineLost:
      if (r.lineError.code != 0) return Sjis("回線断 (") + LineErrorWords(r.lineError.code, r.lineError.text) + ")";
      return Sjis("回線断");
    case kExitWrites: return Sjis("書き込み未完了");
    case kExitStore: return Sjis("保存できません") + because;
    case kExitStopped: return Sjis(r.summary.cutByUser ? "強制切断しました (ユーザーの操作で切断)" : "中断");
    default: return StatusWords(r.status);
  }
}

std::vector<std::string> FailureLines(const std::vector<TPatrolResult>& results) {
  std::vector<std::string> out;
  for (const TPatrolResult& r : results) {
    const std::string words = FailureWords(r);
    if (!words.empty()) out.push_back(r.title + ": " + words);
  }
  return out;
}

TPatrol::TPatrol(TMainModel& model) : model_(model) {
  SelectHost = [this](int host) { model_.Policy.HostComboBoxChange(host); };
  watch_.setInterval(100);
  QObject::connect(&watch_, &QTimer::timeout, [this] {
    TVeskoClient& client = model_.VeskoClient1;
    // A work thread that gave up on its own (port, busy line) leaves the send
    // thread waiting for Disconnect.
    if (client.SessionRunning() && !client.WorkThreadRunning()) client.Disconnect();
    if (!client.SessionRunning()) {
      PassOver();
      return;
    }
    if (model_.Policy.LogoutSent()) {
      const auto now = std::chrono::steady_clock::now();
      if (!logoutSeen_) logoutSeen_ = now;
      else if (now - *logoutSeen_ >= kLogoutWait) model_.Policy.HangUpAfterLogout();
    }
  });
  limit_.setSingleShot(true);
  limit_.setTimerType(Qt::PreciseTimer);
  QObject::connect(&limit_, &QTimer::timeout, [this] {
    // The time-out never fires early: a timer may, so the clock decides.
    const auto left = deadline_ - std::chrono::steady_clock::now();
    if (left > std::chrono::milliseconds(0)) {
      limit_.start(static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(left).count()) + 1);
      return;
    }
    timedOut_ = true;
    if (OnTimeout) OnTimeout(host_);
    if (model_.VeskoClient1.SessionRunning()) model_.VeskoClient1.Disconnect();
  });
  lockRetry_.setInterval(50);
  QObject::connect(&lockRetry_, &QTimer::timeout, [this] {
    if (model_.Policy.RetryHostLock()) {
      lockRetry_.stop();
      StartPass();
    } else if (std::chrono::steady_clock::now() >= lockDeadline_) {
      lockRetry_.stop();
      Skipped();
    }
  });
}

TPatrol::~TPatrol() {
  watch_.stop();
  limit_.stop();
  lockRetry_.stop();
}

void TPatrol::Start(const std::vector<int>& hosts) {
  if (running_) return;
  queue_ = hosts;
  std::reverse(queue_.begin(), queue_.end());  // taken from the back
  results_.clear();
  before_ = options_ = model_.Policy.Options;
  // Nobody is there to type "Q" or to answer the goodbye: every pass logs
  // out by itself, whatever the window's own passes do.
  options_.GoodbyeWhenExecute = true;
  options_.PassgoodbyeMessage = true;
  if (KeepNews) options_.ClearNews = false;
  running_ = true;
  stopped_ = false;
  QTimer::singleShot(0, &watch_, [this] { Next(); });
}

void TPatrol::Stop() {
  if (!running_ || stopped_) return;
  stopped_ = true;
  if (lockRetry_.isActive()) {
    // Waiting for the host's folder: that host is not called.
    lockRetry_.stop();
    results_.back().status = kExitStopped;
    if (OnHostDone) OnHostDone(results_.back());
    QTimer::singleShot(0, &watch_, [this] { Next(); });
    return;
  }
  if (inPass_ && model_.VeskoClient1.SessionRunning()) model_.VeskoClient1.Disconnect();
}

void TPatrol::Next() {
  if (stopped_ || queue_.empty()) {
    Finish();
    return;
  }
  host_ = queue_.back();
  queue_.pop_back();
  TSessionPolicy& policy = model_.Policy;
  const THostEntry& entry = model_.Hosts.HostTable[static_cast<size_t>(host_)];
  TPatrolResult r;
  r.host = host_;
  r.title = entry.Title;
  r.address = entry.Address;
  r.folder = policy.FolderOf(host_);
  results_.push_back(r);
  if (entry.TerminalOnly) {
    // The session of such a host is the user's: nobody calls it for them.
    results_.back().status = kExitTerminalOnly;
    if (OnHostDone) OnHostDone(results_.back());
    QTimer::singleShot(0, &watch_, [this] { Next(); });
    return;
  }
  if (OnHostStarting) OnHostStarting(host_);
  SelectHost(host_);
  if (policy.CurrentHost() == host_ && policy.HostBusy()) policy.RetryHostLock();
  if (policy.CurrentHost() == host_ && policy.HostBusy() && LockWaitMs > 0) {
    lockDeadline_ = std::chrono::steady_clock::now() + std::chrono::milliseconds(LockWaitMs);
    lockRetry_.start();
    return;
  }
  if (policy.CurrentHost() != host_ || policy.HostBusy()) {
    Skipped();
    return;
  }
  StartPass();
}

void TPatrol::Skipped() {
  TSessionPolicy& policy = model_.Policy;
  TPatrolResult& r = results_.back();
  r.status = kExitBusy;
  r.busyHolder = policy.HostBusy() ? policy.BusyHolder() : 0;
  r.problem = policy.HostBusy() ? policy.BusyText() : std::string();
  if (OnHostDone) OnHostDone(r);
  QTimer::singleShot(0, &watch_, [this] { Next(); });
}

void TPatrol::StartPass() {
  TSessionPolicy& policy = model_.Policy;
  policy.Options = options_;
  policy.Unattended = true;
  logoutSeen_.reset();
  timedOut_ = false;
  inPass_ = true;
  deadline_ = std::chrono::steady_clock::now() + std::chrono::seconds(TimeoutSeconds);
  policy.SpeedButton1Click(true);
  if (!model_.VeskoClient1.SessionRunning()) {
    PassOver();  // refused before calling: its summary says why
    return;
  }
  watch_.start();
  limit_.start(TimeoutSeconds * 1000);
}

void TPatrol::PassOver() {
  if (!inPass_) return;
  inPass_ = false;
  watch_.stop();
  limit_.stop();
  TSessionPolicy& policy = model_.Policy;
  TPatrolResult& r = results_.back();
  // What the pass stored is on the disk before it is reported.
  policy.SyncStoreNow();
  r.summary = policy.Summary();
  NoteTheBox(model_.Box, r.summary);
  r.received = policy.ReceivedCount();
  r.boxLeft = model_.Box.ReservationCount + model_.Box.RecordsBeyond();
  r.timedOut = timedOut_;
  r.lineError = model_.VeskoClient1.LastLineError();
  // A pass stopped before its logout says so; one that was over says how.
  const int status = PassStatus(r.summary, timedOut_);
  r.status = stopped_ && status != kExitOk ? kExitStopped : status;
  if (OnHostDone) OnHostDone(r);
  QTimer::singleShot(0, &watch_, [this] { Next(); });
}

void TPatrol::Finish() {
  running_ = false;
  model_.Policy.Options = before_;
  model_.Policy.Unattended = false;
  if (OnFinished) OnFinished();
}

}  // namespace brelo
