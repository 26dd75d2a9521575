// The session component's file transfers: a program of lrzsz takes over the
// line's bytes while it runs, and the lines resume after it exactly where
// they were.
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <thread>

#include <QCoreApplication>
#include <QTimer>

#include "common/FileUtil.h"
#include "common/MainThread.h"
#include "common/Sjis.h"
#include "session/VeskoClient.h"

namespace brelo {
namespace {

std::string Names(const std::vector<std::string>& files) {
  std::string s;
  for (const std::string& f : files) s += (s.empty() ? "" : " ") + f;
  return s;
}

}  // namespace

bool TVeskoClient::TransferRunning() const {
  std::lock_guard<std::mutex> lk(transferMutex_);
  return transfer_ && transfer_->Running();
}

TTransferProgress TVeskoClient::TransferProgress() const {
  std::lock_guard<std::mutex> lk(transferMutex_);
  return transfer_ ? transfer_->Progress() : TTransferProgress();
}

void TVeskoClient::CancelTransfer() {
  std::shared_ptr<TTransferProgram> t;
  {
    std::lock_guard<std::mutex> lk(transferMutex_);
    t = transfer_;
  }
  if (t) t->Cancel();
}

void TVeskoClient::SendTransferBytes(const char* p, size_t n) {
  // What was queued for the line before (the command that asked the host to
  // receive) goes first: the program's bytes do not overtake it.
  for (int waitedMs = 0; waitedMs < 5000; ++waitedMs) {
    std::lock_guard<std::mutex> lk(threadsMutex_);
    if (!sendAlive_ || !send_ || send_->Pending() == 0) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  const int transport = transport_.load();
  std::string out;
  if (transport == 1 && ring_.TelnetTransfer()) {
    // Telnet: IAC doubled; outside binary mode a CR is followed by NUL. A
    // host that never spoke telnet gets the bytes as they are.
    const bool binary = ring_.BinaryOut();
    out.reserve(n + n / 64 + 8);
    for (size_t i = 0; i < n; ++i) {
      const auto b = static_cast<unsigned char>(p[i]);
      out += static_cast<char>(b);
      if (b == telnet::IAC) out += static_cast<char>(b);
      if (b == '\r' && !binary) out += '\0';
    }
  } else {
    out.assign(p, n);
  }
  // Straight to the line, past the send thread's pacing, which is for typed
  // text; the transfer's program waits meanwhile. A line that takes nothing
  // for five seconds is given up (the program then times out and stops).
  size_t at = 0;
  for (int idleMs = 0; at < out.size() && idleMs < 5000;) {
    const int chunk = static_cast<int>(std::min<size_t>(out.size() - at, 65536));
    const int w = transport == 2   ? ssh_.Send(out.data() + at, chunk)
                  : transport == 1 ? tcp_.Send(out.data() + at, chunk)
                                   : modem_.Write(out.data() + at, chunk);
    if (w > 0) {
      at += static_cast<size_t>(w);
      idleMs = 0;
    } else {
      if (w < 0 && errno != EAGAIN && errno != EINTR) return;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
      ++idleMs;
    }
  }
}

TLineRing::TSink TVeskoClient::BeginTransfer(bool download, ProtType protocol, const std::vector<std::string>& argv,
                                             const std::string& folder, bool fromHost, const std::string& header) {
  auto program = std::make_shared<TTransferProgram>();
  std::weak_ptr<char> alive = alive_;
  std::weak_ptr<TTransferProgram> weak = program;
  program->OnOutput = [this](const char* p, size_t n) { SendTransferBytes(p, n); };
  program->OnEnd = [this, alive, weak](const TTransferResult& r) {
    PostToMain([this, alive, weak, r] {
      if (!alive.lock()) return;
      if (auto p = weak.lock()) TransferEnded(p, r);
    });
  };
  std::string error;
  if (!program->Start(argv, folder, download, error)) {
    PostToMain([this, alive, error] {
      if (alive.lock()) Status(Sjis("転送を始められません: ") + error);
    });
    return nullptr;
  }
  {
    std::lock_guard<std::mutex> lk(transferMutex_);
    transfer_ = program;
    transferDownload_ = download;
    transferFromHost_ = fromHost;
    transferProtocol_ = protocol;
  }
  log_.WriteLine(Sjis(download ? "(ダウンロード開始 " : "(アップロード開始 ") + ProtTypeName(protocol) + ")");
  PostToMain([this, alive, download, protocol] {
    if (!alive.lock()) return;
    Status(Sjis(download ? "ダウンロード中...." : "アップロード中....") + ProtTypeName(protocol));
  });
  TTransferProgram* raw = program.get();
  uploadText_.clear();
  if (!download && protocol != pr_ZMODEM) {
    // The receiver starts: until it asks, the host's bytes are its text.
    receiverStart_ = TReceiverStartWatch(ring_.Line(ring_.LineIndex()));
    receiverStarted_ = false;
    return [this, raw](const char* p, size_t n) {
      if (!receiverStarted_) {
        const size_t at = receiverStart_.Find(p, n);
        receiverStarted_ = at != TReceiverStartWatch::kNone;
        const size_t text = receiverStarted_ ? at : n;
        uploadText_.append(p, text);
        p += text;
        n -= text;
      }
      if (n > 0) raw->Input(p, n);
    };
  }
  if (!fromHost) return [raw](const char* p, size_t n) { raw->Input(p, n); };
  // A ZMODEM start in the host's bytes (found under the ring's lock, where
  // these are kept) is held as text until what follows it shows frames;
  // when it shows text the program is stopped, and nothing more goes to it.
  transferAttempt_ = header;
  startCheck_ = TZmodemFollowCheck();
  return [this, raw](const char* p, size_t n) {
    if (startCheck_.Verdict() == TZmodemFollowCheck::fvFrames) {
      raw->Input(p, n);
      return;
    }
    transferAttempt_.append(p, n);
    if (startCheck_.Feed(p, n) == TZmodemFollowCheck::fvText) {
      raw->Cancel();
      return;
    }
    raw->Input(p, n);
  };
}

TLineRing::TSink TVeskoClient::ZmodemFromHost(const std::string& folder, const std::string& header) {
  if (TransferRunning()) return nullptr;
  ::mkdir(folder.c_str(), 0700);
  return BeginTransfer(true, pr_ZMODEM, TransferCommand(pr_ZMODEM, true, {}), folder, true, header);
}

bool TVeskoClient::TransferPossible() {
  if (!SessionRunning() || TransferRunning()) {
    Status(Sjis("いまは転送できません"));
    return false;
  }
  if (modem_.Protocol == pr_MLINK) {
    Status(Sjis("M-LINK には対応していません"));
    return false;
  }
  return true;
}

bool TVeskoClient::StartDownload(const std::string& xmodemName) {
  if (!TransferPossible()) return false;
  const ProtType p = modem_.Protocol;
  ::mkdir(DownloadFolder.c_str(), 0700);
  // XMODEM carries no name: the one given, or one made up, never a file's that exists.
  std::vector<std::string> names;
  if (p <= pr_XMODEM_CRC_1024) names.push_back(FreeName(DownloadFolder, xmodemName.empty() ? "download.bin" : xmodemName));
  TLineRing::TSink sink = BeginTransfer(true, p, TransferCommand(p, true, names), DownloadFolder, false);
  if (!sink) return false;
  ring_.SetTransferSink(std::move(sink));
  SendTelnetReplies();  // binary mode asked for on a telnet line
  return true;
}

bool TVeskoClient::StartUpload(const std::vector<std::string>& files) {
  if (files.empty() || !TransferPossible()) return false;
  const ProtType p = modem_.Protocol;
  TLineRing::TSink sink = BeginTransfer(false, p, TransferCommand(p, false, files), "/", false);
  if (!sink) return false;
  ring_.SetTransferSink(std::move(sink));
  SendTelnetReplies();
  return true;
}

void TVeskoClient::TransferEnded(const std::shared_ptr<TTransferProgram>& program, const TTransferResult& r) {
  bool download, fromHost;
  ProtType protocol;
  {
    std::lock_guard<std::mutex> lk(transferMutex_);
    if (transfer_ != program) return;
    download = transferDownload_;
    fromHost = transferFromHost_;
    protocol = transferProtocol_;
  }
  // A ZMODEM start whose next bytes were no frames was text: all the host
  // sent after the header is. After a transfer, what the program never took
  // (the host's words after it) is text; after a cancelled download it is
  // the sender's data still in flight, dropped until its stream ends.
  bool falseStart = false;
  ring_.EndTransfer(
      [&] {  // under the ring's lock, as the sink
        falseStart = fromHost && r.files.empty() && !r.success && startCheck_.Verdict() != TZmodemFollowCheck::fvFrames;
        return falseStart ? transferAttempt_ : uploadText_ + program->TakeUnconsumed();
      },
      [&] { return download && r.cancelled && !falseStart; });
  // Binary mode was for the transfer (given back by the ring): text again
  // ends its lines with CR LF.
  SendTelnetReplies();
  if (ring_.Draining()) DrainTick();
  const std::string what = Sjis(download ? "ダウンロード" : "アップロード");
  std::string line = what + (r.success ? Sjis("完了....") : r.cancelled ? Sjis("中止....") : Sjis("失敗....")) +
                     Names(r.files);
  if (!r.success && !r.cancelled && !r.message.empty()) line += " (" + r.message + ")";
  if (download && !r.files.empty()) {
    // Where to find it; a cut one is only the beginning of the file.
    if (r.done.size() < r.files.size()) line += Sjis(r.files.size() > 1 ? " (途中までのものがあります)" : " は途中までです");
    line += Sjis(" (保存先: ") + PathText(DownloadFolder) + ")";
  }
  log_.WriteLine("(" + line + ")");
  if (!falseStart) Status(line);
  TTransferEnd end;
  end.download = download;
  end.protocol = protocol;
  end.result = r;
  if (!falseStart && modem_.OnUpOrDownLoaded) modem_.OnUpOrDownLoaded(&modem_, r.success);
  if (!falseStart && OnTransferEnd) OnTransferEnd(this, end);
  {
    std::lock_guard<std::mutex> lk(transferMutex_);
    if (transfer_ == program) transfer_.reset();
  }
}

void TVeskoClient::DrainTick() {
  std::weak_ptr<char> alive = alive_;
  QTimer::singleShot(kDrainQuietMs / 5, QCoreApplication::instance(), [this, alive] {
    if (!alive.lock() || !ring_.Draining()) return;
    // What the line already holds arrived before the quiet spell could
    // begin: it is read first, so that a slow reader never takes a full
    // socket for a quiet sender.
    bool waiting = false;
    if (transport_.load() == 1) {
      if (!socketPaused_) TcpData();
      waiting = socketPaused_;
    } else if (transport_.load() == 2) {
      waiting = ring_.Paused();  // the line's thread reads whatever comes at once
    } else {
      waiting = modem_.InQueueBytes() > 0;
    }
    const long long now = std::chrono::duration_cast<std::chrono::milliseconds>(
                              std::chrono::steady_clock::now().time_since_epoch())
                              .count();
    if (!waiting && now - ring_.LastByteMs() >= kDrainQuietMs) {
      ring_.EndDrain();
      SendTelnetReplies();
      return;
    }
    DrainTick();
  });
}

}  // namespace brelo
