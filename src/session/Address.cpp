#include "session/Address.h"

#include <algorithm>

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

}  // namespace

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
