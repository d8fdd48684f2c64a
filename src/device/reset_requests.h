// What the checker may ask of the board: the two resets. The control thread
// takes each request at once when the board runs, and drops one it could not
// carry out in time.
#pragma once

namespace qov::device {

class ResetRequests {
 public:
  virtual ~ResetRequests() = default;
  virtual void RequestModemReset() = 0;
  virtual void RequestComputerReset() = 0;
};

}  // namespace qov::device
