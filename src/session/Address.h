// A host's address as the host list holds it, and what the connection phase
// does with it.
#pragma once

#include <string>

namespace brelo {

struct TAddress {
  enum EKind { kTelnet, kHttp, kModem } kind = kTelnet;
  std::string host;   // telnet: host (may carry ":port"); http: web server; modem: number
  std::string path;   // http: the page path, without its leading "/"
  bool secure = false;  // http: the page is fetched over TLS ("https://")
};

// Forms, tried in order on the upper-cased address: "HTTPS:" or "HTTP:" (web
// look-up then telnet), "TELNET:", "MODEM:" or "TEL:" (modem call to the host part), no
// "." and no ":" (a bare telephone number), anything else (a bare host, which
// may name a port as host:port). Host and path parts are cut only when the
// address contains "://": the host part precedes the first "/" within 99
// bytes after it (empty without a further "/"), the path part follows that
// "/" within 200 bytes.
TAddress ParseAddress(const std::string& address);

// What keeps an address from being called, in the user's words (Shift-JIS;
// "" when a connection can use it): blanks, a form without the host and "/"
// it needs, a port that is no port, a host name or telephone number with a
// character neither can hold. The host dialog and --add-host check with it.
std::string AddressProblem(const std::string& address);

// Splits "host:port" (port in decimal); without a port, or with a colon
// and nothing after it, the default.
void SplitHostPort(const std::string& hostPort, const std::string& defaultPort, std::string& host,
                   std::string& port);

}  // namespace brelo
