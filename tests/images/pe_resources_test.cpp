// The PE resource reader on executables built here byte by byte: it finds RCDATA by name in
// PE32 and PE32+ files, and refuses every malformed or truncated file without reading past it.
#include "platform/pe_resources.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace omr72::pe {
namespace {

using Bytes = std::vector<uint8_t>;

struct Resource {
  std::string name;
  Bytes data;
};

void Put16(Bytes& b, size_t at, uint32_t v) {
  b[at] = static_cast<uint8_t>(v);
  b[at + 1] = static_cast<uint8_t>(v >> 8);
}
void Put32(Bytes& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + static_cast<size_t>(i)] = static_cast<uint8_t>(v >> (8 * i));
}

constexpr uint32_t kPeOffset = 0x40;
constexpr uint32_t kSectionRva = 0x3000;
constexpr uint32_t kHigh = 0x80000000;

// Where the builder put the fields that the malformed cases change.
struct Built {
  Bytes file;
  size_t optional = 0;        // file offset of the optional header
  size_t resourceEntry = 0;   // file offset of the resource data-directory entry
  size_t section = 0;         // file offset of the one section header
  size_t tree = 0;            // file offset of the resource tree
  size_t nameDir = 0;         // tree offset of the name level
  size_t firstLangDir = 0;    // tree offset of the first resource's language level
  size_t firstDataEntry = 0;  // tree offset of the first resource's data entry
  size_t firstName = 0;       // tree offset of the first resource's name string
};

// One section, ".rsrc", holding a type level with RCDATA (and an icon type before it), a name
// level with the given resources, one language each (0x0419), then names and data.
Built BuildPe(bool plus, const std::vector<Resource>& resources) {
  Built b;
  const uint32_t optionalSize = plus ? 240 : 224;
  b.optional = kPeOffset + 4 + 20;
  b.section = b.optional + optionalSize;
  b.tree = 0x200;
  const size_t n = resources.size();

  Bytes tree(16 + 2 * 8);  // type level: RT_ICON (3) and RT_RCDATA (10)
  b.nameDir = tree.size();
  tree.resize(tree.size() + 16 + n * 8);
  std::vector<size_t> langDirs, dataEntries, names, datas;
  for (size_t i = 0; i < n; ++i) {
    langDirs.push_back(tree.size());
    tree.resize(tree.size() + 16 + 8);
  }
  for (size_t i = 0; i < n; ++i) {
    dataEntries.push_back(tree.size());
    tree.resize(tree.size() + 16);
  }
  for (const Resource& r : resources) {
    names.push_back(tree.size());
    tree.resize(tree.size() + 2 + 2 * r.name.size());
    Put16(tree, names.back(), static_cast<uint32_t>(r.name.size()));
    for (size_t c = 0; c < r.name.size(); ++c) {
      Put16(tree, names.back() + 2 + 2 * c, static_cast<uint8_t>(r.name[c]));
    }
  }
  for (const Resource& r : resources) {
    tree.resize((tree.size() + 7) & ~size_t{7});
    datas.push_back(tree.size());
    tree.insert(tree.end(), r.data.begin(), r.data.end());
  }
  Put16(tree, 14, 2);
  Put32(tree, 16, 3);
  Put32(tree, 20, kHigh | static_cast<uint32_t>(b.nameDir));  // never followed
  Put32(tree, 24, 10);
  Put32(tree, 28, kHigh | static_cast<uint32_t>(b.nameDir));
  Put16(tree, b.nameDir + 12, static_cast<uint32_t>(n));
  for (size_t i = 0; i < n; ++i) {
    const size_t entry = b.nameDir + 16 + 8 * i;
    Put32(tree, entry, kHigh | static_cast<uint32_t>(names[i]));
    Put32(tree, entry + 4, kHigh | static_cast<uint32_t>(langDirs[i]));
    Put16(tree, langDirs[i] + 14, 1);
    Put32(tree, langDirs[i] + 16, 0x0419);
    Put32(tree, langDirs[i] + 20, static_cast<uint32_t>(dataEntries[i]));
    Put32(tree, dataEntries[i], kSectionRva + static_cast<uint32_t>(datas[i]));
    Put32(tree, dataEntries[i] + 4, static_cast<uint32_t>(resources[i].data.size()));
  }
  b.firstLangDir = n > 0 ? langDirs[0] : 0;
  b.firstDataEntry = n > 0 ? dataEntries[0] : 0;
  b.firstName = n > 0 ? names[0] : 0;

  Bytes& f = b.file;
  f.assign(b.tree, 0);
  f[0] = 'M';
  f[1] = 'Z';
  Put32(f, 0x3C, kPeOffset);
  std::memcpy(&f[kPeOffset], "PE\0\0", 4);
  Put16(f, kPeOffset + 4, plus ? 0x8664 : 0x14C);
  Put16(f, kPeOffset + 6, 1);
  Put16(f, kPeOffset + 20, optionalSize);
  Put16(f, b.optional, plus ? 0x20B : 0x10B);
  const size_t count = b.optional + (plus ? 108 : 92);
  Put32(f, count, 16);
  b.resourceEntry = count + 4 + 2 * 8;
  Put32(f, b.resourceEntry, kSectionRva);
  Put32(f, b.resourceEntry + 4, static_cast<uint32_t>(tree.size()));
  std::memcpy(&f[b.section], ".rsrc\0\0\0", 8);
  Put32(f, b.section + 8, static_cast<uint32_t>(tree.size()));
  Put32(f, b.section + 12, kSectionRva);
  Put32(f, b.section + 16, static_cast<uint32_t>(tree.size()));
  Put32(f, b.section + 20, static_cast<uint32_t>(b.tree));
  f.insert(f.end(), tree.begin(), tree.end());
  return b;
}

