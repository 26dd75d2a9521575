#include "session/Address.h"

#include <algorithm>

#include "common/Sjis.h"
#include "common/StringLock.h"

namespace brelo {
namespace {

void HostAndPath(const std::string& address, std::string& host, std::string& path) {
  host.clear();
  path.clear();
  const int sep = SafePos("://", SafeUpperCase(address));
  if (sep == 0) return;
  const std::string h = SafeCopy(address, sep + 3, 99);
  const int slash = SafePos("/", h);
  host = slash > 0 ? SafeCopy(h, 1, slash - 1) : std::string();
  const std::string p = SafeCopy(address, sep + 3, 200);
  const int pslash = SafePos("/", p);
  path = pslash > 0 ? SafeCopy(p, pslash + 1, 200) : p;
}

// The first character of s that `allowed` refuses, a double-byte one always
// (host names and numbers are ASCII); "" when none.
template <typename Allowed>
std::string FirstRefused(const std::string& s, Allowed allowed) {
  for (size_t i = 0; i < s.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    if (IsDBCSLeadByte(c) && i + 1 < s.size()) return s.substr(i, 2);
    if (!allowed(c)) return s.substr(i, 1);
  }
  return std::string();
}

std::string Quoted(const std::string& s) { return Sjis("「") + s + Sjis("」"); }

std::string PortProblem(const std::string& port) {
  const bool digits = !port.empty() && port.size() <= 5 && port.find_first_not_of("0123456789") == std::string::npos;
  if (digits && std::stoi(port) >= 1 && std::stoi(port) <= 65535) return std::string();
  return Sjis("ポート番号") + Quoted(port) + Sjis("は 1～65535 の数ではありません");
}

// A host name or IP address, with ":port" or not.
std::string HostPortProblem(const std::string& hostPort) {
  std::string host = hostPort, port;
  if (!hostPort.empty() && hostPort[0] == '[') {
    // An IPv6 address in brackets.
    const size_t close = hostPort.find(']');
    if (close == std::string::npos) return Sjis("IPv6 アドレスの ] がありません: ") + Quoted(hostPort);
    host = hostPort.substr(1, close - 1);
    const std::string rest = hostPort.substr(close + 1);
    if (!rest.empty()) {
      if (rest[0] != ':') return Sjis("IPv6 アドレスの ] の後は :ポート番号 だけです: ") + Quoted(hostPort);
      port = rest.substr(1);
    }
  } else if (std::count(hostPort.begin(), hostPort.end(), ':') == 1) {
    const size_t colon = hostPort.find(':');
    host = hostPort.substr(0, colon);
    port = hostPort.substr(colon + 1);
  }
  const bool v6 = host.find(':') != std::string::npos;
  if (host.empty()) return Sjis("ホスト名がありません: ") + Quoted(hostPort);
  const std::string bad = FirstRefused(host, [v6](unsigned char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '.' || c == '-' ||
           c == '_' || (v6 && c == ':');
  });
  if (!bad.empty()) return Sjis("ホスト名") + Quoted(host) + Sjis("に使えない文字") + Quoted(bad) + Sjis("があります");
  if (port.empty() && hostPort.back() != ':') return std::string();
  return PortProblem(port);
}

}  // namespace

std::string AddressProblem(const std::string& address) {
  if (address.empty()) return Sjis("接続先が空です");
  const std::string wideBlank = Sjis("　");
  for (size_t i = 0; i < address.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(address[i]);
    const bool wide = IsDBCSLeadByte(c) && i + 1 < address.size();
    if (wide ? address.compare(i++, 2, wideBlank) == 0 : c <= ' ' || c == 0x7F) {
      return Sjis("接続先に空白か制御文字があります: ") + Quoted(address);
    }
  }
  const TAddress a = ParseAddress(address);
  const bool form = SafePos("://", SafeUpperCase(address)) > 0;
  // The bare forms are upper-cased by the parse: the user's own spelling is told.
  const std::string part = form ? a.host : address;
  switch (a.kind) {
    case TAddress::kHttp:
      if (part.empty()) return Sjis("http:// の後にホスト名と / が要ります (例: http://www.example.jp/bbs/address.html)");
      return HostPortProblem(part);
    case TAddress::kTelnet:
      if (form && SafePos("TELNET:", SafeUpperCase(address)) == 0) {
        return Sjis("接続先の形式がわかりません: ") + Quoted(address) + Sjis(" (telnet:// http:// tel:// のどれかで書きます)");
      }
      if (part.empty()) return Sjis("telnet:// の後にホスト名と / が要ります (例: telnet://127.0.0.1/)");
      return HostPortProblem(part);
    case TAddress::kModem: {
      if (part.empty()) return Sjis("tel:// の後に電話番号と / が要ります (例: tel://0312345678/)");
      // Digits and what a modem's dial string may hold besides.
      const std::string bad = FirstRefused(part, [](unsigned char c) {
        return (c >= '0' && c <= '9') || std::string_view("#*,-()TPWtpw!@;").find(static_cast<char>(c)) != std::string_view::npos;
      });
      if (bad.empty()) return std::string();
      return Sjis("電話番号") + Quoted(part) + Sjis("に使えない文字") + Quoted(bad) + Sjis("があります") +
             (form ? std::string() : Sjis(" (ホスト名なら telnet://名前/ と書きます)"));
    }
  }
  return std::string();
}

TAddress ParseAddress(const std::string& address) {
  const std::string up = SafeUpperCase(address);
  TAddress a;
  if (SafePos("HTTP:", up) > 0 || SafePos("HTTPS:", up) > 0) {
    a.kind = TAddress::kHttp;
    a.secure = SafePos("HTTP:", up) == 0;
    HostAndPath(address, a.host, a.path);
  } else if (SafePos("TELNET:", up) > 0) {
    a.kind = TAddress::kTelnet;
    HostAndPath(address, a.host, a.path);
  } else if (SafePos("MODEM:", up) > 0 || SafePos("TEL:", up) > 0) {
    a.kind = TAddress::kModem;
    HostAndPath(address, a.host, a.path);
  } else if (SafePos(".", up) == 0 && SafePos(":", up) == 0) {
    a.kind = TAddress::kModem;
    a.host = up;
  } else {
    a.kind = TAddress::kTelnet;
    a.host = up;
  }
  return a;
}

void SplitHostPort(const std::string& hostPort, const std::string& defaultPort, std::string& host,
                   std::string& port) {
  host = hostPort;
  port = defaultPort;
  if (!hostPort.empty() && hostPort[0] == '[') {
    // An IPv6 address in brackets, with or without ":port" after them.
    const size_t close = hostPort.find(']');
    if (close == std::string::npos) return;
    host = hostPort.substr(1, close - 1);
    const std::string rest = hostPort.substr(close + 1);
    if (rest.size() > 1 && rest[0] == ':' && rest.find_first_not_of("0123456789", 1) == std::string::npos) {
      port = rest.substr(1);
    }
    return;
  }
  // Two colons or more without brackets: an IPv6 address, which names no port.
  if (std::count(hostPort.begin(), hostPort.end(), ':') > 1) return;
  const size_t colon = hostPort.rfind(':');
  if (colon == std::string::npos) return;
  for (size_t i = colon + 1; i < hostPort.size(); ++i) {
    if (hostPort[i] < '0' || hostPort[i] > '9') return;
  }
  host = hostPort.substr(0, colon);
  if (colon + 1 < hostPort.size()) port = hostPort.substr(colon + 1);  // a colon alone names no port
}

}  // namespace brelo
