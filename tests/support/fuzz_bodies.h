// The bodies of the fuzz targets: each takes one input, drives a parser or an
// exchange with it, and checks what must hold for every input. The libFuzzer
// mains under tests/fuzz/ call them, and so does the unit suite, which replays
// the committed corpus and every regression input through the same function.
// Portable C++: no libFuzzer header, no platform call beyond temporary files.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace qov::test {

// The performance-data reader: WalkProcessorData on a block of exactly the
// input's size, the CPU sampler over a query that answers with that block,
// and the time and usage arithmetic. Input: a 50-byte header (mode, instance
// count, four 64-bit usage figures, eight 16-bit SYSTEMTIME fields), then the block.
void FuzzPerfData(const std::uint8_t* data, std::size_t size);

// The device reply classifier, the receive mailbox and the exchange logic:
// DeviceLink over a fake port whose replies, their timing against the
// receive thread's passes, failed writes and stops all come from the input,
// on a fake clock.
void FuzzDeviceLink(const std::uint8_t* data, std::size_t size);

// The check-address parser, the URL rule and the accepted HTTP statuses, on
// the input as one entry.
void FuzzCheckAddress(const std::uint8_t* data, std::size_t size);

// The command-line word splitter and the switch matcher. Input: a length
// byte and that many bytes of switch name, then the command line.
void FuzzCommandLine(const std::uint8_t* data, std::size_t size);

// The configuration loader over an in-memory registry built from the input:
// where the key is, which values exist, their types, numbers and texts (long
// ones included).
void FuzzConfigLoader(const std::uint8_t* data, std::size_t size);

// The REGEDIT4 reader on the input as a file's text, then the configuration
// loader on what it stored; the values of the configuration key written back
// as a file must read back the same.
void FuzzRegedit(const std::uint8_t* data, std::size_t size);

// The log's rotation threshold, and a log writer on a temporary file driven
// by writes, clock steps, failing moves and new thresholds from the input.
void FuzzLogRotation(const std::uint8_t* data, std::size_t size);

struct FuzzTarget {
  const char* name;  // the folder name of its corpus, dictionary and regressions
  void (*body)(const std::uint8_t*, std::size_t);
};

// Every target, in a fixed order.
std::span<const FuzzTarget> FuzzTargets();

// A broken check calls the handler with what failed; without a handler (and
// when the handler returns) it prints that and aborts, which libFuzzer
// reports as a crash. The unit suite installs a handler that throws.
using FuzzFailureHandler = void (*)(const char* what);
void SetFuzzFailureHandler(FuzzFailureHandler handler);

}  // namespace qov::test
