// The client's side of telnet option negotiation, answered from the receive
// path, in the manner of RFC 1143 (each side of each option is off, on, or
// waiting for the answer to our own request). Brelo agrees to the host
// suppressing go-ahead and echoing, and to sending its terminal type and
// window size itself. Binary transmission is agreed only while a file
// transfer wants it: a text session ends its lines with CR LF, which a host
// in binary mode reads as two line ends. Every other request is refused.
//
// Refusals are answered each time a request comes (a host that asks again
// waits for an answer); agreements only when the option's state changes, so
// a host and Brelo never answer each other in a loop. A host that sends no
// command gets no answer at all.
#pragma once

#include <array>
#include <cstdint>
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
  // A new connection: every option off, nothing asked for.
  void Reset();
  // Wants the option on both ways (WILL and DO): asks for what is not on or
  // asked for already; the host's agreement then gets no answer.
  void Ask(unsigned char option, std::string& out);
  // Wants the option off both ways again: what is on (or asked for) is
  // given back with WONT and DONT, and later requests are refused.
  void GiveBack(unsigned char option, std::string& out);
  // While a transfer runs, the host may turn binary mode on: a host that
  // asks for it as its transfer starts gets it (outside one it is refused).
  void SetTransfer(bool on) { transfer_ = on; }

  // The terminal's new size: kept for the host's DO NAWS, and sent at once
  // when the host has agreed to hear it and the size changed.
  void WindowSize(int columns, int rows, std::string& out);

  bool HostDoes(unsigned char option) const { return him_[option] == kYes; }
  bool WeDo(unsigned char option) const { return us_[option] == kYes; }

 private:
  // One side of one option. The "opposite" flag of RFC 1143: our wish
  // changed while our request was still unanswered, so the answer is
  // followed by the reverse request.
  enum EState : uint8_t { kNo, kYes, kWantNo, kWantYes, kWantNoOpposite, kWantYesOpposite };
  // One side's answer to a request that reached it: positive is WILL or DO.
  void Received(std::array<EState, 256>& side, bool agree, bool positive, unsigned char option, unsigned char yes,
                unsigned char no, std::string& out);
  void Want(std::array<EState, 256>& side, bool on, unsigned char option, unsigned char yes, unsigned char no,
            std::string& out);
  bool Agree(bool hostSide, unsigned char option) const;
  void Send(std::string& out, unsigned char verb, unsigned char option);
  void SendWindowSize(std::string& out) const;
  std::array<EState, 256> him_{};  // options the host has on
  std::array<EState, 256> us_{};   // options we have on
  std::array<bool, 256> wanted_{};  // options we asked for ourselves (binary for a transfer)
  bool transfer_ = false;
};

}  // namespace brelo
