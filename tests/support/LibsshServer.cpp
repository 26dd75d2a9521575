#include "support/LibsshServer.h"

#include <libssh/callbacks.h>
#include <libssh/libssh.h>
#include <libssh/server.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <stdexcept>

#include "support/Loopback.h"
#include "support/SshdHost.h"

namespace brelo::test {

// One caller's session: libssh's callbacks reach the server through it.
struct TLibsshServer::TCall {
  TLibsshServer* server;
  ssh_session session = nullptr;
  ssh_channel channel = nullptr;
  bool authenticated = false;
  std::string kbdintUser;  // a keyboard-interactive answer names no user: its question did
  ssh_channel_callbacks_struct channelCallbacks{};
  int Methods() const {
    return SSH_AUTH_METHOD_PUBLICKEY | (server->options_.passwordMethod ? SSH_AUTH_METHOD_PASSWORD : 0) |
           (server->options_.kbdintMethod ? SSH_AUTH_METHOD_INTERACTIVE : 0);
  }
  bool Right(const char* user, const std::string& given) const {
    return user != nullptr && server->options_.user == user && server->options_.password == given;
  }
};

TLibsshServer::TLibsshServer() : TLibsshServer(TOptions()) {}

TLibsshServer::TLibsshServer(const TOptions& options) : options_(options) {
  if (!MakeKeyPair(dir_.File("host_key"))) throw std::runtime_error("ssh-keygen failed");
  listen_ = ListenOnLoopback(4, port_);
  thread_ = std::thread([this] { Serve(); });
}

TLibsshServer::~TLibsshServer() {
  stop_ = true;
  thread_.join();
  ::close(listen_);
}

std::string TLibsshServer::Address() const {
  return "ssh://" + options_.user + "@127.0.0.1:" + std::to_string(port_) + "/";
}

THostKey TLibsshServer::HostKey() const {
  const std::string line = ReadBytes(dir_.File("host_key.pub"));
  const size_t blank = line.find(' ');
  return THostKey::FromBase64(line.substr(blank + 1, line.find(' ', blank + 1) - blank - 1));
}

std::string TLibsshServer::KnownHostsLine() const {
  const THostKey k = HostKey();
  return KnownHostName("127.0.0.1", port_) + " " + k.type + " " + k.Base64() + "\n";
}

std::vector<std::string> TLibsshServer::Events() const {
  std::lock_guard<std::mutex> lk(m_);
  return events_;
}

bool TLibsshServer::Saw(const std::string& prefix) const {
  const std::vector<std::string> e = Events();
  return std::any_of(e.begin(), e.end(), [&](const std::string& s) { return s.rfind(prefix, 0) == 0; });
}

void TLibsshServer::Note(const std::string& event) {
  std::lock_guard<std::mutex> lk(m_);
  events_.push_back(event);
}

void TLibsshServer::Serve() {
  while (!stop_) {
    pollfd p{listen_, POLLIN, 0};
    if (::poll(&p, 1, 100) <= 0) continue;
    const int c = ::accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
    if (c >= 0) Talk(c);
  }
}

void TLibsshServer::Talk(int fd) {
  ssh_bind bind = ssh_bind_new();
  ssh_session session = ssh_new();
  const std::string hostKey = dir_.File("host_key");
  ssh_bind_options_set(bind, SSH_BIND_OPTIONS_HOSTKEY, hostKey.c_str());
  TCall call{this};
  call.session = session;
  ssh_server_callbacks_struct cb{};
  cb.userdata = &call;
  cb.auth_none_function = [](ssh_session, const char*, void* u) {
    static_cast<TCall*>(u)->server->Note("none");
    return static_cast<int>(SSH_AUTH_DENIED);
  };
  cb.auth_pubkey_function = [](ssh_session, const char*, ssh_key, char, void* u) {
    static_cast<TCall*>(u)->server->Note("publickey");
    return static_cast<int>(SSH_AUTH_DENIED);
  };
  cb.auth_password_function = [](ssh_session, const char* user, const char* password, void* u) {
    auto* call = static_cast<TCall*>(u);
    call->server->Note(std::string("password ") + password);
    call->authenticated = call->Right(user, password);
    return static_cast<int>(call->authenticated ? SSH_AUTH_SUCCESS : SSH_AUTH_DENIED);
  };
  cb.channel_open_request_session_function = [](ssh_session s, void* u) {
    auto* call = static_cast<TCall*>(u);
    call->channel = ssh_channel_new(s);
    ssh_callbacks_init(&call->channelCallbacks);
    call->channelCallbacks.userdata = call;
    call->channelCallbacks.channel_pty_request_function = [](ssh_session, ssh_channel, const char* term, int w, int h,
                                                              int, int, void* u) {
      static_cast<TCall*>(u)->server->Note(std::string("pty ") + term + " " + std::to_string(w) + "x" + std::to_string(h));
      return 0;
    };
    call->channelCallbacks.channel_pty_window_change_function = [](ssh_session, ssh_channel, int w, int h, int, int,
                                                                    void* u) {
      static_cast<TCall*>(u)->server->Note("size " + std::to_string(w) + "x" + std::to_string(h));
      return 0;
    };
    call->channelCallbacks.channel_shell_request_function = [](ssh_session, ssh_channel ch, void* u) {
      static_cast<TCall*>(u)->server->Note("shell");
      const std::string hello = "welcome\r\n";
      ssh_channel_write(ch, hello.data(), static_cast<uint32_t>(hello.size()));
      return 0;
    };
    call->channelCallbacks.channel_data_function = [](ssh_session, ssh_channel, void* data, uint32_t len, int,
                                                       void* u) {
      static_cast<TCall*>(u)->server->Note("data " + std::string(static_cast<char*>(data), len));
      return static_cast<int>(len);
    };
    ssh_set_channel_callbacks(call->channel, &call->channelCallbacks);
    return call->channel;
  };
  ssh_callbacks_init(&cb);
  ssh_set_server_callbacks(session, &cb);
  // Keyboard-interactive has no callback of its own: its messages come here.
  ssh_set_message_callback(
      session,
      [](ssh_session s, ssh_message msg, void* u) {
        auto* call = static_cast<TCall*>(u);
        if (ssh_message_type(msg) != SSH_REQUEST_AUTH || ssh_message_subtype(msg) != SSH_AUTH_METHOD_INTERACTIVE) {
          return 1;
        }
        if (!ssh_message_auth_kbdint_is_response(msg)) {
          const char* user = ssh_message_auth_user(msg);
          call->kbdintUser = user != nullptr ? user : "";
          const char* prompts[] = {"Password: "};
          char echo[] = {0};
          ssh_message_auth_interactive_request(msg, "", "", 1, prompts, echo);
          return 0;
        }
        const char* answer = ssh_userauth_kbdint_getnanswers(s) == 1 ? ssh_userauth_kbdint_getanswer(s, 0) : "";
        call->server->Note(std::string("keyboard-interactive ") + answer);
        if (call->Right(call->kbdintUser.c_str(), answer)) {
          call->authenticated = true;
          ssh_message_auth_reply_success(msg, 0);
        } else {
          ssh_message_auth_set_methods(msg, call->Methods());
          ssh_message_reply_default(msg);
        }
        return 0;
      },
      &call);
  ssh_event event = nullptr;
  if (ssh_bind_accept_fd(bind, session, fd) == SSH_OK) {
    ssh_set_auth_methods(session, call.Methods());
    if (ssh_handle_key_exchange(session) == SSH_OK) {
      event = ssh_event_new();
      ssh_event_add_session(event, session);
      while (!stop_ && ssh_is_connected(session) && ssh_event_dopoll(event, 100) != SSH_ERROR) {
        if (call.channel != nullptr && (ssh_channel_is_eof(call.channel) || ssh_channel_is_closed(call.channel))) break;
      }
      ssh_event_remove_session(event, session);
      ssh_event_free(event);
    }
  } else {
    ::close(fd);
  }
  ssh_disconnect(session);
  ssh_free(session);
  ssh_bind_free(bind);
}

}  // namespace brelo::test
