#include "platform/pe_resources.h"

#include <cctype>
#include <functional>

#include "wire/byte_order.h"

namespace omr72::pe {
namespace {

constexpr uint32_t kPeHeaderOffsetField = 0x3C;
constexpr uint32_t kCoffHeaderSize = 20;
constexpr uint32_t kSectionHeaderSize = 40;
constexpr uint16_t kPe32Magic = 0x10B;
constexpr uint16_t kPe32PlusMagic = 0x20B;
constexpr uint32_t kResourceDirectoryIndex = 2;
constexpr uint32_t kDirectoryHeaderSize = 16;
constexpr uint32_t kDirectoryEntrySize = 8;
constexpr uint32_t kDataEntrySize = 16;
constexpr uint32_t kHighBit = 0x80000000;

// Little-endian reads that never leave the bytes they were given.
class Bytes {
 public:
  explicit Bytes(std::span<const uint8_t> bytes) : bytes_(bytes) {}

  bool Has(uint64_t offset, uint64_t size) const {
    return offset <= bytes_.size() && size <= bytes_.size() - offset;
  }
  std::optional<uint16_t> U16(uint64_t offset) const {
    if (!Has(offset, 2)) return std::nullopt;
    return LoadLe16(bytes_, offset);
  }
  std::optional<uint32_t> U32(uint64_t offset) const {
    if (!Has(offset, 4)) return std::nullopt;
    return LoadLe32(bytes_, offset);
  }
  std::span<const uint8_t> Sub(uint64_t offset, uint64_t size) const {
    return bytes_.subspan(offset, size);
  }

