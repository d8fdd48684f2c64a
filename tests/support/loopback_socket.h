// The few socket calls the loopback test server needs, per OS.
#pragma once

#include <cstdint>
#include <string>

namespace qov::test {

// Owns one TCP socket (a file descriptor or a SOCKET, kept as an integer).
class LoopbackSocket {
 public:
  LoopbackSocket() = default;
  LoopbackSocket(LoopbackSocket&& o) noexcept : handle_(o.handle_) { o.handle_ = kNone; }
  LoopbackSocket& operator=(LoopbackSocket&& o) noexcept;
  LoopbackSocket(const LoopbackSocket&) = delete;
  LoopbackSocket& operator=(const LoopbackSocket&) = delete;
  ~LoopbackSocket();

  // A listening socket on 127.0.0.1 and a port of the system's choice.
  static LoopbackSocket Listen(std::uint16_t& port);
  LoopbackSocket Accept();
  bool Readable(int timeout_ms);
  // Bytes received, 0 or less at the end or on error.
  int Receive(char* buffer, int size);
  // Sends `data` and shuts the sending side down.
  void SendAndShutdown(const std::string& data);
  // Sends `data`, keeping the sending side open; false when it did not go out.
  bool Send(const std::string& data);

  explicit operator bool() const { return handle_ != kNone; }

  // Socket library start and stop (Winsock counts them; nothing elsewhere).
  static void StartLibrary();
  static void StopLibrary();

 private:
  static constexpr std::intptr_t kNone = -1;
  explicit LoopbackSocket(std::intptr_t h) : handle_(h) {}
  std::intptr_t handle_ = kNone;
};

}  // namespace qov::test
