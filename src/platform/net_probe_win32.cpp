#include <cstring>

#include "platform/net_probe.h"
#include "platform/win32.h"
#include "platform/win32_handle.h"

#include <iphlpapi.h>
#include <icmpapi.h>
#include <wininet.h>

namespace qov::platform {
namespace {

// The process-wide socket start, made before any thread runs and never
// stopped; each resolution's own start and stop nest inside it.
struct SocketLibrary {
  SocketLibrary() {
    WSADATA data{};
    ::WSAStartup(0x0101, &data);
  }
};
const SocketLibrary socket_library;

inline void CloseIcmp(HANDLE h) { ::IcmpCloseHandle(h); }
inline void CloseInternet(HINTERNET h) { ::InternetCloseHandle(h); }
using UniqueInternet = UniqueWin32<HINTERNET, CloseInternet, nullptr>;

class UniqueIcmp {
 public:
  UniqueIcmp() : h_(::IcmpCreateFile()) {}
  ~UniqueIcmp() {
    if (*this) CloseIcmp(h_);
  }
  UniqueIcmp(const UniqueIcmp&) = delete;
  UniqueIcmp& operator=(const UniqueIcmp&) = delete;
  explicit operator bool() const { return h_ != INVALID_HANDLE_VALUE; }
  HANDLE get() const { return h_; }

 private:
  HANDLE h_;
};

// Send, receive and connect limits on a connect or request handle. Wine
// ignores the connect limit and those set on the session handle.
void SetTimeouts(HINTERNET h, DWORD ms) {
  for (DWORD option : {INTERNET_OPTION_CONNECT_TIMEOUT, INTERNET_OPTION_SEND_TIMEOUT, INTERNET_OPTION_RECEIVE_TIMEOUT}) {
    ::InternetSetOptionA(h, option, &ms, sizeof ms);
  }
}

}  // namespace

Ipv4Address ResolveHost(const std::string& host) {
  WSADATA data{};
  ::WSAStartup(0x0101, &data);
  Ipv4Address out{};
  const hostent* entry = ::gethostbyname(host.c_str());
  if (entry && entry->h_addrtype == AF_INET && entry->h_length == 4 && entry->h_addr_list && entry->h_addr_list[0]) {
    std::memcpy(out.data(), entry->h_addr_list[0], 4);
  }
  ::WSACleanup();
  return out;
}

bool IcmpEcho(const std::string& host, std::uint32_t timeout_ms) {
  if (host.empty()) return false;
  UniqueIcmp icmp;
  if (!icmp) return false;
  const Ipv4Address address = ResolveHost(host);
  // 0.0.0.0 stands for a failed resolution: some stacks would answer an
  // echo to it locally, so nothing is sent and the probe fails at once.
  if (address == Ipv4Address{}) return false;
  IPAddr destination = 0;
  std::memcpy(&destination, address.data(), 4);
  // Room for one reply record and the error payload some replies carry.
  alignas(ICMP_ECHO_REPLY) unsigned char reply[sizeof(ICMP_ECHO_REPLY) + 128];
  const DWORD replies = ::IcmpSendEcho(icmp.get(), destination, nullptr, 0, nullptr, reply, sizeof reply, timeout_ms);
  static_assert(IP_SUCCESS == 0);
  return EchoAnswered(replies, replies ? reinterpret_cast<const ICMP_ECHO_REPLY*>(reply)->Status : 0);
}

std::string HttpStatusText(const std::string& url, std::uint32_t timeout_ms) {
  UniqueInternet session(::InternetOpenA("InetURL:/1.0", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
  if (!session) return {};

  char host[INTERNET_MAX_HOST_NAME_LENGTH + 1] = {};
  char path[INTERNET_MAX_PATH_LENGTH + 1] = {};
  char extra[INTERNET_MAX_PATH_LENGTH + 1] = {};
  URL_COMPONENTSA parts{};
  parts.dwStructSize = sizeof parts;
  parts.lpszHostName = host;
  parts.dwHostNameLength = sizeof host;
  parts.lpszUrlPath = path;
  parts.dwUrlPathLength = sizeof path;
  parts.lpszExtraInfo = extra;
  parts.dwExtraInfoLength = sizeof extra;
  if (!::InternetCrackUrlA(url.c_str(), 0, 0, &parts) || host[0] == '\0') return {};
  if (parts.nScheme != INTERNET_SCHEME_HTTP && parts.nScheme != INTERNET_SCHEME_HTTPS) return {};

  // InternetOpenUrlA would hang for good on a server that never answers: the
  // connect and request handles are the ones whose time-outs take effect.
  UniqueInternet connection(
      ::InternetConnectA(session.get(), host, parts.nPort, nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0));
  if (!connection) return {};
  SetTimeouts(connection.get(), timeout_ms);
  const std::string object = std::string(path[0] ? path : "/") + extra;
  DWORD flags = INTERNET_FLAG_RELOAD;
  if (parts.nScheme == INTERNET_SCHEME_HTTPS) flags |= INTERNET_FLAG_SECURE;
  UniqueInternet request(
      ::HttpOpenRequestA(connection.get(), "GET", object.c_str(), nullptr, nullptr, nullptr, flags, 0));
  if (!request) return {};
  SetTimeouts(request.get(), timeout_ms);
  if (!::HttpSendRequestA(request.get(), nullptr, 0, nullptr, 0)) return {};

  char status[10] = {};
  DWORD length = sizeof status;
  DWORD index = 0;
  if (!::HttpQueryInfoA(request.get(), HTTP_QUERY_STATUS_CODE, status, &length, &index)) return {};
  return std::string(status, strnlen(status, sizeof status));
}

}  // namespace qov::platform