Bytes Filled(size_t size, uint8_t first) {
  Bytes data(size);
  for (size_t i = 0; i < size; ++i) data[i] = static_cast<uint8_t>(first + i * 7);
  return data;
}

const std::vector<Resource> kThree = {
    {"FWC", Filled(300, 1)}, {"BRC", Filled(200, 2)}, {"BRC20", Filled(100, 3)}};

TEST(PeResourcesTest, FindsEachResourceByNameInBothFormats) {
  for (bool plus : {false, true}) {
    SCOPED_TRACE(plus ? "PE32+" : "PE32");
    const Built built = BuildPe(plus, kThree);
    for (const Resource& r : kThree) {
      const ResourceResult found = FindRcData(built.file, r.name);
      ASSERT_TRUE(found.bytes) << r.name << ": " << found.problem;
      EXPECT_EQ(*found.bytes, r.data) << r.name;
    }
    // Names compare without regard to case, as FindResourceA does, but never by prefix.
    EXPECT_TRUE(FindRcData(built.file, "brc20").bytes);
    EXPECT_EQ(FindRcData(built.file, "BRC2").problem, "no RCDATA resource named BRC2");
    EXPECT_EQ(FindRcData(built.file, "FWCX").problem, "no RCDATA resource named FWCX");
  }
}

