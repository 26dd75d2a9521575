#include "support/SshdHost.h"

#include <fcntl.h>
#include <pwd.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <stdexcept>


extern char** environ;

namespace brelo::test {
namespace {

// A path as one word for the shell that runs ForceCommand.
std::string Quoted(const std::string& s) { return "'" + s + "'"; }

std::string Words(const std::vector<std::string>& words) {
  std::string out;
  for (const std::string& w : words) out += " " + Quoted(w);
  return out;
}

}  // namespace

int RunProgram(const std::vector<std::string>& argv, std::string* output) {
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  int pipeFds[2] = {-1, -1};
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
  if (output != nullptr && ::pipe2(pipeFds, O_CLOEXEC) == 0) {
    posix_spawn_file_actions_adddup2(&fa, pipeFds[1], 1);
    posix_spawn_file_actions_adddup2(&fa, pipeFds[1], 2);
  } else {
    posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
  }
  pid_t pid = -1;
  const int rc = ::posix_spawnp(&pid, args[0], &fa, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&fa);
  if (pipeFds[1] >= 0) ::close(pipeFds[1]);
  if (pipeFds[0] >= 0) {
    char buf[4096];
    for (ssize_t n; rc == 0 && (n = ::read(pipeFds[0], buf, sizeof buf)) > 0;) output->append(buf, static_cast<size_t>(n));
    ::close(pipeFds[0]);
  }
  if (rc != 0) return -1;
  int status = 0;
  if (::waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

bool MakeKeyPair(const std::string& file, const std::string& type, const std::string& passphrase) {
  ::unlink(file.c_str());
  ::unlink((file + ".pub").c_str());
  return RunProgram({"ssh-keygen", "-q", "-t", type, "-N", passphrase, "-C", "brelo-test", "-f", file}) == 0;
}

std::string TSshdHost::Missing() {
  if (::access(kSshd, X_OK) != 0) return std::string(kSshd) + " is missing (openssh-server)";
  std::string out;
  if (RunProgram({"ssh-keygen", "-?"}, &out) < 0) return "ssh-keygen is missing (openssh-client)";
  return std::string();
}

std::string TSshdHost::UserName() {
  const passwd* pw = ::getpwuid(::geteuid());
  return pw != nullptr ? pw->pw_name : "root";
}

TSshdHost::TSshdHost() : TSshdHost(TOptions()) {}

TSshdHost::TSshdHost(const TOptions& o) {
  if (const std::string why = Missing(); !why.empty()) throw std::runtime_error(why);
  // sshd as root separates its privileges into this folder, which the
  // system's service makes when it starts (and the tests never start it).
  if (::geteuid() == 0) ::mkdir("/run/sshd", 0755);
  ::mkdir(DataFolder().c_str(), 0755);
  const std::string hostKey = Folder() + "host_key";
  if (!MakeKeyPair(hostKey) || !MakeKeyPair(ClientKey())) throw std::runtime_error("ssh-keygen failed");
  WriteBytes(Folder() + "authorized_keys", ReadBytes(ClientKey() + ".pub"));
  const std::string command = o.command.empty()
                                  ? Quoted(BRELO_DEMOHOST) + " --stdio --data " + Quoted(DataFolder()) +
                                        Words(o.demoHostOptions)
                                  : "cd " + Quoted(Folder()) + " && " + o.command;
  std::string config = "HostKey " + hostKey + "\n" +
                       "AuthorizedKeysFile " + Folder() + "authorized_keys\n"
                       // The test's folder is no user's home: its modes are not the user's business.
                       "StrictModes no\n"
                       "UsePAM no\n"
                       "PubkeyAuthentication yes\n"
                       "PasswordAuthentication no\n"
                       "KbdInteractiveAuthentication no\n"
                       "PermitRootLogin prohibit-password\n"
                       "PrintMotd no\n"
                       "PrintLastLog no\n"
                       "UseDNS no\n"
                       "LogLevel VERBOSE\n"
                       "PidFile none\n"
                       // The account's shell runs the command; as a shell a level
                       // down it reads no startup file of the account's (bash
                       // would read ~/.bashrc for sshd), which could hold it up.
                       "SetEnv SHLVL=1\n"
                       "ForceCommand " + command + "\n";
  for (const std::string& line : o.config) config += line + "\n";
  WriteBytes(Folder() + "sshd_config", config);
  std::string out;
  if (RunProgram({kSshd, "-t", "-f", Folder() + "sshd_config"}, &out) != 0) {
    throw std::runtime_error("sshd refuses its configuration: " + out);
  }
  server_ = std::make_unique<TInetdServer>(
      std::vector<std::string>{kSshd, "-i", "-f", Folder() + "sshd_config", "-E", Folder() + "sshd.log"}, false);
}

TSshdHost::~TSshdHost() = default;

std::string TSshdHost::Address(const std::string& user) const {
  return "ssh://" + (user.empty() ? std::string() : user + "@") + "127.0.0.1:" + std::to_string(Port()) + "/";
}

THostKey TSshdHost::HostKey() const {
  const std::string line = ReadBytes(Folder() + "host_key.pub");
  const size_t blank = line.find(' ');
  return THostKey::FromBase64(line.substr(blank + 1, line.find(' ', blank + 1) - blank - 1));
}

std::string TSshdHost::KnownHostsLine() const {
  const THostKey k = HostKey();
  return KnownHostName("127.0.0.1", Port()) + " " + k.type + " " + k.Base64() + "\n";
}

void TSshdHost::NewHostKey() {
  if (!MakeKeyPair(Folder() + "host_key")) throw std::runtime_error("ssh-keygen failed");
}

std::string TSshdHost::Log() const { return ReadBytes(Folder() + "sshd.log"); }

int TSshdHost::Logins() const {
  const std::string log = Log();
  int n = 0;
  for (size_t at = 0; (at = log.find("Accepted ", at)) != std::string::npos; ++at) {
    if (log.compare(at, 13, "Accepted key ") != 0) ++n;  // "Accepted key ..." only says the key would do
  }
  return n;
}

std::string TSshdHost::Received() const { return ReadBytes(DataFolder() + "received.log"); }
std::string TSshdHost::DataFile(const std::string& name) const { return ReadBytes(DataFolder() + name); }

}  // namespace brelo::test
