// Drafting responses, new posts and mail: the response title, the quote, and
// the context each command gives the templates.
#pragma once

#include <string>
#include <vector>

#include "compose/Templates.h"
#include "session/VeskoMessage.h"

namespace brelo {

// "Re:%d)" + the title without a previous prefix of that form, for a board
// article; "Re:" + it for mail. At most 60 bytes, ending on a whole character.
std::string ResponseTitle(const TVeskoMessage& article);

// The quote of an article text as the text box shows it (lines after the
// box's wrapping; line 0, the empty line after the head, is never quoted):
// from the first to the last line with text, each behind the prefix.
std::string QuoteLines(const std::vector<std::string>& shownLines, const std::string& prefix);

// The titles and recipients a new draft starts with.
std::string NewTitle();        // "[新規発言]タイトルを入れて下さい"
std::string NewRecipients();   // "送り先のＩＤを入れてください"

}  // namespace brelo
