#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/loopback_server.h"
#include "platform/posix_fd.h"

namespace qov::platform {

struct LoopbackServer::Impl {
  std::string reply;
  UniqueFd listener;
  std::uint16_t port = 0;
  std::atomic<bool> stop{false};
  std::atomic<int> connections{0};
  mutable std::mutex mutex;
  std::string last_request;
  std::vector<UniqueFd> held;  // unanswered connections, owned by the server thread
  std::thread thread;

  bool Readable(int fd, int ms) {
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, ms) > 0;
  }

  void Serve() {
    while (!stop.load()) {
      if (!Readable(listener.get(), 20)) continue;
      UniqueFd client(::accept(listener.get(), nullptr, nullptr));
      if (!client) continue;
      ++connections;
      std::string head;
      char buf[1024];
      while (head.find("\r\n\r\n") == std::string::npos && Readable(client.get(), 2000)) {
        const ssize_t n = ::recv(client.get(), buf, sizeof buf, 0);
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
      ::send(client.get(), reply.data(), reply.size(), MSG_NOSIGNAL);
      ::shutdown(client.get(), SHUT_WR);
      while (Readable(client.get(), 200) && ::recv(client.get(), buf, sizeof buf, 0) > 0) {
      }
    }
  }
};

LoopbackServer::LoopbackServer(std::string reply) : impl_(std::make_unique<Impl>()) {
  impl_->reply = std::move(reply);
  impl_->listener.reset(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof a;
  ::bind(impl_->listener.get(), reinterpret_cast<sockaddr*>(&a), sizeof a);
  ::listen(impl_->listener.get(), 16);
  ::getsockname(impl_->listener.get(), reinterpret_cast<sockaddr*>(&a), &length);
  impl_->port = ntohs(a.sin_port);
  impl_->thread = std::thread([this] { impl_->Serve(); });
}

LoopbackServer::~LoopbackServer() {
  impl_->stop = true;
  impl_->thread.join();
}

std::uint16_t LoopbackServer::Port() const { return impl_->port; }
int LoopbackServer::Connections() const { return impl_->connections.load(); }
std::string LoopbackServer::LastRequest() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->last_request;
}

}  // namespace qov::platform
