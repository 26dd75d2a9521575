// The ring of 1000 received screen lines and the receive path that fills it.
//
// The receive path is a chain of stages, each with its own state and each
// taking bytes and handing on bytes or events: telnet (TTelnetStage:
// commands out, answers kept for the line), then either the text's way --
// the transfer watch (TTransferWatch: a ZMODEM start), the conversion to
// Shift-JIS (THostDecoder), the escape filter (TEscapeFilter: sequences out,
// colours as events), the lines (TLineBuilder), the ring -- or a transfer's
// program, or after a cancelled download the drain (TTransferDrain). The
// ring routes the bytes between the ways and keeps the lines.
//
// One writer: the thread that delivers the transport's bytes (the main thread
// for TCP, the serial watch thread for the modem). One reader: the work
// thread; the terminal view also reads slots. The writer touches only the
// slots from LineIndex on (the lines it completes in a chunk, the partial
// line's, the one after it), under the writer's lock, which it takes once
// per chunk, never per line; LineIndex moves at the chunk's end. The
// complete lines the reader has not taken yet are the reader's alone: it
// takes them without any lock. Every other slot is read under the writer's
// lock.
//
// Back-pressure instead of overwriting: when 999 complete lines wait unread,
// the receive path stops at the next line end and keeps the rest of the
// bytes in its backlog; Feed reports that reading from the line must pause.
// When the reader has consumed down to half the ring, OnRoom is called once
// per pause (on the reader's thread, or on the writer's when the room came
// while it was pausing) so that the owner can let the writer run the backlog
// and resume reading. The states of that hand-off are in ResumeGate.h.
// Nothing received is ever lost.
#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "common/AdaptiveMutex.h"
#include "common/HostEncoding.h"
#include "session/EscapeFilter.h"
#include "session/LineBuilder.h"
#include "session/ReceiveStage.h"
#include "session/ResumeGate.h"
#include "session/TelnetOptions.h"
#include "session/TelnetStage.h"
#include "session/TransferDrain.h"
#include "session/TransferStart.h"

namespace brelo {

class TLineRing : private ILineEnd {
 public:
  static constexpr int kSize = 1000;
  static constexpr int kLowWater = 500;
  // A line that grows this long without a CR is ended here, so that a host
  // that never sends CR cannot exhaust memory; nothing is dropped.
  static constexpr size_t kMaxLineBytes = TLineBuilder::kMaxLineBytes;

  TLineRing();
  TLineRing(const TLineRing&) = delete;
  TLineRing& operator=(const TLineRing&) = delete;

  // Writer: runs the receive path over a chunk (behind any backlog).
  // Returns false when reading from the line must pause.
  bool Feed(const char* data, size_t len);
  // Writer: runs the backlog as far as room allows; true when it is empty.
  bool FeedBacklog();
  bool Paused() const { return gate_.Paused(); }
  // Whether the reader has made room enough to run the backlog (any thread).
  bool HasRoom() const;
  // A paused ring with room asks for the resume (OnRoom) unless that was
  // done already: the tick that makes a lost signal cost a wait, never the
  // session. Any thread; the reader's waits call it.
  void RecheckRoom();
  // Bytes waiting in the backlog behind a full ring (any thread).
  size_t BacklogBytes() const { return backlogBytes_.load(); }
  // Writer: chunks fed between BeginBatch and EndBatch wake the reader once,
  // at EndBatch (several chunks read in one notification).
  void BeginBatch();
  void EndBatch();

