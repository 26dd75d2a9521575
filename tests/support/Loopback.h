// A peer on 127.0.0.1 for transport and session tests: listens on a free
// port, accepts one caller and lets the test write, read, hang up or reset.
#pragma once

#include <string>

namespace brelo::test {

class TLoopbackPeer {
 public:
  TLoopbackPeer();  // listening at once
  ~TLoopbackPeer();
  int Port() const { return port_; }
  // Waits for the caller (bounded); false when none came.
  bool Accept(int limitMs = 10000);
  void Write(const std::string& bytes);
  // Everything received until `until` appears or limitMs passes.
  std::string ReadUntil(const std::string& until, int limitMs = 10000);
  std::string Received() const { return received_; }
  void HangUp();      // orderly close
  void Reset();       // close with a reset (RST)
  void StopListening();

 private:
  int listen_ = -1;
  int conn_ = -1;
  int port_ = 0;
  std::string received_;
};

// A socket listening on 127.0.0.1 at a port the kernel chose (set in
// `port`), with room for `backlog` calls not yet taken; throws when it cannot.
int ListenOnLoopback(int backlog, int& port);

// A port on 127.0.0.1 where nobody listens.
int ClosedPort();

// An address that takes no calls and refuses none, like a host that drops
// packets: a listener on 127.0.0.1 (or ::1) whose queue of calls not yet
// taken is full, so the kernel drops every further SYN and a connect to it
// hangs until its own time-out. Throws when the queue cannot be filled.
class TSilentListener {
 public:
  explicit TSilentListener(bool ipv6 = false);
  ~TSilentListener();
  TSilentListener(const TSilentListener&) = delete;
  TSilentListener& operator=(const TSilentListener&) = delete;
  int Port() const { return port_; }

 private:
  int listen_ = -1;
  int filler_ = -1;
  int port_ = 0;
};

// Whether this machine has an IPv6 loopback to listen on.
bool HaveIpv6Loopback();

// How many of this machine's TCP sockets are calling port (IPv4 or IPv6)
// and have had no answer yet (SYN sent).
int UnansweredCallsTo(int port);

}  // namespace brelo::test
