#include "support/loopback_server.h"

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

#include "support/loopback_socket.h"

namespace qov::test {

struct LoopbackServer::Impl {
  std::string reply;
  LoopbackSocket listener;
  std::uint16_t port = 0;
  std::atomic<bool> stop{false};
  std::atomic<int> connections{0};
  mutable std::mutex mutex;
  std::string last_request;
  std::vector<LoopbackSocket> held;  // unanswered connections, owned by the server thread
  std::thread thread;

  void Serve() {
    while (!stop.load()) {
      if (!listener.Readable(20)) continue;
      LoopbackSocket client = listener.Accept();
      if (!client) continue;
      ++connections;
      std::string head;
      char buf[1024];
      while (head.find("\r\n\r\n") == std::string::npos && client.Readable(2000)) {
        const int n = client.Receive(buf, sizeof buf);
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
      client.SendAndShutdown(reply);
      // Let the client read the reply and close first.
      while (client.Readable(200) && client.Receive(buf, sizeof buf) > 0) {
      }
    }
  }
};

LoopbackServer::LoopbackServer(std::string reply) : impl_(std::make_unique<Impl>()) {
  LoopbackSocket::StartLibrary();
  impl_->reply = std::move(reply);
  impl_->listener = LoopbackSocket::Listen(impl_->port);
  impl_->thread = std::thread([this] { impl_->Serve(); });
}

LoopbackServer::~LoopbackServer() {
  impl_->stop = true;
  impl_->thread.join();
  impl_.reset();
  LoopbackSocket::StopLibrary();
}

std::uint16_t LoopbackServer::Port() const { return impl_->port; }
int LoopbackServer::Connections() const { return impl_->connections.load(); }
std::string LoopbackServer::LastRequest() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->last_request;
}

}  // namespace qov::test
