// The page-access libraries as outside programs see them (dlopen, the five symbols and nothing
// else), and omr72-pages against the emulated recorder; the tool loads the emulated library
// the way any outside program would, so its runs are that library's round trip too.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "scsilink/q71.h"

namespace {

const std::set<std::string> kFive = {"Q71_IsConnected", "Q71_GetFlashParams", "Q71_ReadPages",
                                     "Q71_WritePages", "Q71_ReadPartsOfPages"};

std::string Capture(const std::string& command) {
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), &pclose);
  std::string out;
  char chunk[4096];
  size_t n;
  while (pipe && (n = std::fread(chunk, 1, sizeof chunk, pipe.get())) > 0) out.append(chunk, n);
  return out;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// The start of a trace line's CDB field for these leading bytes.
std::string CdbField(std::initializer_list<unsigned> bytes) {
  std::string text = "cdb=";
  char hex[3];
  for (unsigned b : bytes) {
    std::snprintf(hex, sizeof hex, "%02X", b);
    text += hex;
  }
  return text;
}

template <typename Fn>
Fn Symbol(void* handle, const char* name) {
  return reinterpret_cast<Fn>(dlsym(handle, name));
}

TEST(PageLibraryTest, ExportsExactlyTheFiveFunctions) {
  for (const char* lib : {OMR72_LIBRARY, OMR72_EMULATED_LIBRARY}) {
    SCOPED_TRACE(lib);
    std::istringstream lines(Capture(std::string(OMR72_NM) + " -D --defined-only " + lib));
    std::set<std::string> defined;
    std::string address, type, name;
    while (lines >> address >> type >> name) defined.insert(name);
    EXPECT_EQ(defined, kFive);
  }
}

// No scan has run, so these must fail or succeed without touching any of the host's drives.
TEST(PageLibraryTest, NativeLibraryRefusesWhatItCannotDoYet) {
  std::unique_ptr<void, int (*)(void*)> lib(dlopen(OMR72_LIBRARY, RTLD_NOW | RTLD_LOCAL), &dlclose);
  ASSERT_TRUE(lib) << dlerror();
  auto getFlashParams = Symbol<Q71_GetFlashParamsFn>(lib.get(), "Q71_GetFlashParams");
  auto readPages = Symbol<Q71_ReadPagesFn>(lib.get(), "Q71_ReadPages");
  auto writePages = Symbol<Q71_WritePagesFn>(lib.get(), "Q71_WritePages");
  auto readParts = Symbol<Q71_ReadPartsOfPagesFn>(lib.get(), "Q71_ReadPartsOfPages");
  ASSERT_TRUE(getFlashParams && readPages && writePages && readParts);
  uint8_t params[40];
  std::memset(params, 0x3C, sizeof params);
  std::vector<uint8_t> buffer(4096);
  EXPECT_EQ(getFlashParams(params), 0);
  EXPECT_TRUE(std::all_of(params, params + 40, [](uint8_t b) { return b == 0x3C; }));
  EXPECT_EQ(readPages(0, buffer.data(), 0), 1);
  EXPECT_EQ(readPages(0, buffer.data(), 1), 0);  // page size still unknown
  EXPECT_EQ(writePages(0, buffer.data(), 0x10000), 1);
  EXPECT_EQ(readParts(0, 4, 0, 0, 1, buffer.data()), 0);   // part size 0
  EXPECT_EQ(readParts(0, 4, 0, 16, 1, buffer.data()), 0);  // no recorder identified
}

// omr72-pages --emulated, run as a separate program in a scratch folder.
class PagesToolTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/omr72-pages-test-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir = pattern;
  }
  void TearDown() override { std::system(("rm -rf '" + dir + "'").c_str()); }

  // Exit code of the tool; its output and error text land in out and err.
  int Run(const std::string& args, const std::string& env = "") {
    const std::string command = "cd '" + dir + "' && OMR72_EMULATED_TRACE=trace " + env + " " +
                                OMR72_PAGES_TOOL + " --emulated " + args + " >out 2>err";
    const int status = std::system(command.c_str());
    out = ReadFile(dir + "/out");
    err = ReadFile(dir + "/err");
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  // Trace lines of the commands whose CDB starts with these bytes.
  std::vector<std::string> TraceWith(std::initializer_list<unsigned> cdbStart) {
    std::istringstream lines(ReadFile(dir + "/trace"));
    std::vector<std::string> found;
    for (std::string line; std::getline(lines, line);) {
      if (line.find(CdbField(cdbStart)) != std::string::npos) found.push_back(line);
    }
    return found;
  }
  void WriteFile(const std::string& name, size_t size) {
    std::ofstream(dir + "/" + name, std::ios::binary) << std::string(size, '\x5A');
  }

  std::string dir, out, err;
};

