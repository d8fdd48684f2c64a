#include <utility>

#include "support/loopback_socket.h"
#include "platform/win32.h"

namespace qov::test {
namespace {

SOCKET AsSocket(std::intptr_t h) { return static_cast<SOCKET>(h); }

}  // namespace

LoopbackSocket& LoopbackSocket::operator=(LoopbackSocket&& o) noexcept {
  std::swap(handle_, o.handle_);
  return *this;
}

LoopbackSocket::~LoopbackSocket() {
  if (handle_ != kNone) ::closesocket(AsSocket(handle_));
}

LoopbackSocket LoopbackSocket::Listen(std::uint16_t& port) {
  LoopbackSocket s(static_cast<std::intptr_t>(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP)));
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int length = sizeof a;
  ::bind(AsSocket(s.handle_), reinterpret_cast<sockaddr*>(&a), sizeof a);
  ::listen(AsSocket(s.handle_), 16);
  ::getsockname(AsSocket(s.handle_), reinterpret_cast<sockaddr*>(&a), &length);
  port = ntohs(a.sin_port);
  return s;
}

LoopbackSocket LoopbackSocket::Accept() {
  return LoopbackSocket(static_cast<std::intptr_t>(::accept(AsSocket(handle_), nullptr, nullptr)));
}

bool LoopbackSocket::Readable(int timeout_ms) {
  fd_set set;
  FD_ZERO(&set);
  FD_SET(AsSocket(handle_), &set);
  timeval tv{timeout_ms / 1000, (timeout_ms % 1000) * 1000};
  return ::select(0, &set, nullptr, nullptr, &tv) > 0;
}

int LoopbackSocket::Receive(char* buffer, int size) { return ::recv(AsSocket(handle_), buffer, size, 0); }

void LoopbackSocket::SendAndShutdown(const std::string& data) {
  ::send(AsSocket(handle_), data.data(), static_cast<int>(data.size()), 0);
  ::shutdown(AsSocket(handle_), SD_SEND);
}

bool LoopbackSocket::Send(const std::string& data) {
  return ::send(AsSocket(handle_), data.data(), static_cast<int>(data.size()), 0) == static_cast<int>(data.size());
}

void LoopbackSocket::StartLibrary() {
  WSADATA data{};
  ::WSAStartup(0x0202, &data);
}
void LoopbackSocket::StopLibrary() { ::WSACleanup(); }

}  // namespace qov::test
