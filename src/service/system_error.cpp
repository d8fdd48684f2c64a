#include "service/system_error.h"

namespace qov::service {

std::string SystemErrorMessage(platform::ServiceControl& sc, std::uint32_t code) {
  if (code == 0) return "A call to an OS function failed";
  return "System Error.  Code: " + std::to_string(code) + ".\r\n" + sc.SystemErrorText(code);
}

SystemError::SystemError(platform::ServiceControl& sc, std::uint32_t code)
    : std::runtime_error(SystemErrorMessage(sc, code)), code_(code), address_(__builtin_return_address(0)) {}

std::string ErrorText(std::exception_ptr error) {
  try {
    std::rethrow_exception(error);
  } catch (const std::exception& e) {
    return e.what();
  } catch (...) {
    return "Unknown error";
  }
}

}  // namespace qov::service