TEST_F(PagesToolTest, InfoShowsTheFlashParameters) {
  ASSERT_EQ(Run("info"), 0) << err;
  EXPECT_NE(out.find("connected: yes"), std::string::npos) << out;
  EXPECT_NE(out.find("page size: 2048"), std::string::npos) << out;
  EXPECT_NE(out.find("serial number: ABCDE12345"), std::string::npos) << out;
  EXPECT_NE(out.find("firmware version: 1.5"), std::string::npos) << out;
}

TEST_F(PagesToolTest, InfoShowsTheSerialAsTheUpdaterDoes) {
  // Control bytes and bytes above 0x7E become '?'; the text ends at the first NUL.
  ASSERT_EQ(Run("info", "OMR72_EMULATED_SERIAL=\"$(printf 'AB\\001C\\303\\177 z~')\""), 0) << err;
  EXPECT_NE(out.find("serial number: AB?C?? z~\n"), std::string::npos) << out;
}

TEST_F(PagesToolTest, ReadAndWriteMoveExactlyTheRequestedPages) {
  ASSERT_EQ(Run("read 0x100 40 pages.bin"), 0) << err;
  const std::string data = ReadFile(dir + "/pages.bin");
  EXPECT_EQ(data.size(), 40u * 2048);
  EXPECT_EQ(data.find_first_not_of('\xFF'), std::string::npos);  // never written: erased
  const auto reads = TraceWith({0x28});
  ASSERT_EQ(reads.size(), 2u);  // 32 pages per command
  EXPECT_NE(reads[0].find(CdbField({0x28, 0, 0, 0, 0x01, 0x00, 0, 0, 32})), std::string::npos);
  EXPECT_NE(reads[1].find(CdbField({0x28, 0, 0, 0, 0x01, 0x20, 0, 0, 8})), std::string::npos);

  WriteFile("in.bin", 3 * 2048);
  ASSERT_EQ(Run("write 7 in.bin"), 0) << err;
  const auto writes = TraceWith({0xC8, 0x01});
  ASSERT_EQ(writes.size(), 1u);
  EXPECT_NE(writes[0].find(CdbField({0xC8, 0x01, 0, 0, 0, 7, 0, 0, 3})), std::string::npos);
  EXPECT_NE(writes[0].find("len=6144"), std::string::npos) << writes[0];
}

TEST_F(PagesToolTest, FailuresAreReportedWithAnExitCode) {
  WriteFile("odd.bin", 2048 + 1);
  EXPECT_EQ(Run("write 7 odd.bin"), 1);
  EXPECT_NE(err.find("not a whole number of 2048-byte pages"), std::string::npos) << err;
  EXPECT_TRUE(TraceWith({0xC8, 0x01}).empty());

  WriteFile("empty.bin", 0);
  EXPECT_EQ(Run("write 7 empty.bin"), 1);
  EXPECT_EQ(Run("write 7 missing.bin"), 1);

  // Command 1 reads the flash parameters (the scan is not traced); the second read fails.
  EXPECT_EQ(Run("read 0 40 part.bin", "OMR72_EMULATED_FAIL=3"), 1);
  EXPECT_NE(err.find("failed"), std::string::npos) << err;
  EXPECT_FALSE(std::ifstream(dir + "/part.bin").good());  // no partial file left behind

  // A file that was there stays as it was, and nothing beside it is left over.
  WriteFile("kept.bin", 5);
  EXPECT_EQ(Run("read 0 40 kept.bin", "OMR72_EMULATED_FAIL=3"), 1);
  EXPECT_EQ(std::filesystem::file_size(dir + "/kept.bin"), 5u);
  EXPECT_FALSE(std::filesystem::exists(dir + "/kept.bin.new"));
  // Not a regular file, or no such folder: refused before the recorder is asked, with the
  // reason.
  EXPECT_EQ(Run("read 0 1 /dev/null"), 1);
  EXPECT_NE(err.find("/dev/null: not a regular file"), std::string::npos) << err;
  EXPECT_EQ(Run("read 0 1 no/such/pages.bin"), 1);
  EXPECT_NE(err.find("no/such/pages.bin: "), std::string::npos) << err;

  EXPECT_EQ(Run("read 0 0 none.bin"), 2);
  EXPECT_EQ(Run("read 4294967295 2 none.bin"), 2);
  EXPECT_EQ(Run("erase 0"), 2);
}

}  // namespace