TEST(PeResourcesTest, RefusesMalformedFiles) {
  struct Case {
    const char* what;
    std::function<void(Built&)> spoil;
    const char* problem;
  };
  const auto tree32 = [](Built& b, size_t at, uint32_t v) { Put32(b.file, b.tree + at, v); };
  const std::vector<Case> cases = {
      {"no MZ", [](Built& b) { b.file[0] = 'X'; }, "not a Windows executable (no MZ header)"},
      {"PE offset past the end", [](Built& b) { Put32(b.file, 0x3C, 0xFFFFFFF0); },
       "the PE header lies outside the file"},
      {"no PE signature", [](Built& b) { b.file[kPeOffset] = 'Q'; },
       "not a Windows executable (no PE signature)"},
      {"optional header too long", [](Built& b) { Put16(b.file, kPeOffset + 20, 0xFFFF); },
       "the optional header runs past the end"},
      {"unknown magic", [](Built& b) { Put16(b.file, b.optional, 0x107); },
       "unknown optional header kind"},
      {"optional header too short for the entry",
       [](Built& b) { Put16(b.file, kPeOffset + 20, 100); },
       "the executable has no resource directory"},
      {"two data directories only", [](Built& b) { Put32(b.file, b.resourceEntry - 20, 2); },
       "the executable has no resource directory"},
      {"no resources", [](Built& b) { Put32(b.file, b.resourceEntry + 4, 0); },
       "the executable has no resources"},
      {"section table past the end", [](Built& b) { Put16(b.file, kPeOffset + 6, 0x7FFF); },
       "the section table runs past the end"},
      {"resource directory bigger than its section",
       [](Built& b) { Put32(b.file, b.resourceEntry + 4, 0x100000); },
       "the resource directory lies outside the file"},
      {"section data past the end of the file",
       [](Built& b) { Put32(b.file, b.section + 20, 0xFFFFFF00); },
       "the resource directory lies outside the file"},
      {"resource directory below its section",
       [](Built& b) { Put32(b.file, b.resourceEntry, kSectionRva - 1); },
       "the resource directory lies outside the file"},
      {"type level counts more entries than fit",
       [&](Built& b) { Put16(b.file, b.tree + 14, 0xFFFF); }, "malformed resource directory"},
      {"RCDATA entry is a leaf", [&](Built& b) { tree32(b, 28, static_cast<uint32_t>(b.nameDir)); },
       "malformed resource directory"},
      {"RCDATA entry points past the tree", [&](Built& b) { tree32(b, 28, kHigh | 0x7FFFFFF0); },
       "malformed resource directory"},
      {"no RCDATA type", [&](Built& b) { tree32(b, 24, 11); }, "no RCDATA resources"},
      {"name string past the tree",
       [&](Built& b) { tree32(b, b.nameDir + 16, kHigh | 0x7FFFFFFF); },
       "malformed resource directory"},
      {"name string longer than the tree",
       [&](Built& b) { Put16(b.file, b.tree + b.firstName, 0xFFFF); },
       "malformed resource directory"},
      {"language level is a leaf",
       [&](Built& b) { tree32(b, b.nameDir + 20, static_cast<uint32_t>(b.firstLangDir)); },
       "malformed resource directory"},
      {"language level is empty", [&](Built& b) { Put16(b.file, b.tree + b.firstLangDir + 14, 0); },
       "malformed resource directory"},
      {"data entry is a directory",
       [&](Built& b) {
         tree32(b, b.firstLangDir + 20, kHigh | static_cast<uint32_t>(b.firstLangDir));
       },
       "malformed resource directory"},
      {"data entry past the tree", [&](Built& b) { tree32(b, b.firstLangDir + 20, 0x7FFFFFF8); },
       "malformed resource directory"},
      {"data longer than the section",
       [&](Built& b) { tree32(b, b.firstDataEntry + 4, 0xFFFFFFFF); },
       "the data of FWC lies outside the file"},
      {"data at an address no section holds", [&](Built& b) { tree32(b, b.firstDataEntry, 0x10); },
       "the data of FWC lies outside the file"},
  };
  for (bool plus : {false, true}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(plus ? "PE32+: " : "PE32: ") + c.what);
      Built built = BuildPe(plus, kThree);
      c.spoil(built);
      const ResourceResult found = FindRcData(built.file, "FWC");
      EXPECT_FALSE(found.bytes);
      EXPECT_EQ(found.problem, c.problem);
    }
  }
}

// A file cut anywhere gives either a refusal or, when all that is needed lies before the cut,
// the right bytes; never anything else.
TEST(PeResourcesTest, TruncatedFilesAreRefusedOrReadCorrectly) {
  for (bool plus : {false, true}) {
    const Built built = BuildPe(plus, kThree);
    for (size_t length = 0; length < built.file.size(); ++length) {
      const Bytes cut(built.file.begin(), built.file.begin() + static_cast<ptrdiff_t>(length));
      for (const Resource& r : kThree) {
        const ResourceResult found = FindRcData(cut, r.name);
        if (found.bytes) {
          EXPECT_EQ(*found.bytes, r.data) << "cut at " << length;
        } else {
          EXPECT_FALSE(found.problem.empty()) << "cut at " << length;
        }
      }
    }
    // The section's data ends at the file's end, so nothing past the headers can be read.
    const Bytes headersOnly(built.file.begin(),
                            built.file.begin() + static_cast<ptrdiff_t>(built.tree));
    EXPECT_EQ(FindRcData(headersOnly, "FWC").problem,
              "the resource directory lies outside the file");
  }
}

}  // namespace
}  // namespace omr72::pe
