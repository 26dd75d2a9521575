// Which captured articles a host's store already holds, so that articles a
// host shows again (after a cut or killed pass, or a session log captured
// twice) are not stored twice, and a copy that a lost line cut off is
// completed by the whole one.
//
// The keys only find the stored copies to compare with: a board message's
// board, number and date; a mail's date, sender and title (the store numbers
// mail itself). The text decides:
// - the same text is already stored;
// - a cut capture (the line went before the host ended it) that begins a
//   stored text is already stored, as far as it goes;
// - a stored text that is the beginning of the new one, where the stored
//   copy was cut off (its record says so), is completed by the whole one.
//   A copy stored whole is never taken for cut: the new one is another
//   article;
// - anything else is another article and is stored.
// A mail whose date could not be read has no date to tell it by: it is
// never taken for one already stored (a cut copy of it is still completed).
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "store/MessageStore.h"

namespace brelo {

class TDuplicateIndex {
 public:
  enum class EVerdict { kNew, kStored, kCompletes };
  struct TFinding {
    EVerdict verdict = EVerdict::kNew;
    int indexNo = -1;  // the record that kCompletes completes
  };

  explicit TDuplicateIndex(const TMessageStore& store) : store_(store) {}

  // What to do with m (captured for `board`). A board's index is read the
  // first time the board is asked about; stored texts only when the keys
  // match. Raises EInOutError for a file that cannot be read.
  TFinding Find(int board, const TVeskoMessage& m);
  // Notes m as AppendMessage or CompleteMessage left it (its record number
  // and text position filled in).
  void Stored(int board, const TVeskoMessage& m);

 private:
  using TKey = std::tuple<int, int32_t, double, std::string, std::string>;
  struct TCopy {
    int32_t indexNo, textPos, textLen, mesNo;
    bool knownWhole;  // stored from a capture the host ended
  };
  static TKey Key(int board, const TVeskoMessage& m);
  void Load(int board);
  std::string StoredText(int board, const TCopy& c) const;

  const TMessageStore& store_;
  std::array<bool, kBoardCount> loaded_{};
  std::map<TKey, std::vector<TCopy>> copies_;
};

}  // namespace brelo
