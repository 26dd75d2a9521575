#include "reader/UserList.h"

#include "common/FileUtil.h"
#include "common/StringLock.h"

namespace brelo {
namespace {
std::string TrimControlsRight(std::string s) {
  while (!s.empty() && static_cast<unsigned char>(s.back()) < 33) s.pop_back();
  return s;
}
}  // namespace

void TUserList::Clear() {
  Items.clear();
  if (OnChanged) OnChanged();
}

void TUserList::Load(const std::string& hostFolder) {
  Items.clear();
  if (!hostFolder.empty()) {
    if (auto text = ReadWholeFile(FileName(hostFolder))) Items = SplitLines(*text);
  }
  if (OnChanged) OnChanged();
}

void TUserList::Receive(const std::string& users, const std::string& hostFolder) {
  Items = SplitLines(users);
  if (OnChanged) OnChanged();
  if (!hostFolder.empty()) WriteFileAtomic(FileName(hostFolder), JoinLinesCRLF(Items));
}

void TUserList::Pick(const std::string& item, std::string& id, std::string& handle) {
  id = TrimControlsRight(SafeCopy(item, 1, 8));
  handle = TrimControlsRight(SafeCopy(item, 11, 14));
}

bool TUserList::IsRuler(const std::string& item) {
  return item.find('-') != std::string::npos && item.find_first_not_of("- ") == std::string::npos;
}

std::vector<int> TUserList::ShownItems() const {
  std::vector<int> shown;
  for (size_t i = 0; i < Items.size(); ++i) {
    if (!IsRuler(Items[i])) shown.push_back(static_cast<int>(i));
  }
  return shown;
}

}  // namespace brelo