 private:
  std::span<const uint8_t> bytes_;
};

struct Section {
  uint32_t virtualAddress = 0;
  uint32_t rawSize = 0;
  uint32_t rawOffset = 0;
};

struct Layout {
  std::vector<Section> sections;
  uint32_t resourceRva = 0;
  uint32_t resourceSize = 0;
};

ResourceResult Refuse(std::string problem) {
  return {std::nullopt, std::move(problem)};
}

// The file offset of `size` bytes at `rva`, when they lie wholly in one section's file data.
std::optional<uint64_t> FileOffset(const Layout& layout, const Bytes& file, uint32_t rva,
                                   uint32_t size) {
  for (const Section& s : layout.sections) {
    if (rva < s.virtualAddress) continue;
    const uint64_t into = rva - s.virtualAddress;
    if (into > s.rawSize || size > s.rawSize - into) continue;
    const uint64_t offset = uint64_t{s.rawOffset} + into;
    if (file.Has(offset, size)) return offset;
  }
  return std::nullopt;
}

// Headers, section table and resource directory location, or why the file is not usable.
std::optional<std::string> ReadLayout(const Bytes& file, Layout& layout) {
  const auto mz = file.U16(0);
  if (!mz || *mz != 0x5A4D) return "not a Windows executable (no MZ header)";
  const auto pe = file.U32(kPeHeaderOffsetField);
  if (!pe || !file.Has(*pe, 4 + kCoffHeaderSize)) return "the PE header lies outside the file";
  if (*file.U32(*pe) != 0x00004550) return "not a Windows executable (no PE signature)";
  const uint64_t coff = uint64_t{*pe} + 4;
  const uint16_t sectionCount = *file.U16(coff + 2);
  const uint16_t optionalSize = *file.U16(coff + 16);
  const uint64_t optional = coff + kCoffHeaderSize;
  if (!file.Has(optional, optionalSize)) return "the optional header runs past the end";

  const auto magic = file.U16(optional);
  uint32_t countField = 0;
  if (magic == kPe32Magic) {
    countField = 92;
  } else if (magic == kPe32PlusMagic) {
    countField = 108;
  } else {
    return "unknown optional header kind";
  }
  const uint32_t directories = countField + 4;
  const uint64_t resourceEntry = directories + 8 * kResourceDirectoryIndex;
  if (resourceEntry + 8 > optionalSize) return "the executable has no resource directory";
  const uint32_t directoryCount = *file.U32(optional + countField);
  if (directoryCount <= kResourceDirectoryIndex) return "the executable has no resource directory";
  layout.resourceRva = *file.U32(optional + resourceEntry);
  layout.resourceSize = *file.U32(optional + resourceEntry + 4);
  if (layout.resourceRva == 0 || layout.resourceSize == 0) return "the executable has no resources";

  const uint64_t table = optional + optionalSize;
  if (!file.Has(table, uint64_t{sectionCount} * kSectionHeaderSize)) {
    return "the section table runs past the end";
  }
  for (uint16_t i = 0; i < sectionCount; ++i) {
    const uint64_t header = table + uint64_t{i} * kSectionHeaderSize;
    layout.sections.push_back(
        {*file.U32(header + 12), *file.U32(header + 16), *file.U32(header + 20)});
  }
  return std::nullopt;
}

// One level of the resource tree, all of it inside the resource directory.
struct Directory {
  uint32_t offset = 0;
  uint32_t entries = 0;
};

std::optional<Directory> OpenDirectory(const Bytes& tree, uint32_t field) {
  if ((field & kHighBit) == 0) return std::nullopt;  // a leaf where a directory must be
  const uint32_t offset = field & ~kHighBit;
  const auto named = tree.U16(uint64_t{offset} + 12);
  const auto ids = tree.U16(uint64_t{offset} + 14);
  if (!named || !ids) return std::nullopt;
  const uint32_t entries = uint32_t{*named} + *ids;
  if (!tree.Has(uint64_t{offset} + kDirectoryHeaderSize, uint64_t{entries} * kDirectoryEntrySize)) {
    return std::nullopt;
  }
  return Directory{offset, entries};
}

uint64_t EntryAt(const Directory& d, uint32_t i) {
  return uint64_t{d.offset} + kDirectoryHeaderSize + uint64_t{i} * kDirectoryEntrySize;
}

// Whether a named entry's name (a counted UTF-16LE string) is `name`, ignoring ASCII case.
std::optional<bool> NameIs(const Bytes& tree, uint32_t field, const std::string& name) {
  if ((field & kHighBit) == 0) return false;  // an id, not a name
  const uint64_t offset = field & ~kHighBit;
  const auto length = tree.U16(offset);
  if (!length || !tree.Has(offset + 2, uint64_t{*length} * 2)) return std::nullopt;
  if (*length != name.size()) return false;
  for (size_t i = 0; i < name.size(); ++i) {
    const uint16_t c = *tree.U16(offset + 2 + 2 * i);
    if (c > 0x7F || std::toupper(c) != std::toupper(static_cast<unsigned char>(name[i]))) {
      return false;
    }
  }
  return true;
}

// Whether a level-2 entry is the one asked for: by name (ASCII, any case) or by numeric id.
using EntryMatch = std::function<std::optional<bool>(const Bytes& tree, uint32_t field)>;

// How a lookup names what it looks for in its refusals: "RCDATA" and "named FWC", say.
struct Wanted {
  uint32_t type;
  std::string typeName;
  std::string entryName;
  std::string shortName;  // for "the data of ... lies outside the file"
};

// The data of the first language of the resource of the wanted type whose entry `match`
// accepts.
ResourceResult Find(std::span<const uint8_t> bytes, const Wanted& wanted, const EntryMatch& match) {
  const Bytes file(bytes);
  Layout layout;
  if (auto problem = ReadLayout(file, layout)) return Refuse(*problem);
  const auto treeOffset = FileOffset(layout, file, layout.resourceRva, layout.resourceSize);
  if (!treeOffset) return Refuse("the resource directory lies outside the file");
  const Bytes tree(file.Sub(*treeOffset, layout.resourceSize));
  const std::string malformed = "malformed resource directory";

  // Level 1: the resource type.
  const auto types = OpenDirectory(tree, kHighBit);
  if (!types) return Refuse(malformed);
  std::optional<uint32_t> ofType;
  for (uint32_t i = 0; i < types->entries && !ofType; ++i) {
    if (*tree.U32(EntryAt(*types, i)) == wanted.type) ofType = *tree.U32(EntryAt(*types, i) + 4);
  }
  if (!ofType) return Refuse("no " + wanted.typeName + " resources");

  // Level 2: the resource name or id.
  const auto names = OpenDirectory(tree, *ofType);
  if (!names) return Refuse(malformed);
  std::optional<uint32_t> languagesField;
  for (uint32_t i = 0; i < names->entries && !languagesField; ++i) {
    const auto matches = match(tree, *tree.U32(EntryAt(*names, i)));
    if (!matches) return Refuse(malformed);
    if (*matches) languagesField = *tree.U32(EntryAt(*names, i) + 4);
  }
  if (!languagesField) return Refuse("no " + wanted.typeName + " resource " + wanted.entryName);

  // Level 3: the language; the first one is taken, as a lookup by name alone does.
  const auto languages = OpenDirectory(tree, *languagesField);
  if (!languages || languages->entries == 0) return Refuse(malformed);
  const uint32_t dataField = *tree.U32(EntryAt(*languages, 0) + 4);
  if ((dataField & kHighBit) != 0 || !tree.Has(dataField, kDataEntrySize)) return Refuse(malformed);
  const uint32_t dataRva = *tree.U32(dataField);
  const uint32_t dataSize = *tree.U32(uint64_t{dataField} + 4);
  const auto data = FileOffset(layout, file, dataRva, dataSize);
  if (!data) return Refuse("the data of " + wanted.shortName + " lies outside the file");
  const auto span = file.Sub(*data, dataSize);
  return {std::vector<uint8_t>(span.begin(), span.end()), ""};
}

}  // namespace

ResourceResult FindRcData(std::span<const uint8_t> bytes, const std::string& name) {
  return Find(bytes, {kRcDataType, "RCDATA", "named " + name, name},
              [&name](const Bytes& tree, uint32_t field) { return NameIs(tree, field, name); });
}

ResourceResult FindResourceById(std::span<const uint8_t> bytes, uint32_t type, uint32_t id) {
  const std::string typeName = "type " + std::to_string(type);
  return Find(
      bytes,
      {type, typeName, "with id " + std::to_string(id), typeName + " id " + std::to_string(id)},
      [id](const Bytes&, uint32_t field) -> std::optional<bool> { return field == id; });
}

}  // namespace omr72::pe
