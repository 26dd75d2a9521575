// The demo host's own data: users, boards, messages and mail, kept in a
// folder of Shift-JIS text files, shared by every caller under one lock.
#pragma once

#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace demohost {

struct User {
  std::string id;        // upper case
  std::string password;
  std::string handle;    // Shift-JIS
  bool asksHandle = false;  // asked for a handle instead of a password
  bool sysop = false;
};

struct Board {
  int no = 0;
  std::string name;      // at most 8 bytes
  std::string title;     // Shift-JIS
  bool readOnly = false; // only the sysop writes
  bool sysopOnly = false;
};

struct Message {
  int no = 0;
  std::string fromId, fromHandle;
  std::string date;      // "yy/MM/dd hh:mm:ss"
  std::string title;
  std::vector<std::string> body;
  std::string to;        // mail only
};

class HostData {
 public:
  // Loads the folder, creating it with sample content when it is empty.
  explicit HostData(std::string folder);

  std::mutex& Lock() { return m_; }
  // All below: call with Lock() held.
  const User* FindUser(const std::string& id) const;
  std::vector<User> Users() const { return users_; }
  const Board* FindBoard(int no) const;
  std::vector<Board> Boards() const { return boards_; }
  std::vector<Message> Messages(int board) const;
  const Message* FindMessage(int board, int no) const;
  int AddMessage(int board, Message m);        // returns its number
  std::vector<Message> Mail(const std::string& id) const;
  void AddMail(const std::string& to, Message m);
  void DeleteMail(const std::string& id, size_t index);
  int LastRead(const std::string& id, int board) const;
  void SetLastRead(const std::string& id, int board, int no);
  const std::string& Folder() const { return folder_; }

 private:
  void CreateSample();
  void Load();
  void SaveBoardMessages(int board) const;
  void SaveMail(const std::string& id) const;
  void SaveLastRead() const;

  std::string folder_;
  mutable std::mutex m_;
  std::vector<User> users_;
  std::vector<Board> boards_;
  std::map<int, std::vector<Message>> messages_;
  std::map<std::string, std::vector<Message>> mail_;
  std::map<std::string, std::map<int, int>> lastRead_;
};

// Mail that only its content tells apart: two from HANAKO with one title in
// one minute, the second a shorter beginning of the first, and two from
// KENJI whose date no one can read.
std::vector<Message> LookAlikeMail();

// Lines people wrote that quote the host's own screens: its prompts, its
// results, a chat line, headers. In a body they are text like any other.
std::vector<std::string> QuotedScreens();

// "yy/MM/dd hh:mm:ss" of now.
std::string NowText();

}  // namespace demohost
