// A user's environment block (profile and temp folders, the user's own
// variables), made from the user's token and destroyed with the object.
#pragma once

#include "platform/win32.h"

#include <userenv.h>

namespace qov::platform {

class UserEnvironmentBlock {
 public:
  // The block of the token's user, without the caller's variables. Empty
  // when it cannot be made.
  explicit UserEnvironmentBlock(HANDLE token) {
    if (!::CreateEnvironmentBlock(&block_, token, FALSE)) block_ = nullptr;
  }
  ~UserEnvironmentBlock() {
    if (block_) ::DestroyEnvironmentBlock(block_);
  }
  UserEnvironmentBlock(const UserEnvironmentBlock&) = delete;
  UserEnvironmentBlock& operator=(const UserEnvironmentBlock&) = delete;

  // The block in UTF-16 (CREATE_UNICODE_ENVIRONMENT), or null.
  void* get() const { return block_; }
  explicit operator bool() const { return block_ != nullptr; }

 private:
  void* block_ = nullptr;
};

}  // namespace qov::platform
