// OpenSSL's own web server (`openssl s_server -WWW`) on a loopback port the
// kernel chose, serving files of a folder over TLS with the demo host's
// certificate. It ends each page with close_notify and keeps the TCP
// connection open, as some servers do. Stopped at the end of the test.
#pragma once

#include <string>

#include "support/TempDir.h"

namespace brelo::test {

class TTlsPageServer {
 public:
  // Serves `page` as /index.html.
  explicit TTlsPageServer(const std::string& page);
  ~TTlsPageServer();
  TTlsPageServer(const TTlsPageServer&) = delete;
  TTlsPageServer& operator=(const TTlsPageServer&) = delete;
  int Port() const { return port_; }

 private:
  TTempDir dir_;
  int pid_ = -1;
  int port_ = 0;
};

}  // namespace brelo::test
