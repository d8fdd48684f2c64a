// The error a failed platform call raises in the host: its text names the
// code and carries the system's message for it.
#pragma once

#include <cstdint>
#include <exception>
#include <stdexcept>
#include <string>

#include "platform/service_control.h"

namespace qov::service {

// "System Error.  Code: %d." + CRLF + the system's text; for code 0 the
// generic "A call to an OS function failed".
std::string SystemErrorMessage(platform::ServiceControl& sc, std::uint32_t code);

class SystemError : public std::runtime_error {
 public:
  SystemError(platform::ServiceControl& sc, std::uint32_t code);
  std::uint32_t code() const { return code_; }
  // Where the error was raised, for the fatal-error box.
  const void* address() const { return address_; }

 private:
  std::uint32_t code_;
  const void* address_;
};

// The text of a caught error, whatever its type.
std::string ErrorText(std::exception_ptr error);

}  // namespace qov::service
