#include "session/TelnetOptions.h"

#include <algorithm>

namespace brelo {

using namespace telnet;

namespace {

// A subnegotiation value: IAC doubled, as the protocol wants it.
void PutEscaped(std::string& out, unsigned char b) {
  out += static_cast<char>(b);
  if (b == IAC) out += static_cast<char>(IAC);
}

}  // namespace

void TTelnetOptions::Reset() {
  him_.fill(kNo);
  us_.fill(kNo);
  wanted_.fill(false);
  transfer_ = false;
}

bool TTelnetOptions::Agree(bool hostSide, unsigned char option) const {
  if (option == BINARY) return wanted_[option] || transfer_;
  return hostSide ? option == SGA || option == ECHO : option == TTYPE || option == NAWS;
}

void TTelnetOptions::Ask(unsigned char option, std::string& out) {
  wanted_[option] = true;
  Want(him_, true, option, DO, DONT, out);
  Want(us_, true, option, WILL, WONT, out);
}

void TTelnetOptions::GiveBack(unsigned char option, std::string& out) {
  wanted_[option] = false;
  Want(him_, false, option, DO, DONT, out);
  Want(us_, false, option, WILL, WONT, out);
}

void TTelnetOptions::Want(std::array<EState, 256>& side, bool on, unsigned char option, unsigned char yes,
                          unsigned char no, std::string& out) {
  EState& s = side[option];
  switch (s) {
    case kNo:
      if (on) {
        s = kWantYes;
        Send(out, yes, option);
      }
      break;
    case kYes:
      if (!on) {
        s = kWantNo;
        Send(out, no, option);
      }
      break;
    // A request still unanswered: the reverse one follows its answer.
    case kWantNo: if (on) s = kWantNoOpposite; break;
    case kWantNoOpposite: if (!on) s = kWantNo; break;
    case kWantYes: if (!on) s = kWantYesOpposite; break;
    case kWantYesOpposite: if (on) s = kWantYes; break;
  }
}

void TTelnetOptions::Received(std::array<EState, 256>& side, bool agree, bool positive, unsigned char option,
                              unsigned char yes, unsigned char no, std::string& out) {
  EState& s = side[option];
  if (positive) {
    switch (s) {
      case kNo:
        if (agree) {
          s = kYes;
          Send(out, yes, option);
          if (yes == WILL && option == NAWS) SendWindowSize(out);
        } else {
          Send(out, no, option);  // each time it is asked
        }
        break;
      case kYes: break;  // already on: no answer, or the two would loop
      case kWantNo: s = kNo; break;  // our "off" answered with "on": the host is wrong, and off it stays
      case kWantNoOpposite: s = kYes; break;
      case kWantYes: s = kYes; break;  // the agreement to our own request
      case kWantYesOpposite:
        s = kWantNo;
        Send(out, no, option);
        break;
    }
  } else {
    switch (s) {
      case kNo: break;
      case kYes:
        s = kNo;
        Send(out, no, option);
        break;
      case kWantNo: s = kNo; break;  // the confirmation of our own "off"
      case kWantNoOpposite:
        s = kWantYes;
        Send(out, yes, option);
        break;
      case kWantYes:
      case kWantYesOpposite: s = kNo; break;  // our request refused: nothing to confirm
    }
  }
}

void TTelnetOptions::Send(std::string& out, unsigned char verb, unsigned char option) {
  out += static_cast<char>(IAC);
  out += static_cast<char>(verb);
  out += static_cast<char>(option);
}

void TTelnetOptions::SendWindowSize(std::string& out) const {
  out += static_cast<char>(IAC);
  out += static_cast<char>(SB);
  out += static_cast<char>(NAWS);
  for (int v : {Columns, Rows}) {
    PutEscaped(out, static_cast<unsigned char>((v >> 8) & 0xFF));
    PutEscaped(out, static_cast<unsigned char>(v & 0xFF));
  }
  out += static_cast<char>(IAC);
  out += static_cast<char>(SE);
}

void TTelnetOptions::WindowSize(int columns, int rows, std::string& out) {
  columns = std::clamp(columns, 1, 0xFFFF);
  rows = std::clamp(rows, 1, 0xFFFF);
  if (columns == Columns && rows == Rows) return;
  Columns = columns;
  Rows = rows;
  if (us_[NAWS] == kYes) SendWindowSize(out);
}

void TTelnetOptions::Command(unsigned char verb, unsigned char option, std::string& out) {
  switch (verb) {
    case WILL:
    case WONT: Received(him_, Agree(true, option), verb == WILL, option, DO, DONT, out); break;
    case DO:
    case DONT: Received(us_, Agree(false, option), verb == DO, option, WILL, WONT, out); break;
    default: break;
  }
}

void TTelnetOptions::Subnegotiation(std::string_view data, std::string& out) {
  if (data.size() >= 2 && static_cast<unsigned char>(data[0]) == TTYPE &&
      static_cast<unsigned char>(data[1]) == TTYPE_SEND && us_[TTYPE] == kYes) {
    out += static_cast<char>(IAC);
    out += static_cast<char>(SB);
    out += static_cast<char>(TTYPE);
    out += static_cast<char>(TTYPE_IS);
    for (char c : TerminalType) PutEscaped(out, static_cast<unsigned char>(c));
    out += static_cast<char>(IAC);
    out += static_cast<char>(SE);
  }
}

}  // namespace brelo
