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

// A port on 127.0.0.1 where nobody listens.
int ClosedPort();

}  // namespace brelo::test