  // Colour and screen escape sequences (ECMA-48 CSI and the ESC sequences)
  // taken out of the text for the session that starts next: on for every
  // host unless its entry keeps them; off, ESC alone is dropped as ever.
  // Only while no bytes arrive.
  void SetEscapeRemoval(bool on);
  // The host's character encoding for the session that starts next: its
  // bytes are converted to Shift-JIS before anything else sees them (after
  // the telnet commands are taken out). Only while no bytes arrive.
  void SetEncoding(EHostEncoding e);
  // Characters of this session that Shift-JIS could not hold ("〓" instead).
  unsigned long long Replaced() const { return replaced_.load(std::memory_order_relaxed); }
  // File transfers. While a sink is set, the line's bytes go to it (telnet
  // commands taken out, IAC IAC as 0xFF, CR NUL as CR unless the host sends
  // in binary), called under the writer's lock, instead of into lines.
  using TSink = std::function<void(const char* p, size_t n)>;
  void SetTransferSink(TSink sink);
  // The transfer is over: lines again; `replay` (what went to a transfer
  // that never began, or the host's words after it) is read as text first.
  // (replay runs under the writer's lock, where the sink's own state is safe).
  // After a cancelled download (`drain`, asked after the replay): the replay and what follows are the
  // sender's bytes in flight, dropped until its stream ends (see
  // TTransferDrain); the text resumes after them.
  void EndTransfer(const std::function<std::string()>& replay = {}, const std::function<bool()>& drain = {});
  // Whether the bytes after a cancelled download are being dropped, and
  // since when nothing has arrived (steady clock, ms; any thread).
  bool Draining() const { return draining_.load(); }
  long long LastByteMs() const { return lastByteMs_.load(); }
  // A quiet spell after a cancel: the sender is done, text again.
  void EndDrain();
  // Bytes dropped after the last cancel.
  unsigned long long Drained() const { return drained_.load(); }
  // Watches the text for the start of a ZMODEM send; at a whole header,
  // onStart is called with the header's bytes that did not go on as text
  // (writer's thread, under the lock: it must not call the ring) and the
  // sink it returns, unless empty, takes the rest. A start that proves to
  // be text is handed back with EndTransfer, header and all.
  using TStart = std::function<TSink(const std::string& header)>;
  void WatchForZmodem(TStart onStart);
  bool InTransfer() const {
    std::lock_guard lk(writerMutex_);
    return static_cast<bool>(sink_);
  }
  // Whether the line is a telnet connection: a modem line's transfer bytes
  // go to the sink as they are.
  void SetTelnetLine(bool telnet);
  // What the host's line is, for the session that starts next (telnet, raw
  // or known by the host's first IAC); see TTelnetStage. Only while no
  // bytes arrive.
  void SetLineKind(ELineKind kind);
  // Whether a transfer's bytes are telnet's now (IAC doubled on the way
  // out, CR NUL outside binary): a telnet line, known as one (any thread).
  bool TelnetTransfer() const { return telnet_.TelnetTransfer(); }
  // Asks the host for a telnet option both ways (answers to send follow).
  void AskTelnet(unsigned char option);
  // The terminal's size in characters, told to the host now when it agreed
  // to hear it (answers to send follow), else when it asks.
  void SetWindowSize(int columns, int rows);

  // Gives the option back both ways (answers to send follow).
  void GiveBackTelnet(unsigned char option);
  // Whether the host agreed that we send in binary (any thread).
  bool BinaryOut() const { return binaryOut_.load(); }
  // Telnet answers for the session that starts next (TCP hosts): on, with
  // the terminal type to name. Off, commands are taken out of the text and
  // nothing is answered. Only while no bytes arrive.
  void SetTelnetAnswers(bool on, const std::string& terminalType);
  // The answers the commands received so far call for, to be sent to the
  // host (writer's thread); empty when there are none.
  std::string TakeTelnetReplies();
  bool HasTelnetReplies() const { return hasReplies_.load(std::memory_order_relaxed); }
  // The negotiated state (writer's thread, or while no bytes arrive).
  const TTelnetOptions& Telnet() const { return telnet_.Options(); }

  // Start of a session: both indexes 0, the receive state cleared, the
  // previous session's lines left for the terminal view (slot 0 is cleared:
  // it is the new session's first line). Only while no bytes arrive.
  void ResetIndexes();

  // Reader side and the terminal view.
  int LineIndex() const { return lineIndex_.load(std::memory_order_acquire); }
  int ReadPos() const { return readPos_.load(std::memory_order_acquire); }
  bool LineWaiting() const { return ReadPos() != LineIndex(); }
  std::string Line(int slot) const;
  // The slot's line and how it was painted: runs in order of their start,
  // none for a line in the terminal's own colours (escapes removed only).
  void LineWithRuns(int slot, std::string& text, std::vector<TAttrRun>& runs) const;
  // Calls f with the slot's line (no copy); f must be quick. The reader only.
  bool LineHas(int slot, const std::function<bool(const std::string&)>& f) const;
  // The complete line k places after ReadPos, which must wait (k lines
  // before it too), without a copy: it stays as it is until the reader
  // moves on. The reader only.
  std::string_view Waiting(int k) const { return slots_[static_cast<size_t>(ReadPos() + k) % kSize]; }
  // Takes Lines[ReadPos] and advances ReadPos (reader only; a line must wait).
  std::string Take();
  // Take into a string the caller keeps.
  void TakeInto(std::string& out);
  // Advances ReadPos past the waiting line without copying it.
  void Skip();
  // Lines taken since the ring was made (reader's count, for diagnostics).
  unsigned long long TakenCount() const { return taken_.load(std::memory_order_relaxed); }
  // Sleeps up to ms; returns early, or at once, when a line completed, the
  // partial line changed or Wake was called since the reader's last wait
  // ended (that is, since it began to look). The reader only: it rechecks a
  // pause first.
  void WaitForChange(int ms);
  void Wake();

