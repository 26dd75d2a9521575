// The web page of an address look-up: fetched over http:// or https:// by
// Qt's network access, which lives on the main thread, for a thread that
// waits; and the telnet address the page names.
#pragma once

#include <functional>
#include <string>

namespace brelo {

struct TWebPage {
  bool ok = false;
  std::string body;   // the page's bytes as served (chunks joined, decompressed)
  std::string error;  // Shift-JIS: why there is no page
};

constexpr int kWebTimeoutMs = 30000;     // no byte for this long: the fetch fails
constexpr int kWebMaxRedirects = 5;
constexpr long long kWebMaxPageBytes = 4LL << 20;  // an address page is small

// Fetches url on the main thread and waits (redirects followed, at most
// kWebMaxRedirects). Gives up at once, with an error, when cancelled()
// becomes true; the request is then aborted on the main thread.
TWebPage FetchWebPage(const std::string& url, const std::function<bool()>& cancelled);

// An address as a URL: bytes beyond ASCII, blanks and controls in the path
// percent-encoded.
std::string EncodeUrl(const std::string& scheme, const std::string& host, const std::string& path);

// The address the page names, read line by line (a line ends at CR or LF;
// the first 120 bytes of each count): the first line with "telnet://"
// gives what follows the line's first "://" up to the next "/" (at most 99
// bytes); a line with "</HTML>" before it ends the search. False when the
// page names none.
bool FindPageAddress(const std::string& page, std::string& hostPort);

}  // namespace brelo
