// Builds performance data blocks in the system's published layout: a data
// block header, object types with counter definitions and instances.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

namespace qov::test {

class PerfBlockBuilder {
 public:
  struct Object {
    std::uint32_t title_index = 238;
    std::vector<std::uint32_t> counter_indexes = {2, 6};  // counter 6 gets value offset 16
    std::vector<std::uint64_t> instance_values;           // one per instance
  };

  // SYSTEMTIME fields of the block: year, month, weekday, day, h, m, s, ms.
  std::uint16_t system_time[8] = {2026, 12, 2, 8, 10, 0, 0, 0};
  std::vector<Object> objects;

  std::vector<std::uint8_t> Build() const {
    std::vector<std::uint8_t> out(kBlockHeader, 0);
    Put32(out, 24, kBlockHeader);
    Put32(out, 28, static_cast<std::uint32_t>(objects.size()));
    std::memcpy(out.data() + 36, system_time, sizeof system_time);
    for (const Object& o : objects) AppendObject(out, o);
    Put32(out, 20, static_cast<std::uint32_t>(out.size()));
    return out;
  }

  // Offset of the first object type in a built block.
  static constexpr std::uint32_t kBlockHeader = 96;
  static constexpr std::uint32_t kObjectHeader = 64;
  static constexpr std::uint32_t kCounterDef = 40;
  static constexpr std::uint32_t kInstanceDef = 32;  // 24 bytes and a short name
  static constexpr std::uint32_t kCounterBlock = 24;  // length, padding, two 8-byte values

  static void Put32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) { std::memcpy(b.data() + at, &v, 4); }
  static void Put64(std::vector<std::uint8_t>& b, std::size_t at, std::uint64_t v) { std::memcpy(b.data() + at, &v, 8); }

 private:
  static void AppendObject(std::vector<std::uint8_t>& out, const Object& o) {
    const std::size_t start = out.size();
    const auto counters = static_cast<std::uint32_t>(o.counter_indexes.size());
    const std::uint32_t definition_length = kObjectHeader + counters * kCounterDef;
    const auto instances = static_cast<std::uint32_t>(o.instance_values.size());
    const std::uint32_t total = definition_length + instances * (kInstanceDef + kCounterBlock);
    out.resize(start + total, 0);
    Put32(out, start + 0, total);
    Put32(out, start + 4, definition_length);
    Put32(out, start + 8, kObjectHeader);
    Put32(out, start + 12, o.title_index);
    Put32(out, start + 32, counters);
    Put32(out, start + 40, instances);
    for (std::uint32_t c = 0; c < counters; ++c) {
      const std::size_t def = start + kObjectHeader + c * kCounterDef;
      Put32(out, def + 0, kCounterDef);
      Put32(out, def + 4, o.counter_indexes[c]);
      Put32(out, def + 36, o.counter_indexes[c] == 6 ? 16 : 8);
    }
    for (std::uint32_t i = 0; i < instances; ++i) {
      const std::size_t inst = start + definition_length + i * (kInstanceDef + kCounterBlock);
      Put32(out, inst + 0, kInstanceDef);
      const std::size_t block = inst + kInstanceDef;
      Put32(out, block + 0, kCounterBlock);
      Put64(out, block + 8, 0xDEAD);
      Put64(out, block + 16, o.instance_values[i]);
    }
  }
};

}  // namespace qov::test
