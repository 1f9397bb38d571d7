// libFuzzer target: the fuzzer's bytes as SYSTEM.DAT, read by the sandbox's registry-file reader
// (libcreg, mapped into the simulated registry). Any input must end in a registry or in an
// ImageError that says why not: no crash, no leak, no key deeper than the registry allows.
#include <cstdint>
#include <string_view>

#include "hive.h"
#include "sim/errors.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  sim::Registry registry;
  registry.Clear();
  try {
    sandbox::LoadHive(std::string_view(reinterpret_cast<const char*>(data), size), "SYSTEM.DAT", "HKEY_LOCAL_MACHINE",
                      registry);
  } catch (const sim::ImageError&) {
  }
  return 0;
}
