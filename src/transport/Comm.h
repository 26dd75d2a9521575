// TComm: a serial port over termios with a watch thread (TCommWatch) that
// turns what happens on the line into OnCommReceive, OnCommTransmit and
// OnCommEvent.
//
// COM n is /dev/ttyS(n-1) unless DeviceName names a device (a USB modem, or
// a pseudo-terminal in tests). The device is opened exclusively.
//
// Threads: the three events run on the watch thread. Open and Close may be
// called from any thread, Close also from the watch thread itself (inside a
// handler), where it does not wait for itself. Write is for the send thread.
// Carried onto Linux: DTR by TIOCMBIS/TIOCMBIC; carrier, DSR, CTS and RING by
// TIOCMGET, sampled every 100 ms while the event mask asks for them; a hang-up
// of the device (POLLHUP, as a pseudo-terminal shows when its other side
// closes) counts as a carrier drop. Linux has no DTR/DSR handshake and no
// settable XON/XOFF limits: those settings are kept but have no effect.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>

namespace brelo {

enum TCommParityBits { cpbNone, cpbOdd, cpbEven, cpbMark, cpbSpace };
enum TCommByteSize { cbs4, cbs5, cbs6, cbs7, cbs8 };
enum TCommStopBits { csb1, csb15, csb2 };
enum TCommFlowControl { cfcDtrDsr, cfcRtsCts, cfcXonXoff };
using TCommFlowControls = unsigned;  // bit (1 << TCommFlowControl)
enum TCommEvents { evRxchar, evRxflag, evTxempty, evCts, evDsr, evRlsd, evBreak, evErr, evRing, evPerr };
using TCommEventMask = unsigned;     // bit (1 << TCommEvents), the platform's EV_ bits

constexpr unsigned Bit(TCommFlowControl f) { return 1u << f; }
constexpr unsigned Bit(TCommEvents e) { return 1u << e; }

class ECommError : public std::runtime_error {
 public:
  ECommError();
 protected:
  explicit ECommError(const std::string& sjisMessage) : std::runtime_error(sjisMessage) {}
};
class ECommOpenError : public ECommError {
 public:
  explicit ECommOpenError(int code);
  int ErrorCode;
};
class ECommReadWriteError : public ECommError {
 public:
  explicit ECommReadWriteError(int code);
  int ErrorCode;
};

class TComm {
 public:
  using TCommNotifyEvent = std::function<void(TComm* sender, TCommEventMask events)>;
  using TCommNotifyRxTxEvent = std::function<void(TComm* sender, uint16_t size)>;
  // Modem-line query: fills the TIOCM_ bits; false when the device has no
  // modem lines. A seam for tests, which play the modem on a pseudo-terminal.
  using TModemStatusQuery = std::function<bool(int fd, int& bits)>;

  TComm();
  virtual ~TComm();
  TComm(const TComm&) = delete;
  TComm& operator=(const TComm&) = delete;

  // Opens and configures the port and starts the watch thread; nothing when
  // already open. Raises ECommOpenError(-1) when the device cannot be opened.
  void Open();
  // Stops the watch thread (not when called on it), drops DTR, purges and closes.
  void Close();
  // Reads exactly count bytes that OnCommReceive announced.
  // Reads count bytes; fewer (the number returned) when announced bytes went away.
  int Read(char* buf, int count);
  bool IsOpen() const;

  // Properties; each setter applies at once when the port is open, unless noted.
  uint8_t Port = 1;              // applied at the next Open
  std::string DeviceName;        // overrides Port when not empty; next Open
  void SetBaudRate(int rate);
  int BaudRate() const { return baudRate_; }
  void SetBaudRateUserDefined(int rate) { baudRateUserDefined_ = rate; }  // no immediate effect
  int BaudRateUserDefined() const { return baudRateUserDefined_; }
  void SetParityBits(TCommParityBits p);
  TCommParityBits ParityBits() const { return parity_; }
  void SetByteSize(TCommByteSize b);
  TCommByteSize ByteSize() const { return byteSize_; }
  void SetStopBits(TCommStopBits s);
  TCommStopBits StopBits() const { return stopBits_; }
  void SetFlowControls(TCommFlowControls f);
  TCommFlowControls FlowControls() const { return flow_; }
  uint16_t InQueueSize = 4096;   // next Open
  uint16_t OutQueueSize = 4096;  // next Open
  void SetReceiveNotifySize(int n) { receiveNotifySize_ = n; }
  int ReceiveNotifySize() const { return receiveNotifySize_; }
  void SetSendNotifySize(int n) { sendNotifySize_ = n; }
  int SendNotifySize() const { return sendNotifySize_; }
  void SetEventMask(TCommEventMask m) { eventMask_ = m; }
  TCommEventMask EventMask() const { return eventMask_; }
  bool DsrState();

  // The device path that Open will use.
  std::string DevicePath() const;
  // The XOFF and XON limits the settings give (kept for reference).
  int XoffLimit() const { return static_cast<uint16_t>(InQueueSize - receiveNotifySize_); }
  int XonLimit() const { return static_cast<uint16_t>(sendNotifySize_); }

  // For the send thread: bytes still in the driver's output queue, and a
  // non-blocking write (bytes written, or -1 with errno).
  int OutQueueBytes();
  int Write(const char* buf, int count);
  // Bytes received and not yet read (0 when closed or unknown).
  int InQueueBytes();

  // Wakes the watch thread so that it calls OnResume (on the watch thread);
  // while reading is paused it also calls OnResume every 100 ms by itself.
  void Wake();
  // The watch thread reads only while this says no (the session's ring is full).
  std::function<bool()> ReceivePaused;
  std::function<void()> OnResume;
  TModemStatusQuery ModemStatusQuery;

  TCommNotifyEvent OnCommEvent;
  TCommNotifyRxTxEvent OnCommReceive;
  TCommNotifyRxTxEvent OnCommTransmit;

 protected:
  virtual void DoCommEvent(TCommEventMask events);
  virtual void DoCommReceive();
  virtual void DoCommTransmit();
  // Modem status now; false when unknown. Uses ModemStatusQuery when set.
  bool QueryModemStatus(int& bits);
  bool HungUp() const { return hungUp_.load(); }

 private:
  friend class TCommWatch;
  void ApplySettings();  // under mutex_, fd_ open
  void WatchLoop(bool haveLines, int lastBits);
  void ReapWatch();

  int baudRate_ = 9600;
  int baudRateUserDefined_ = 9600;
  TCommParityBits parity_ = cpbNone;
  TCommByteSize byteSize_ = cbs8;
  TCommStopBits stopBits_ = csb1;
  TCommFlowControls flow_ = Bit(cfcRtsCts);
  int receiveNotifySize_ = 3072;
  int sendNotifySize_ = 1024;
  std::atomic<TCommEventMask> eventMask_{0};

  mutable std::recursive_mutex mutex_;  // guards fd_ and the device calls
  int fd_ = -1;
  int wake_[2] = {-1, -1};
  bool closing_ = false;
  std::atomic<bool> stop_{false};
  std::atomic<bool> hungUp_{false};
  std::thread watch_;
  std::atomic<std::thread::id> watchId_{};
};

}  // namespace brelo
