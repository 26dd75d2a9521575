// The stored articles of a host in UTF-8, for other tools: plain text, or an
// mbox (mboxrd) with proper headers.
#pragma once

#include <ostream>
#include <string>

#include "store/MessageStore.h"

namespace brelo {

// Every board (board < 0) or one board; oldest first. `hostName` names the
// host in message IDs and addresses. File errors raise EInOutError.
void ExportArticles(const TMessageStore& store, int board, bool mbox, const std::string& hostName, std::ostream& out);

// RFC 2047 encoded word of UTF-8 text when it is not plain ASCII.
std::string EncodedWord(const std::string& utf8);
// "Sun, 15 Mar 1998 21:07:33 +0900": the hosts keep Japan time.
std::string MailDate(TDateTime d);

}  // namespace brelo
