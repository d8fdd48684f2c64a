// A TCP server on 127.0.0.1 that misbehaves on purpose, for the probe fault
// tests: it holds connections unanswered, closes them at once, or answers
// with whatever bytes it is given (an endless status line, a mountain of
// headers, half a line, something that is not HTTP), or drips them out a
// byte at a time. One connection at a time, on its own thread; portable over
// LoopbackSocket.
#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "support/loopback_socket.h"

namespace qov::test {

class HostileHttpServer {
 public:
  enum class Behaviour {
    kHold,         // reads the request, never answers, keeps the connection
    kCloseAtOnce,  // closes each connection as soon as it is accepted, unread
    kReply,        // reads the request head, sends `reply`, shuts down its side
    kDrip,         // reads the request head, sends the first `at_once` bytes of `reply`, then the
                   // rest a byte every kDripMs; keeps the connection
  };
  static constexpr int kDripMs = 2000;

  explicit HostileHttpServer(Behaviour behaviour, std::string reply = "", std::size_t at_once = 0)
      : behaviour_(behaviour), reply_(std::move(reply)), at_once_(at_once) {
    LoopbackSocket::StartLibrary();
    listener_ = LoopbackSocket::Listen(port_);
    thread_ = std::thread([this] { Serve(); });
  }
  ~HostileHttpServer() {
    stop_ = true;
    thread_.join();
    held_.clear();
    listener_ = LoopbackSocket();
    LoopbackSocket::StopLibrary();
  }
  HostileHttpServer(const HostileHttpServer&) = delete;
  HostileHttpServer& operator=(const HostileHttpServer&) = delete;

  std::uint16_t Port() const { return port_; }
  int Connections() const { return connections_.load(); }
  // "127.0.0.1:PORT" + path, as a check address names it.
  std::string Target(const std::string& path = "/") const { return "127.0.0.1:" + std::to_string(port_) + path; }

 private:
  void Serve() {
    while (!stop_) {
      if (!listener_.Readable(20)) continue;
      LoopbackSocket client = listener_.Accept();
      if (!client) continue;
      ++connections_;
      if (behaviour_ == Behaviour::kCloseAtOnce) continue;  // closed when `client` goes
      ReadHead(client);
      if (behaviour_ == Behaviour::kHold) {
        held_.push_back(std::move(client));
        continue;
      }
      if (behaviour_ == Behaviour::kDrip) {
        Drip(client);
        continue;
      }
      client.SendAndShutdown(reply_);
      // Let the client read what it wants and close first.
      char buf[4096];
      while (!stop_ && client.Readable(200) && client.Receive(buf, sizeof buf) > 0) {
      }
    }
  }

  // Each byte goes out alone, the next one kDripMs later, until the reply
  // is out, the client has gone, or the server stops.
  void Drip(LoopbackSocket& client) {
    const std::size_t first = std::min(at_once_, reply_.size());
    if (first > 0 && !client.Send(reply_.substr(0, first))) return;
    for (std::size_t sent = first; !stop_ && sent < reply_.size(); ++sent) {
      if (!client.Send(reply_.substr(sent, 1))) return;
      for (int waited = 0; !stop_ && waited < kDripMs; waited += 20) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
      }
    }
    while (!stop_) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }

  static void ReadHead(LoopbackSocket& client) {
    std::string head;
    char buf[1024];
    while (head.find("\r\n\r\n") == std::string::npos && client.Readable(2000)) {
      const int n = client.Receive(buf, sizeof buf);
      if (n <= 0) break;
      head.append(buf, static_cast<std::size_t>(n));
    }
  }

  Behaviour behaviour_;
  std::string reply_;
  std::size_t at_once_;
  LoopbackSocket listener_;
  std::uint16_t port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<int> connections_{0};
  std::vector<LoopbackSocket> held_;  // owned by the server thread until it ends
  std::thread thread_;
};

}  // namespace qov::test
