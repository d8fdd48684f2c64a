// The "-TEST" command's way to the service: it asks the SCM for the
// user-defined-control right alone, which the default service DACL gives to
// administrators and the system but not to other users, so only they can
// ask (Wine runs everything as an administrator and cannot show a refusal).
#include <gtest/gtest.h>

#include "platform/service_control.h"
#include "platform/user_control_win32.h"
#include "platform/win32.h"

namespace qov::platform {
namespace {

TEST(UserControlWin32Test, AsksForTheUserDefinedControlRightAlone) {
  EXPECT_EQ(UserControlAccess(), static_cast<std::uint32_t>(SERVICE_USER_DEFINED_CONTROL));
  const DWORD others[] = {SERVICE_START, SERVICE_STOP, SERVICE_CHANGE_CONFIG, SERVICE_PAUSE_CONTINUE,
                          static_cast<DWORD>(DELETE), static_cast<DWORD>(WRITE_DAC)};
  for (const DWORD other : others) {
    EXPECT_EQ(UserControlAccess() & other, 0u) << other;
  }
}

TEST(UserControlWin32Test, AServiceThatIsNotInstalledIsNotRunning) {
  std::string why;
  EXPECT_EQ(SendUserControl("qov_no_such_service", kTestModemControl, why), ControlSent::kNotRunning);
  EXPECT_FALSE(why.empty());
}

}  // namespace
}  // namespace qov::platform
