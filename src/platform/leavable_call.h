// Runs a call that cannot be cancelled (a blocking name look-up, a WinInet
// request, an ICMP echo) where it can be left behind: on a helper thread of
// its own, whose result the caller waits for while watching a stop flag.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>

namespace qov::platform {

// How often a waiting caller looks at its stop flag.
inline constexpr std::uint32_t kStopCheckMs = 250;

// The result of `call`, or nothing when `stop` was set first (seen within
// kStopCheckMs). A call given up on finishes alone and its result is
// dropped, so it must own everything it uses: capture by value. When no
// helper thread can be created, the call runs on the calling thread.
std::optional<bool> RunLeavable(std::function<bool()> call, const std::atomic<bool>& stop);

}  // namespace qov::platform