  // Called once per pause when room has come back: by the reader, or by the
  // writer when the reader made the room while it paused. Must not call the
  // ring; the owner lets the writer's thread run FeedBacklog.
  std::function<void()> OnRoom;

  // The screen's tap: the host's bytes after the telnet commands and the
  // conversion to Shift-JIS, escape sequences and control bytes kept, in
  // order and each once, as the receive path takes them (bytes that wait
  // behind a full ring come when they are taken; a transfer's bytes never
  // come). Called on the writer's thread under the writer's lock, once per
  // chunk: it must be quick and must not call the ring. Empty: no tap.
  void SetScreenTap(TSink tap);

 private:
  // The stages' hand-offs.
  struct TTextIn : IByteSink {
    TLineRing& r;
    explicit TTextIn(TLineRing& ring) : r(ring) {}
    size_t Put(const char* p, size_t n) override { return r.watch_.Put(p, n, r.decodeIn_); }
  };
  struct TDecodeIn : IByteSink {
    TLineRing& r;
    explicit TDecodeIn(TLineRing& ring) : r(ring) {}
    size_t Put(const char* p, size_t n) override;
  };
  struct TSinkIn : IByteSink {
    TLineRing& r;
    explicit TSinkIn(TLineRing& ring) : r(ring) {}
    size_t Put(const char* p, size_t n) override {
      r.sink_(p, n);
      return n;
    }
  };
  struct TDrainIn : IByteSink {
    TLineRing& r;
    explicit TDrainIn(TLineRing& ring) : r(ring) {}
    size_t Put(const char* p, size_t n) override { return r.drain_.Put(p, n); }
  };

  // The chain over a chunk, under the lock; false when reading must pause.
  bool FeedLocked(const char* data, size_t len);
  // Decoded text into the escape filter and the lines (or the backlog).
  void Lines(const char* p, size_t n);
  // Text that passed the telnet stage already (a replay, held bytes).
  void TextAfterTelnet(const std::string& bytes);
  // After a feed: the partial line, the tap, the answers, the pause.
  bool Settle();
  void EndTransferLocked(const std::function<std::string()>& replay, const std::function<bool()>& drain);
  void EndDrainLocked();
  bool EndLine(std::string& line, std::vector<TAttrRun>& runs) override;
  void PublishPartial();
  void Signal();
  // A complete line that waits for the reader (only the reader may ask).
  bool ReadersOwn(int slot) const;
  // Hands what the tap gathered to it (under the writer's lock).
  void FlushTap();

  std::array<std::string, kSize> slots_;
  std::array<std::vector<TAttrRun>, kSize> runs_;  // beside slots_, under the same rules
  std::atomic<int> lineIndex_{0};  // written by the writer: its writeIndex_ at the end of each chunk
  std::atomic<int> readPos_{0};    // written by the reader
  std::atomic<unsigned long long> taken_{0};  // written by the reader

  // Writer state, under writerMutex_; so are the slots the writer touches.
  mutable TAdaptiveMutex writerMutex_;
  int writeIndex_ = 0;   // the partial line's slot
  int readPosSeen_ = 0;  // readPos_ when the writer last looked
  TTelnetStage telnet_;
  bool answerTelnet_ = false;
  ELineKind lineKind_ = ELineKind::kAuto;
  TTransferWatch watch_;
  THostDecoder decoder_;
  bool decoding_ = false;       // a host encoding other than Shift-JIS
  std::string decoded_;         // the chunk converted to Shift-JIS
  TEscapeFilter escapes_;
  TLineBuilder lines_{*this};
  TTextIn textIn_{*this};
  TDecodeIn decodeIn_{*this};
  TSinkIn sinkIn_{*this};
  TDrainIn drainIn_{*this};
  std::atomic<unsigned long long> replaced_{0};
  TSink sink_;                  // a transfer's, while one runs
  TStart onZmodemStart_;
  TTransferDrain drain_;
  std::atomic<bool> draining_{false};
  std::atomic<long long> lastByteMs_{0};
  std::atomic<unsigned long long> drained_{0};
  std::atomic<bool> binaryOut_{false};
  std::atomic<bool> hasReplies_{false};
  std::string backlog_;
  TResumeGate gate_;            // written by both sides, see ResumeGate.h
  std::atomic<size_t> backlogBytes_{0};
  TSink screenTap_;             // under writerMutex_
  bool tapping_ = false;        // screenTap_ is set
  std::string tapped_;          // the chunk's bytes for the tap
  int batch_ = 0;               // writer only
  bool batchSignal_ = false;    // writer only

  std::mutex waitMutex_;
  std::condition_variable waitCv_;
  std::atomic<unsigned> changes_{0};
  unsigned seen_ = 0;  // the reader's: changes_ when its last wait ended
  std::atomic<bool> readerWaiting_{false};
};

}  // namespace brelo
