// Which captured articles a host's store already holds, so that articles a
// host shows again (after a cut or killed pass, or a session log captured
// twice) are not stored twice.
//
// A board message is known by its board, number and date; a mail, which the
// store numbers itself, by its date, sender and title. A stored copy whose
// text is shorter than the one now received was cut off by a lost line and
// does not count: the whole copy is stored.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <tuple>

#include "store/MessageStore.h"

namespace brelo {

class TDuplicateIndex {
 public:
  explicit TDuplicateIndex(const TMessageStore& store) : store_(store) {}

  // Whether m (captured for `board`) is already stored whole. A board's
  // index is read the first time the board is asked about. Raises
  // EInOutError for an index that cannot be read.
  bool Stored(int board, const TVeskoMessage& m);
  // Notes an article just stored.
  void Add(int board, const TVeskoMessage& m);

 private:
  using TKey = std::tuple<int, int32_t, double, std::string, std::string>;
  static TKey Key(int board, const TVeskoMessage& m);
  void Load(int board);

  const TMessageStore& store_;
  std::array<bool, kBoardCount> loaded_{};
  std::map<TKey, size_t> textBytes_;  // the longest stored text of each key
};

}  // namespace brelo
