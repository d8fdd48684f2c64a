#include <arpa/inet.h>
#include <cerrno>
#include <linux/errqueue.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/ip.h>
#include <netinet/ip_icmp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <optional>

#include "platform/net_probe.h"
#include "platform/curl_library_posix.h"
#include "platform/posix_fd.h"

namespace qov::platform {
namespace {

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

ProbeOutcome Failed(ProbeFault fault, std::uint32_t code = 0) { return {fault, code, {}}; }

ProbeOutcome FailedWithErrno(int error) {
  switch (error) {
    case ECONNREFUSED: return Failed(ProbeFault::kConnectionRefused);
    case ENETUNREACH: return Failed(ProbeFault::kNetworkUnreachable);
    case EHOSTUNREACH: return Failed(ProbeFault::kHostUnreachable);
    case ETIMEDOUT: return Failed(ProbeFault::kTimedOut);
    default: return Failed(ProbeFault::kSystemError, static_cast<std::uint32_t>(error));
  }
}

std::uint16_t Field16(const std::uint8_t* at) { return static_cast<std::uint16_t>(at[0] << 8 | at[1]); }

// What a received packet says about our request: an echo reply (kNone), an
// ICMP error about it (kIcmpStatus), or nothing (kNoReply). A datagram
// socket gets only its own replies (the system rewrites the id), without the
// IP header, and its errors through the error queue; a raw one sees every
// ICMP packet, errors included, and recognises ours by the request they quote.
ProbeOutcome Classify(const std::uint8_t* packet, std::size_t length, bool raw, const Ipv4Address& to,
                      const sockaddr_in& from, std::uint16_t id, std::uint16_t seq) {
  const ProbeOutcome none = Failed(ProbeFault::kNoReply);
  if (raw) {
    if (length < 20) return none;
    const std::size_t ip_header = static_cast<std::size_t>(packet[0] & 0x0F) * 4;
    if (length < ip_header + 8) return none;
    packet += ip_header;
    length -= ip_header;
  }
  if (length < 8) return none;
  if (packet[0] == kEchoReply) {
    const bool ours = std::memcmp(&from.sin_addr, to.data(), 4) == 0 && Field16(packet + 6) == seq &&
                      (!raw || Field16(packet + 4) == id);
    return ours ? ProbeOutcome{} : none;
  }
  const std::uint32_t status = IpStatusForIcmpError(packet[0], packet[1]);
  if (!raw || status == 0) return none;
  // The error quotes our IP header and the first 8 bytes of our request.
  const std::uint8_t* quoted = packet + 8;
  const std::size_t quoted_length = length - 8;
  if (quoted_length < 20) return none;
  const std::size_t quoted_header = static_cast<std::size_t>(quoted[0] & 0x0F) * 4;
  if (quoted_length < quoted_header + 8 || std::memcmp(quoted + 16, to.data(), 4) != 0) return none;
  const std::uint8_t* request = quoted + quoted_header;
  const bool ours = request[0] == kEchoRequest && Field16(request + 4) == id && Field16(request + 6) == seq;
  return ours ? Failed(ProbeFault::kIcmpStatus, status) : none;
}

// An ICMP error queued on a datagram socket (IP_RECVERR) for a request to `to`.
ProbeOutcome QueuedError(int fd, const Ipv4Address& to) {
  std::uint8_t data[64];
  alignas(cmsghdr) char control[256];
  sockaddr_in original{};
  iovec iov{data, sizeof data};
  msghdr msg{};
  msg.msg_name = &original;
  msg.msg_namelen = sizeof original;
  msg.msg_iov = &iov;
  msg.msg_iovlen = 1;
  msg.msg_control = control;
  msg.msg_controllen = sizeof control;
  if (::recvmsg(fd, &msg, MSG_ERRQUEUE | MSG_DONTWAIT) < 0) return Failed(ProbeFault::kNoReply);
  if (std::memcmp(&original.sin_addr, to.data(), 4) != 0) return Failed(ProbeFault::kNoReply);
  for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(&msg, c)) {
    if (c->cmsg_level != SOL_IP || c->cmsg_type != IP_RECVERR) continue;
    sock_extended_err e{};
    std::memcpy(&e, CMSG_DATA(c), sizeof e);
    if (e.ee_origin == SO_EE_ORIGIN_ICMP) {
      const std::uint32_t status = IpStatusForIcmpError(e.ee_type, e.ee_code);
      if (status != 0) return Failed(ProbeFault::kIcmpStatus, status);
    }
    if (e.ee_errno != 0) return FailedWithErrno(static_cast<int>(e.ee_errno));
  }
  return Failed(ProbeFault::kNoReply);
}

// The outcome of a finished transfer with no status read.
ProbeOutcome FailedWithCurl(CURLcode rc, long os_errno) {
  switch (rc) {
    case CURLE_URL_MALFORMAT:
    case CURLE_UNSUPPORTED_PROTOCOL: return Failed(ProbeFault::kInvalidTarget);
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY: return Failed(ProbeFault::kNameNotResolved);
    case CURLE_COULDNT_CONNECT:
      return os_errno != 0 ? FailedWithErrno(static_cast<int>(os_errno)) : Failed(ProbeFault::kConnectionRefused);
    case CURLE_OPERATION_TIMEDOUT: return Failed(ProbeFault::kTimedOut);
    case CURLE_PEER_FAILED_VERIFICATION: return Failed(ProbeFault::kTlsUntrusted);
    case CURLE_SSL_CONNECT_ERROR: return Failed(ProbeFault::kTlsHandshake);
    case CURLE_OK:  // a transfer that ended without a status line
    case CURLE_GOT_NOTHING:
    case CURLE_WEIRD_SERVER_REPLY:
    case CURLE_HTTP2:
    case CURLE_PARTIAL_FILE:
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR: return Failed(ProbeFault::kNoHttpResponse);
    default: return Failed(ProbeFault::kSystemError, static_cast<std::uint32_t>(rc));
  }
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

namespace {

// The echo: resolved, sent, and its reply waited for. With `stop`, its
// event is watched beside the socket, and nothing comes back once the stop
// is set.
std::optional<ProbeOutcome> Echo(const std::string& host, std::uint32_t timeout_ms, StopRequest* stop) {
  if (host.empty()) return Failed(ProbeFault::kInvalidTarget);
  bool raw = false;
  UniqueFd fd = OpenIcmpSocket(raw);
  if (!fd) return FailedWithErrno(errno);
  const Ipv4Address address = ResolveHost(host);
  // Linux answers an echo to 0.0.0.0 from the local host; a failed
  // resolution must fail the probe, so nothing is sent to it.
  if (address == Ipv4Address{}) return Failed(ProbeFault::kNameNotResolved);
  if (!raw) {
    const int on = 1;
    ::setsockopt(fd.get(), SOL_IP, IP_RECVERR, &on, sizeof on);
  }

  sockaddr_in to{};
  to.sin_family = AF_INET;
  std::memcpy(&to.sin_addr, address.data(), 4);
  const auto id = static_cast<std::uint16_t>(::getpid());
  static std::atomic<std::uint16_t> next_seq{0};
  const std::uint16_t seq = ++next_seq;
  std::uint8_t request[8] = {kEchoRequest, 0, 0, 0, static_cast<std::uint8_t>(id >> 8), static_cast<std::uint8_t>(id),
                             static_cast<std::uint8_t>(seq >> 8), static_cast<std::uint8_t>(seq)};
  const std::uint16_t sum = Checksum(request, sizeof request);
  request[2] = static_cast<std::uint8_t>(sum >> 8);
  request[3] = static_cast<std::uint8_t>(sum);
  if (::sendto(fd.get(), request, sizeof request, 0, reinterpret_cast<sockaddr*>(&to), sizeof to) < 0) {
    return FailedWithErrno(errno);
  }

  using Steady = std::chrono::steady_clock;
  const auto deadline = Steady::now() + std::chrono::milliseconds(timeout_ms);
  const int stop_fd = stop ? stop->Wake().ReadableFd() : -1;
  if (stop && stop->IsSet()) return std::nullopt;
  // An error the system reported for the socket (a raw one takes ICMP errors
  // as such too). The ICMP message behind it, when already queued, says more.
  std::optional<ProbeOutcome> socket_error;
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Steady::now()).count();
    if (left <= 0) return socket_error.value_or(Failed(ProbeFault::kTimedOut));
    pollfd p[2] = {{fd.get(), POLLIN, 0}, {stop_fd, POLLIN, 0}};
    const int ready = ::poll(p, stop_fd >= 0 ? 2 : 1, socket_error ? 0 : static_cast<int>(left));
    if (ready == 0) return socket_error.value_or(Failed(ProbeFault::kTimedOut));
    if (ready < 0) {
      if (errno == EINTR) continue;
      return FailedWithErrno(errno);
    }
    if (stop_fd >= 0 && (p[1].revents & POLLIN)) {
      if (stop->IsSet()) return std::nullopt;
      stop->Wake().TryTake();  // a wake-up that is not the stop: nothing to do here
      if (!(p[0].revents & (POLLIN | POLLERR))) continue;
    }
    const short revents = p[0].revents;
    if ((revents & POLLERR) && !raw) {
      const ProbeOutcome error = QueuedError(fd.get(), address);
      if (error.fault != ProbeFault::kNoReply) return error;
    }
    std::uint8_t reply[128];
    sockaddr_in from{};
    socklen_t from_length = sizeof from;
    const ssize_t n =
        ::recvfrom(fd.get(), reply, sizeof reply, MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&from), &from_length);
    if (n < 0) {
      if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) socket_error = FailedWithErrno(errno);
      continue;
    }
    const ProbeOutcome seen = Classify(reply, static_cast<std::size_t>(n), raw, address, from, id, seq);
    if (seen.fault != ProbeFault::kNoReply) return seen;
  }
}

}  // namespace

