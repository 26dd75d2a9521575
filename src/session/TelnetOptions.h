// The client's side of telnet option negotiation, answered from the receive
// path. Brelo agrees to the host suppressing go-ahead and echoing, to
// sending its terminal type and window size itself, and to binary
// transmission both ways (which it asks for itself before a file transfer);
// every other request is refused. An answer is sent only when the option's state changes, and a
// refusal once per option, so a host and Brelo never answer each other in a
// loop. A host that sends no command gets no answer at all.
#pragma once

#include <array>
#include <string>
#include <string_view>

namespace brelo {

namespace telnet {
constexpr unsigned char IAC = 0xFF, DONT = 0xFE, DO = 0xFD, WONT = 0xFC, WILL = 0xFB, SB = 0xFA, SE = 0xF0;
constexpr unsigned char BINARY = 0, ECHO = 1, SGA = 3, TTYPE = 24, NAWS = 31;
constexpr unsigned char TTYPE_IS = 0, TTYPE_SEND = 1;
}  // namespace telnet

class TTelnetOptions {
 public:
  // The name answered when the host asks for the terminal type.
  std::string TerminalType = "VT100";
  int Columns = 80;
  int Rows = 24;

  // IAC verb option from the host; the answer, if any, is appended to out.
  void Command(unsigned char verb, unsigned char option, std::string& out);
  // A subnegotiation's bytes between IAC SB and IAC SE (IAC IAC already one
  // byte); the answer, if any, is appended to out.
  void Subnegotiation(std::string_view data, std::string& out);
  // A new connection: every option off, nothing refused yet.
  void Reset();
  // Asks the host for an option both ways (WILL and DO) unless it is on or
  // asked for already; the host's agreement then gets no answer.
  void Ask(unsigned char option, std::string& out);

  // The terminal's new size: kept for the host's DO NAWS, and sent at once
  // when the host has agreed to hear it and the size changed.
  void WindowSize(int columns, int rows, std::string& out);

  bool HostDoes(unsigned char option) const { return him_[option]; }
  bool WeDo(unsigned char option) const { return us_[option]; }

 private:
  void Send(std::string& out, unsigned char verb, unsigned char option);
  void SendWindowSize(std::string& out) const;
  std::array<bool, 256> him_{};       // options the host has on, with our agreement
  std::array<bool, 256> us_{};        // options we have on
  std::array<bool, 256> refusedHim_{};
  std::array<bool, 256> refusedUs_{};
  std::array<bool, 256> askedHim_{};  // DO sent, no answer yet
  std::array<bool, 256> askedUs_{};   // WILL sent, no answer yet
};

}  // namespace brelo
