// libFuzzer entry of the perf_data target; the body lives in support/fuzz_bodies.cpp.
#include <cstddef>
#include <cstdint>

#include "support/fuzz_bodies.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  qov::test::FuzzPerfData(data, size);
  return 0;
}
