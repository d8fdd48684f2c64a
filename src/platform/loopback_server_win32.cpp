#include <atomic>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "platform/loopback_server.h"
#include "platform/win32.h"

namespace qov::platform {
namespace {

class UniqueSocket {
 public:
  explicit UniqueSocket(SOCKET s = INVALID_SOCKET) : s_(s) {}
  UniqueSocket(UniqueSocket&& o) noexcept : s_(o.s_) { o.s_ = INVALID_SOCKET; }
  UniqueSocket& operator=(UniqueSocket&& o) noexcept {
    std::swap(s_, o.s_);
    return *this;
  }
  ~UniqueSocket() {
    if (s_ != INVALID_SOCKET) ::closesocket(s_);
  }
  SOCKET get() const { return s_; }
  explicit operator bool() const { return s_ != INVALID_SOCKET; }

 private:
  SOCKET s_;
};

bool Readable(SOCKET s, long ms) {
  fd_set set;
  FD_ZERO(&set);
  FD_SET(s, &set);
  timeval tv{ms / 1000, (ms % 1000) * 1000};
  return ::select(0, &set, nullptr, nullptr, &tv) > 0;
}

}  // namespace

struct LoopbackServer::Impl {
  std::string reply;
  UniqueSocket listener;
  std::uint16_t port = 0;
  std::atomic<bool> stop{false};
  std::atomic<int> connections{0};
  mutable std::mutex mutex;
  std::string last_request;
  std::vector<UniqueSocket> held;  // unanswered connections, owned by the server thread
  std::thread thread;

  void Serve() {
    while (!stop.load()) {
      if (!Readable(listener.get(), 20)) continue;
      UniqueSocket client(::accept(listener.get(), nullptr, nullptr));
      if (!client) continue;
      ++connections;
      std::string head;
      char buf[1024];
      while (head.find("\r\n\r\n") == std::string::npos && Readable(client.get(), 2000)) {
        const int n = ::recv(client.get(), buf, sizeof buf, 0);
        if (n <= 0) break;
        head.append(buf, static_cast<std::size_t>(n));
      }
      {
        std::lock_guard lock(mutex);
        last_request = head;
      }
      if (reply.empty()) {
        held.push_back(std::move(client));
        continue;
      }
      ::send(client.get(), reply.data(), static_cast<int>(reply.size()), 0);
      ::shutdown(client.get(), SD_SEND);
      while (Readable(client.get(), 200) && ::recv(client.get(), buf, sizeof buf, 0) > 0) {
      }
    }
  }
};

LoopbackServer::LoopbackServer(std::string reply) : impl_(std::make_unique<Impl>()) {
  WSADATA data{};
  ::WSAStartup(0x0202, &data);
  impl_->reply = std::move(reply);
  impl_->listener = UniqueSocket(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int length = sizeof a;
  ::bind(impl_->listener.get(), reinterpret_cast<sockaddr*>(&a), sizeof a);
  ::listen(impl_->listener.get(), 16);
  ::getsockname(impl_->listener.get(), reinterpret_cast<sockaddr*>(&a), &length);
  impl_->port = ntohs(a.sin_port);
  impl_->thread = std::thread([this] { impl_->Serve(); });
}

LoopbackServer::~LoopbackServer() {
  impl_->stop = true;
  impl_->thread.join();
  impl_.reset();
  ::WSACleanup();
}

std::uint16_t LoopbackServer::Port() const { return impl_->port; }
int LoopbackServer::Connections() const { return impl_->connections.load(); }
std::string LoopbackServer::LastRequest() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->last_request;
}

}  // namespace qov::platform
