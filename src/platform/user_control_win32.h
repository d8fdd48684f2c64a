// The access a "-TEST" command asks for on the service: the user-defined
// control right alone, which the default service DACL grants to
// administrators and the system but not to ordinary users.
#pragma once

#include <cstdint>

namespace qov::platform {

std::uint32_t UserControlAccess();

}  // namespace qov::platform
