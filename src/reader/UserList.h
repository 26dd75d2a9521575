// The user list of the selected host: the host's "u" listing as last
// fetched, kept in Users.TXT in the host's folder.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace brelo {

class TUserList {
 public:
  std::vector<std::string> Items;  // Shift-JIS lines, as the host printed them
  std::function<void()> OnChanged;

  void Clear();
  // Loads HostFolder + "Users.TXT" (a missing file leaves the list empty).
  void Load(const std::string& hostFolder);
  // Replaces the list with a received one and writes Users.TXT; the list
  // shown is the received one even when the file cannot be written (then
  // EInOutError is raised after the list has changed).
  void Receive(const std::string& users, const std::string& hostFolder);
  // ListBox2Click: bytes 1-8 and 11-24 of an item, trailing bytes below 33 removed.
  static void Pick(const std::string& item, std::string& id, std::string& handle);
  // The ruler the host prints under its header ("-------- ----"): shown to
  // nobody as a user, kept in Users.TXT as the host sent it.
  static bool IsRuler(const std::string& item);
  // The indexes of Items the page lists (every item but the rulers).
  std::vector<int> ShownItems() const;
  static std::string FileName(const std::string& hostFolder) { return hostFolder + "Users.TXT"; }
};

}  // namespace brelo
