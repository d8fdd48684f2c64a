#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <memory>

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

ProbeOutcome Failed(ProbeFault fault, std::uint32_t code = 0) { return {fault, code, {}}; }

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// An error of IcmpSendEcho, or the status of the reply it stored.
ProbeOutcome FailedWithIpStatus(DWORD status) {
  if (status == IP_REQ_TIMED_OUT) return Failed(ProbeFault::kTimedOut);
  if (status > kIpStatusBase && status <= kIpGeneralFailure) return Failed(ProbeFault::kIcmpStatus, status);
  switch (status) {
    case ERROR_NETWORK_UNREACHABLE:
    case WSAENETUNREACH: return Failed(ProbeFault::kNetworkUnreachable);
    case ERROR_HOST_UNREACHABLE:
    case WSAEHOSTUNREACH: return Failed(ProbeFault::kHostUnreachable);
    default: return Failed(ProbeFault::kSystemError, status);
  }
}

// A failed WinInet call. Wine reports a receive that ran into its time-out
// as an aborted connection (12030), so an abort that came only after the
// whole time-out counts as the time-out.
ProbeOutcome FailedWithInternetError(DWORD error, bool waited_whole_timeout) {
  switch (error) {
    case ERROR_INTERNET_NAME_NOT_RESOLVED: return Failed(ProbeFault::kNameNotResolved);
    // WinInet says only that it could not connect; refusal is by far the
    // commonest cause and the one a closed port gives.
    case ERROR_INTERNET_CANNOT_CONNECT: return Failed(ProbeFault::kConnectionRefused);
    case ERROR_INTERNET_TIMEOUT: return Failed(ProbeFault::kTimedOut);
    case ERROR_INTERNET_CONNECTION_ABORTED:
    case ERROR_INTERNET_CONNECTION_RESET:
      return Failed(waited_whole_timeout ? ProbeFault::kTimedOut : ProbeFault::kNoHttpResponse);
    case ERROR_HTTP_INVALID_SERVER_RESPONSE:
    case ERROR_HTTP_HEADER_NOT_FOUND: return Failed(ProbeFault::kNoHttpResponse);
    case ERROR_INTERNET_INVALID_CA:
    case ERROR_INTERNET_SEC_CERT_DATE_INVALID:
    case ERROR_INTERNET_SEC_CERT_CN_INVALID:
    case ERROR_INTERNET_SEC_CERT_ERRORS:
    case ERROR_INTERNET_SEC_CERT_NO_REV:
    case ERROR_INTERNET_SEC_CERT_REV_FAILED:
    case ERROR_INTERNET_SEC_INVALID_CERT:
    case ERROR_INTERNET_SEC_CERT_REVOKED: return Failed(ProbeFault::kTlsUntrusted);
    case ERROR_INTERNET_SECURITY_CHANNEL_ERROR: return Failed(ProbeFault::kTlsHandshake);
    case ERROR_INTERNET_INVALID_URL:
    case ERROR_INTERNET_UNRECOGNIZED_SCHEME: return Failed(ProbeFault::kInvalidTarget);
    default: return Failed(ProbeFault::kSystemError, error);
  }
}

// What an asynchronous request and its status callbacks share. The request
// handle holds one reference from its creation until the system says it is
// closing (which may come after the probe has given up on it), the probe
// another: the last one frees it.
struct PendingRequest {
  UniqueHandle done{::CreateEventA(nullptr, TRUE, FALSE, nullptr)};
  // Written by the callback before `done` is set.
  DWORD error = ERROR_SUCCESS;
  std::atomic<int> references{1};

  void AddRef() { references.fetch_add(1); }
  void Release() {
    if (references.fetch_sub(1) == 1) delete this;
  }
};

// The probe's own reference, given back when it leaves.
struct ReleasePending {
  void operator()(PendingRequest* p) const { p->Release(); }
};
using CallbackRef = std::unique_ptr<PendingRequest, ReleasePending>;