ProbeOutcome IcmpEcho(const std::string& host, std::uint32_t timeout_ms) { return *Echo(host, timeout_ms, nullptr); }

bool CanEchoOnCallingThread(const std::string& host) {
  in_addr numeric{};
  return ::inet_pton(AF_INET, host.c_str(), &numeric) == 1;
}

std::optional<ProbeOutcome> IcmpEchoUntilStop(const std::string& host, std::uint32_t timeout_ms, StopRequest& stop) {
  return Echo(host, timeout_ms, &stop);
}

ProbeOutcome HttpGet(const std::string& url, std::uint32_t timeout_ms) {
  return HttpGetThrough(SharedCurlLibrary(), url, timeout_ms);
}

ProbeOutcome HttpGetThrough(const CurlLibrary& library, const std::string& url, std::uint32_t timeout_ms) {
  const CurlFunctions* const c = library.Functions();
  if (!c) return {ProbeFault::kSystemError, CURLE_FAILED_INIT, {}, library.Error()};
  CURL* curl = c->easy_init();
  if (!curl) return Failed(ProbeFault::kSystemError, CURLE_FAILED_INIT);
  c->easy_setopt(curl, CURLOPT_URL, url.c_str());
  c->easy_setopt(curl, CURLOPT_USERAGENT, "InetURL:/1.0");
  c->easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
  c->easy_setopt(curl, CURLOPT_MAXREDIRS, 10L);
  c->easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
  c->easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  c->easy_setopt(curl, CURLOPT_FRESH_CONNECT, 1L);
  c->easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  c->easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(timeout_ms));
  c->easy_setopt(curl, CURLOPT_TIMEOUT_MS, static_cast<long>(timeout_ms));
  c->easy_setopt(curl, CURLOPT_WRITEFUNCTION, DiscardBody);
  const CURLcode rc = c->easy_perform(curl);
  long code = 0;
  long os_errno = 0;
  if (rc == CURLE_OK || rc == CURLE_WRITE_ERROR) c->easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &code);
  c->easy_getinfo(curl, CURLINFO_OS_ERRNO, &os_errno);
  c->easy_cleanup(curl);
  if (code > 0) return {ProbeFault::kNone, 0, std::to_string(code)};
  return FailedWithCurl(rc, os_errno);
}

}  // namespace qov::platform
