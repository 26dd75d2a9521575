#include "session/TelnetOptions.h"

#include <algorithm>

namespace brelo {

using namespace telnet;

namespace {

bool AgreeHostWill(unsigned char option) { return option == SGA || option == ECHO || option == BINARY; }
bool AgreeWeDo(unsigned char option) { return option == TTYPE || option == NAWS || option == BINARY; }

// A subnegotiation value: IAC doubled, as the protocol wants it.
void PutEscaped(std::string& out, unsigned char b) {
  out += static_cast<char>(b);
  if (b == IAC) out += static_cast<char>(IAC);
}

}  // namespace

void TTelnetOptions::Reset() {
  him_.fill(false);
  us_.fill(false);
  refusedHim_.fill(false);
  refusedUs_.fill(false);
  askedHim_.fill(false);
  askedUs_.fill(false);
}

void TTelnetOptions::Ask(unsigned char option, std::string& out) {
  if (!him_[option] && !askedHim_[option]) {
    askedHim_[option] = true;
    Send(out, DO, option);
  }
  if (!us_[option] && !askedUs_[option]) {
    askedUs_[option] = true;
    Send(out, WILL, option);
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
  if (us_[NAWS]) SendWindowSize(out);
}

void TTelnetOptions::Command(unsigned char verb, unsigned char option, std::string& out) {
  switch (verb) {
    case WILL:
      if (him_[option]) break;  // already on: no answer, or the two would loop
      if (askedHim_[option]) {  // the agreement to our own request
        askedHim_[option] = false;
        him_[option] = true;
      } else if (AgreeHostWill(option)) {
        him_[option] = true;
        Send(out, DO, option);
      } else if (!refusedHim_[option]) {
        refusedHim_[option] = true;
        Send(out, DONT, option);
      }
      break;
    case WONT:
      if (askedHim_[option]) {  // our request refused: nothing to confirm
        askedHim_[option] = false;
      } else if (him_[option]) {
        him_[option] = false;
        Send(out, DONT, option);
      }
      break;
    case DO:
      if (us_[option]) break;
      if (askedUs_[option]) {
        askedUs_[option] = false;
        us_[option] = true;
      } else if (AgreeWeDo(option)) {
        us_[option] = true;
        Send(out, WILL, option);
        if (option == NAWS) SendWindowSize(out);
      } else if (!refusedUs_[option]) {
        refusedUs_[option] = true;
        Send(out, WONT, option);
      }
      break;
    case DONT:
      if (askedUs_[option]) {
        askedUs_[option] = false;
      } else if (us_[option]) {
        us_[option] = false;
        Send(out, WONT, option);
      }
      break;
    default:
      break;
  }
}

void TTelnetOptions::Subnegotiation(std::string_view data, std::string& out) {
  if (data.size() >= 2 && static_cast<unsigned char>(data[0]) == TTYPE &&
      static_cast<unsigned char>(data[1]) == TTYPE_SEND && us_[TTYPE]) {
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