void CALLBACK RequestCallback(HINTERNET, DWORD_PTR context, DWORD status, LPVOID info, DWORD) {
  auto* pending = reinterpret_cast<PendingRequest*>(context);
  if (!pending) return;  // a handle without a context: the connection
  if (status == INTERNET_STATUS_REQUEST_COMPLETE) {
    const auto* result = static_cast<const INTERNET_ASYNC_RESULT*>(info);
    if (!result) {
      pending->error = ERROR_INTERNET_INTERNAL_ERROR;
    } else {
      pending->error = result->dwResult ? ERROR_SUCCESS : result->dwError;
    }
    ::SetEvent(pending->done.get());
  } else if (status == INTERNET_STATUS_HANDLE_CLOSING) {
    pending->Release();
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

ProbeOutcome IcmpEcho(const std::string& host, std::uint32_t timeout_ms) {
  if (host.empty()) return Failed(ProbeFault::kInvalidTarget);
  UniqueIcmp icmp;
  if (!icmp) return Failed(ProbeFault::kSystemError, ::GetLastError());
  const Ipv4Address address = ResolveHost(host);
  // 0.0.0.0 stands for a failed resolution: some stacks would answer an
  // echo to it locally, so nothing is sent and the probe fails at once.
  if (address == Ipv4Address{}) return Failed(ProbeFault::kNameNotResolved);
  IPAddr destination = 0;
  std::memcpy(&destination, address.data(), 4);
  // Room for one reply record and the error payload some replies carry.
  alignas(ICMP_ECHO_REPLY) unsigned char reply[sizeof(ICMP_ECHO_REPLY) + 128];
  const DWORD replies = ::IcmpSendEcho(icmp.get(), destination, nullptr, 0, nullptr, reply, sizeof reply, timeout_ms);
  if (replies == 0) return FailedWithIpStatus(::GetLastError());
  static_assert(IP_SUCCESS == 0);
  const ULONG status = reinterpret_cast<const ICMP_ECHO_REPLY*>(reply)->Status;
  return EchoAnswered(replies, status) ? ProbeOutcome{} : FailedWithIpStatus(status);
}

// IcmpSendEcho blocks until the reply or its time-out: the echo runs where
// it can be left behind.
bool CanEchoOnCallingThread(const std::string&) { return false; }

std::optional<ProbeOutcome> IcmpEchoUntilStop(const std::string& host, std::uint32_t timeout_ms, StopRequest& stop) {
  if (stop.IsSet()) return std::nullopt;
  return IcmpEcho(host, timeout_ms);
}

ProbeOutcome HttpGet(const std::string& url, std::uint32_t timeout_ms) {
  // One bound for the whole probe: WinInet's own time-outs bound each send
  // and receive, so a server that sends a byte now and then would hold a
  // blocking request for good.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  const auto ms_left = [deadline] {
    using std::chrono::milliseconds;
    const auto left = std::chrono::duration_cast<milliseconds>(deadline - std::chrono::steady_clock::now());
    return static_cast<DWORD>(std::max<std::int64_t>(left.count(), 0));
  };
  const CallbackRef pending(new PendingRequest());
  if (!pending->done) return Failed(ProbeFault::kSystemError, ::GetLastError());
  UniqueInternet session(
      ::InternetOpenA("InetURL:/1.0", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, INTERNET_FLAG_ASYNC));
  if (!session) return Failed(ProbeFault::kSystemError, ::GetLastError());
  ::InternetSetStatusCallbackA(session.get(), RequestCallback);

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
  if (!::InternetCrackUrlA(url.c_str(), 0, 0, &parts) || host[0] == '\0') return Failed(ProbeFault::kInvalidTarget);
  if (parts.nScheme != INTERNET_SCHEME_HTTP && parts.nScheme != INTERNET_SCHEME_HTTPS) {
    return Failed(ProbeFault::kInvalidTarget);
  }

  // InternetOpenUrlA would hang for good on a server that never answers: the
  // connect and request handles are the ones whose time-outs take effect.
  // No context on the connection: only the request's callbacks are wanted.
  UniqueInternet connection(
      ::InternetConnectA(session.get(), host, parts.nPort, nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0));
  if (!connection) return FailedWithInternetError(::GetLastError(), false);
  SetTimeouts(connection.get(), ms_left());
  const std::string object = std::string(path[0] ? path : "/") + extra;
  DWORD flags = INTERNET_FLAG_RELOAD;
  if (parts.nScheme == INTERNET_SCHEME_HTTPS) flags |= INTERNET_FLAG_SECURE;
  // The request's callbacks share the state until its handle has closed.
  pending->AddRef();
  UniqueInternet request(::HttpOpenRequestA(connection.get(), "GET", object.c_str(), nullptr, nullptr, nullptr, flags,
                                            reinterpret_cast<DWORD_PTR>(pending.get())));
  if (!request) {
    const DWORD error = ::GetLastError();
    pending->Release();
    return FailedWithInternetError(error, false);
  }
  SetTimeouts(request.get(), ms_left());
  const auto sent_at = std::chrono::steady_clock::now();
  DWORD error = ERROR_SUCCESS;
  if (!::HttpSendRequestA(request.get(), nullptr, 0, nullptr, 0)) {
    error = ::GetLastError();
    if (error == ERROR_IO_PENDING) {
      // Left at the bound: closing the request ends it, or, where the system
      // goes on with it, lets it finish alone, on its own references.
      if (::WaitForSingleObject(pending->done.get(), ms_left()) != WAIT_OBJECT_0) {
        return Failed(ProbeFault::kTimedOut);
      }
      error = pending->error;
    }
  }
  if (error != ERROR_SUCCESS) {
    // A tenth off for the coarse tick: an abort that early is no time-out.
    const bool waited = std::chrono::steady_clock::now() - sent_at >= std::chrono::milliseconds(timeout_ms) * 9 / 10;
    return FailedWithInternetError(error, waited);
  }

  // The response head has come whole: the send completes only then.
  char status[10] = {};
  DWORD length = sizeof status;
  DWORD index = 0;
  if (!::HttpQueryInfoA(request.get(), HTTP_QUERY_STATUS_CODE, status, &length, &index)) {
    return Failed(ProbeFault::kNoHttpResponse);
  }
  // A connection closed before any byte came back is reported as status 0.
  const std::string text(status, strnlen(status, sizeof status));
  if (text.size() != 3 || text[0] == '0' || !std::all_of(text.begin(), text.end(), IsDigit)) return Failed(ProbeFault::kNoHttpResponse);
  return {ProbeFault::kNone, 0, text};
}

}  // namespace qov::platform
