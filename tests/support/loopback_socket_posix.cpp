#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <utility>

#include "support/loopback_socket.h"

namespace qov::test {

LoopbackSocket& LoopbackSocket::operator=(LoopbackSocket&& o) noexcept {
  std::swap(handle_, o.handle_);
  return *this;
}

LoopbackSocket::~LoopbackSocket() {
  if (handle_ != kNone) ::close(static_cast<int>(handle_));
}

LoopbackSocket LoopbackSocket::Listen(std::uint16_t& port) {
  LoopbackSocket s(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof a;
  const int fd = static_cast<int>(s.handle_);
  ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  ::listen(fd, 16);
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &length);
  port = ntohs(a.sin_port);
  return s;
}

LoopbackSocket LoopbackSocket::Accept() {
  return LoopbackSocket(::accept(static_cast<int>(handle_), nullptr, nullptr));
}

bool LoopbackSocket::Readable(int timeout_ms) {
  pollfd p{static_cast<int>(handle_), POLLIN, 0};
  return ::poll(&p, 1, timeout_ms) > 0;
}

int LoopbackSocket::Receive(char* buffer, int size) {
  return static_cast<int>(::recv(static_cast<int>(handle_), buffer, static_cast<std::size_t>(size), 0));
}

void LoopbackSocket::SendAndShutdown(const std::string& data) {
  ::send(static_cast<int>(handle_), data.data(), data.size(), MSG_NOSIGNAL);
  ::shutdown(static_cast<int>(handle_), SHUT_WR);
}

bool LoopbackSocket::Send(const std::string& data) {
  return ::send(static_cast<int>(handle_), data.data(), data.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(data.size());
}

void LoopbackSocket::StartLibrary() {}
void LoopbackSocket::StopLibrary() {}

}  // namespace qov::test
