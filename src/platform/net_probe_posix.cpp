#include <arpa/inet.h>
#include <curl/curl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/ip.h>
#include <netinet/ip_icmp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>

#include "platform/net_probe.h"
#include "platform/posix_fd.h"

namespace qov::platform {
namespace {

// libcurl's global start is not thread-safe: do it before any thread runs.
const bool curl_started = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;

constexpr std::uint8_t kEchoRequest = 8;
constexpr std::uint8_t kEchoReply = 0;

std::uint16_t Checksum(const std::uint8_t* data, std::size_t length) {
  std::uint32_t sum = 0;
  for (std::size_t i = 0; i + 1 < length; i += 2) sum += static_cast<std::uint32_t>(data[i] << 8 | data[i + 1]);
  if (length % 2) sum += static_cast<std::uint32_t>(data[length - 1] << 8);
  while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
  return static_cast<std::uint16_t>(~sum);
}

// A datagram ICMP socket where the system allows one to this user; as root a raw one.
UniqueFd OpenIcmpSocket(bool& raw) {
  raw = false;
  UniqueFd fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_ICMP));
  if (fd) return fd;
  raw = true;
  return UniqueFd(::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP));
}

// True when `packet` is the reply to our request. A datagram socket gets only
// its own replies (the system rewrites the id), without the IP header.
bool IsOurReply(const std::uint8_t* packet, std::size_t length, bool raw, std::uint16_t id, std::uint16_t seq) {
  if (raw) {
    if (length < 20) return false;
    const std::size_t ip_header = static_cast<std::size_t>(packet[0] & 0x0F) * 4;
    if (length < ip_header + 8) return false;
    packet += ip_header;
    length -= ip_header;
  }
  if (length < 8 || packet[0] != kEchoReply) return false;
  const auto field = [&](std::size_t at) { return static_cast<std::uint16_t>(packet[at] << 8 | packet[at + 1]); };
  return field(6) == seq && (!raw || field(4) == id);
}

std::size_t DiscardBody(char*, std::size_t, std::size_t, void*) {
  return 0;  // the body is never read: stop at its first byte
}

}  // namespace

Ipv4Address ResolveHost(const std::string& host) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_RAW;
  addrinfo* found = nullptr;
  Ipv4Address out{};
  if (::getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || !found) return out;
  const auto* sin = reinterpret_cast<const sockaddr_in*>(found->ai_addr);
  std::memcpy(out.data(), &sin->sin_addr, 4);
  ::freeaddrinfo(found);
  return out;
}

bool IcmpEcho(const std::string& host, std::uint32_t timeout_ms) {
  if (host.empty()) return false;
  bool raw = false;
  UniqueFd fd = OpenIcmpSocket(raw);
  if (!fd) return false;
  const Ipv4Address address = ResolveHost(host);
  // Linux answers an echo to 0.0.0.0 from the local host; a failed
  // resolution must fail the probe, so nothing is sent to it.
  if (address == Ipv4Address{}) return false;

  sockaddr_in to{};
  to.sin_family = AF_INET;
  std::memcpy(&to.sin_addr, address.data(), 4);
  const auto id = static_cast<std::uint16_t>(::getpid());
  static std::uint16_t next_seq = 0;  // only the checker thread probes
  const std::uint16_t seq = ++next_seq;
  std::uint8_t request[8] = {kEchoRequest, 0, 0, 0, static_cast<std::uint8_t>(id >> 8), static_cast<std::uint8_t>(id),
                             static_cast<std::uint8_t>(seq >> 8), static_cast<std::uint8_t>(seq)};
  const std::uint16_t sum = Checksum(request, sizeof request);
  request[2] = static_cast<std::uint8_t>(sum >> 8);
  request[3] = static_cast<std::uint8_t>(sum);
  if (::sendto(fd.get(), request, sizeof request, 0, reinterpret_cast<sockaddr*>(&to), sizeof to) < 0) return false;

  using Steady = std::chrono::steady_clock;
  const auto deadline = Steady::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Steady::now()).count();
    if (left <= 0) return false;
    pollfd p{fd.get(), POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(left)) <= 0) return false;
    std::uint8_t reply[128];
    sockaddr_in from{};
    socklen_t from_length = sizeof from;
    const ssize_t n = ::recvfrom(fd.get(), reply, sizeof reply, 0, reinterpret_cast<sockaddr*>(&from), &from_length);
    if (n < 0) return false;
    if (std::memcmp(&from.sin_addr, address.data(), 4) == 0 &&
        IsOurReply(reply, static_cast<std::size_t>(n), raw, id, seq)) {
      return true;
    }
  }
}

std::string HttpStatusText(const std::string& url, std::uint32_t timeout_ms) {
  if (!curl_started) return {};
  CURL* curl = curl_easy_init();
  if (!curl) return {};
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_USERAGENT, "InetURL:/1.0");
  curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 10L);
  curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(curl, CURLOPT_FRESH_CONNECT, 1L);
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(timeout_ms));
  curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, static_cast<long>(timeout_ms));
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, DiscardBody);
  const CURLcode rc = curl_easy_perform(curl);
  long code = 0;
  if (rc == CURLE_OK || rc == CURLE_WRITE_ERROR) curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &code);
  curl_easy_cleanup(curl);
  return code > 0 ? std::to_string(code) : std::string();
}

}  // namespace qov::platform
