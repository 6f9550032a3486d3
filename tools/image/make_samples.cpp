// Linux tool: writes the sample payloads FWC.bin, BRC.bin and BRC20.bin into a folder.
#include <cstdio>
#include <string>
#include <vector>

#include "images/samples/sample_payloads.h"
#include "tools/output/output_file.h"

namespace {

// Written beside its place and renamed in when complete: a failure leaves what was there.
bool WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  auto problem = omr72::tools::WriteWholeFile(
      path, {reinterpret_cast<const char*>(bytes.data()), bytes.size()});
  if (!problem) return true;
  std::fprintf(stderr, "omr72-make-samples: %s\n", problem->c_str());
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: omr72-make-samples DIR\n");
    return 2;
  }
  const std::string dir = argv[1];
  const omr72::SamplePayloads samples = omr72::MakeSamplePayloads();
  bool ok = WriteFile(dir + "/FWC.bin", samples.firmware);
  ok = WriteFile(dir + "/BRC.bin", samples.bootLoader) && ok;
  ok = WriteFile(dir + "/BRC20.bin", samples.bootLoader20) && ok;
  return ok ? 0 : 1;
}
