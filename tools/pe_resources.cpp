#include "tools/pe_resources.h"

#include <algorithm>

#include "archive/records.h"
#include "startup/integrity.h"

namespace {

// Offsets in the optional header (from the PE signature), the same in PE32 and PE32+.
enum : uint32_t {
    kInitializedDataField = 24 + 8,
    kSectionAlignmentField = 24 + 32,
    kFileAlignmentField = 24 + 36,
    kSizeOfImageField = 24 + 56,
    kOptionalHeaderSizeField = 20,
    kDirectoryTableSize = 16,
    kDirectoryEntrySize = 8,
    kDataEntrySize = 16,
    kSubdirectoryBit = 0x80000000u,
    kInitializedDataFlag = 0x40,   // of a section's characteristics
    kCertificateIndex = 4,
    kResourceIndex = 2,
};

uint32_t AlignUp(uint32_t value, uint32_t alignment) {
    return (value + alignment - 1) & ~(alignment - 1);
}

// The resource entry of the data directory, from the PE signature; the count of entries
// lies in front of the directory. 0 when the optional header is too short to hold it.
uint32_t ResourceEntry(const uint8_t* image, uint32_t pe) {
    const uint32_t certificate = PeCertificateEntry(image, pe);
    const uint32_t entry = certificate - (kCertificateIndex - kResourceIndex) * 8;
    const uint32_t count = ReadLe32(image + pe + certificate - kCertificateIndex * 8 - 4);
    const uint32_t optionalSize = ReadLe16(image + pe + kOptionalHeaderSizeField);
    if (count <= kResourceIndex || optionalSize < entry + 8 - 24) return 0;
    return entry;
}

// The sections of the image, or false when its section table runs past it or is too long.
bool Sections(const std::vector<uint8_t>& image, uint32_t pe, std::vector<PeSection>* sections,
              uint32_t* table) {
    uint32_t count;
    *table = PeSectionTable(image.data(), pe, &count);
    if (count > kPeMostSections) return false;
    sections->resize(count);
    for (uint32_t i = 0; i < count; ++i) {
        if (!ReadPeSection(image.data(), (uint32_t)image.size(), *table + i * kPeSectionEntrySize,
                           &(*sections)[i])) {
            return false;
        }
    }
    return true;
}

// The bytes of a section the loader fills from the file: its memory size, or its file size
// when that is smaller or the memory size is not given.
uint32_t LoadedSize(const PeSection& s) {
    return s.VirtualSize == 0 || s.RawSize < s.VirtualSize ? s.RawSize : s.VirtualSize;
}

// The file offset of rva and how many of the bytes from there on its section loads from
// the file; false when no section's file bytes hold it.
bool FileSpan(const std::vector<uint8_t>& image, uint32_t rva, uint32_t* offset, uint32_t* span) {
    if (image.size() > 0x7FFFFFFFu) return false;
    const uint32_t pe = FindPeHeader(image.data(), (uint32_t)image.size());
    std::vector<PeSection> sections;
    uint32_t table;
    if (!pe || !Sections(image, pe, &sections, &table)) return false;
    for (const PeSection& s : sections) {
        const uint32_t loaded = LoadedSize(s);
        const uint32_t into = rva - s.Address;
        if (s.RawOffset > image.size() || loaded > image.size() - s.RawOffset || into >= loaded) {
            continue;
        }
        *offset = s.RawOffset + into;
        *span = loaded - into;
        return true;
    }
    return false;
}

// Reads the directory that starts at base (limit bytes from there are the directory's).
class DirectoryReader {
public:
    DirectoryReader(const std::vector<uint8_t>& image, uint32_t base, uint32_t limit,
                    std::vector<Resource>* out)
        : image_(image), base_(base), limit_(limit), out_(out) {}

    // The table at offset (from the directory's start); level 0 lists types, 1 names, 2
    // languages, whose entries lead to data entries.
    bool Table(uint32_t offset, int level, Resource* path) {
        if (!Fits(offset, kDirectoryTableSize)) return Fail("a table lies outside the directory");
        const uint8_t* t = At(offset);
        const uint32_t count = (uint32_t)ReadLe16(t + 12) + ReadLe16(t + 14);
        if (count > kMostResources - visited_) return Fail("more entries than qar reads");
        visited_ += count;
        const uint32_t first = offset + kDirectoryTableSize;
        if (!Fits(first, count * kDirectoryEntrySize)) return Fail("a table runs past the directory");
        for (uint32_t i = 0; i < count; ++i) {
            const uint8_t* e = At(first + i * kDirectoryEntrySize);
            const uint32_t id = ReadLe32(e), target = ReadLe32(e + 4);
            ResourceId key;
            if (id & kSubdirectoryBit) {
                if (level == 2) return Fail("a language given by name");
                if (!Name(id & ~kSubdirectoryBit, &key.Name)) return false;
            } else {
                key.Number = (uint16_t)id;
            }
            if (level == 0) path->Type = key;
            if (level == 1) path->Name = key;
            if (level == 2) path->Language = key.Number;
            const bool subdirectory = (target & kSubdirectoryBit) != 0;
            if (subdirectory != (level < 2)) return Fail("an entry at the wrong level");
            if (level < 2) {
                if (!Table(target & ~kSubdirectoryBit, level + 1, path)) return false;
            } else if (!Data(target, *path)) {
                return false;
            }
        }
        return true;
    }

    std::string Error;

private:
    bool Fits(uint32_t offset, uint32_t size) const {
        return offset <= limit_ && size <= limit_ - offset;
    }
    const uint8_t* At(uint32_t offset) const { return image_.data() + base_ + offset; }
    bool Fail(const char* why) {
        Error = std::string("its resource directory is damaged: ") + why;
        return false;
    }

    bool Name(uint32_t offset, std::u16string* name) {
        if (!Fits(offset, 2)) return Fail("a name lies outside the directory");
        const uint32_t length = ReadLe16(At(offset));
        if (length == 0 || !Fits(offset + 2, length * 2)) return Fail("a name runs past the directory");
        for (uint32_t i = 0; i < length; ++i) name->push_back((char16_t)ReadLe16(At(offset + 2 + 2 * i)));
        return true;
    }

    bool Data(uint32_t offset, Resource resource) {
        if (!Fits(offset, kDataEntrySize)) return Fail("a data entry lies outside the directory");
        const uint8_t* d = At(offset);
        resource.InImage = true;
        resource.Rva = ReadLe32(d);
        resource.Size = ReadLe32(d + 4);
        resource.CodePage = ReadLe32(d + 8);
        uint32_t at;
        if (!ResourceBytesAt(image_, resource.Rva, resource.Size, &at)) {
            return Fail("a resource's bytes lie outside the image");
        }
        out_->push_back(resource);
        return true;
    }

    const std::vector<uint8_t>& image_;
    const uint32_t base_, limit_;
    std::vector<Resource>* out_;
    uint32_t visited_ = 0;
};

// Named ids come first, ordered by their code units, then numbered ids in ascending order.
bool IdBefore(const ResourceId& a, const ResourceId& b) {
    if (a.Name.empty() != b.Name.empty()) return !a.Name.empty();
    return a.Name.empty() ? a.Number < b.Number : a.Name < b.Name;
}

bool SameId(const ResourceId& a, const ResourceId& b) {
    return !IdBefore(a, b) && !IdBefore(b, a);
}

void Append16(std::vector<uint8_t>* out, uint32_t value) {
    out->push_back((uint8_t)value);
    out->push_back((uint8_t)(value >> 8));
}

void Append32(std::vector<uint8_t>* out, uint32_t value) {
    Append16(out, value & 0xFFFF);
    Append16(out, value >> 16);
}

}  // namespace

bool ResourceBytesAt(const std::vector<uint8_t>& image, uint32_t rva, uint32_t size,
                     uint32_t* offset) {
    uint32_t span;
    return FileSpan(image, rva, offset, &span) && size <= span;
}

bool ReadResources(const std::vector<uint8_t>& image, std::vector<Resource>* resources,
                   std::string* error) {
    resources->clear();
    const uint32_t pe = image.size() > 0x7FFFFFFFu ? 0 : FindPeHeader(image.data(), (uint32_t)image.size());
    if (!pe) {
        *error = "not a PE32 or PE32+ executable";
        return false;
    }
    const uint32_t entry = ResourceEntry(image.data(), pe);
    const uint32_t rva = entry ? ReadLe32(&image[pe + entry]) : 0;
    if (rva == 0) return true;
    uint32_t base, span;
    if (!FileSpan(image, rva, &base, &span)) {
        *error = "its resource directory lies outside the image's sections";
        return false;
    }
    DirectoryReader reader(image, base, span, resources);
    Resource path;
    if (!reader.Table(0, 0, &path)) {
        *error = reader.Error;
        resources->clear();
        return false;
    }
    return true;
}

void PutResource(std::vector<Resource>* resources, const Resource& resource) {
    for (Resource& r : *resources) {
        if (SameId(r.Type, resource.Type) && SameId(r.Name, resource.Name) &&
            r.Language == resource.Language) {
            r = resource;
            return;
        }
    }
    resources->push_back(resource);
}

void DropResources(std::vector<Resource>* resources, uint16_t type) {
    resources->erase(std::remove_if(resources->begin(), resources->end(),
                                    [&](const Resource& r) {
                                        return r.Type.Name.empty() && r.Type.Number == type;
                                    }),
                     resources->end());
}

std::vector<uint8_t> ResourceDirectoryBlock(const std::vector<Resource>& resources, uint32_t rva) {
    std::vector<const Resource*> sorted;
    for (const Resource& r : resources) sorted.push_back(&r);
    std::stable_sort(sorted.begin(), sorted.end(), [](const Resource* a, const Resource* b) {
        if (!SameId(a->Type, b->Type)) return IdBefore(a->Type, b->Type);
        if (!SameId(a->Name, b->Name)) return IdBefore(a->Name, b->Name);
        return a->Language < b->Language;
    });
    // The tree: the types, the names of each type, the languages of each name.
    struct NameNode { size_t First, Count; };
    struct TypeNode { size_t First; std::vector<NameNode> Names; };
    std::vector<TypeNode> types;
    for (size_t i = 0; i < sorted.size(); ++i) {
        const Resource& r = *sorted[i];
        if (i == 0 || !SameId(sorted[i - 1]->Type, r.Type)) {
            types.push_back({i, {}});
        }
        TypeNode& type = types.back();
        if (type.Names.empty() || !SameId(sorted[i - 1]->Name, r.Name)) {
            type.Names.push_back({i, 0});
        }
        ++type.Names.back().Count;
    }

    // Where everything goes: every table, then the data entries, the names and the data.
    uint32_t size = kDirectoryTableSize + (uint32_t)types.size() * kDirectoryEntrySize;
    std::vector<uint32_t> typeTables, nameTables;
    for (const TypeNode& t : types) {
        typeTables.push_back(size);
        size += kDirectoryTableSize + (uint32_t)t.Names.size() * kDirectoryEntrySize;
    }
    for (const TypeNode& t : types) {
        for (const NameNode& n : t.Names) {
            nameTables.push_back(size);
            size += kDirectoryTableSize + (uint32_t)n.Count * kDirectoryEntrySize;
        }
    }
    const uint32_t dataEntries = size;
    size += (uint32_t)sorted.size() * kDataEntrySize;
    // Each named id once, where it first occurs as a type or as a name.
    std::vector<uint32_t> typeNames(types.size()), nameNames(nameTables.size());
    std::vector<std::u16string> names;
    size_t n = 0;
    for (size_t t = 0; t < types.size(); ++t) {
        const ResourceId& type = sorted[types[t].First]->Type;
        if (!type.Name.empty()) {
            typeNames[t] = size;
            names.push_back(type.Name);
            size += 2 + 2 * (uint32_t)type.Name.size();
        }
        for (const NameNode& node : types[t].Names) {
            const ResourceId& name = sorted[node.First]->Name;
            if (!name.Name.empty()) {
                nameNames[n] = size;
                names.push_back(name.Name);
                size += 2 + 2 * (uint32_t)name.Name.size();
            }
            ++n;
        }
    }
    std::vector<uint32_t> dataRva(sorted.size());
    for (size_t i = 0; i < sorted.size(); ++i) {
        if (sorted[i]->InImage) {
            dataRva[i] = sorted[i]->Rva;
            continue;
        }
        size = AlignUp(size, 8);
        dataRva[i] = rva + size;
        size += (uint32_t)sorted[i]->Data.size();
    }

    std::vector<uint8_t> block;
    block.reserve(size);
    auto table = [&](size_t named, size_t numbered) {
        Append32(&block, 0);   // characteristics
        Append32(&block, 0);   // time stamp
        Append32(&block, 0);   // version
        Append16(&block, (uint32_t)named);
        Append16(&block, (uint32_t)numbered);
    };
    auto id = [&](const ResourceId& key, uint32_t nameOffset) {
        Append32(&block, key.Name.empty() ? key.Number : (nameOffset | kSubdirectoryBit));
    };
    auto count = [](auto first, auto last, auto isNamed) {
        size_t named = 0;
        for (auto i = first; i != last; ++i) named += isNamed(*i);
        return named;
    };
    const size_t namedTypes =
        count(types.begin(), types.end(), [&](const TypeNode& t) { return !sorted[t.First]->Type.Name.empty(); });
    table(namedTypes, types.size() - namedTypes);
    for (size_t t = 0; t < types.size(); ++t) {
        id(sorted[types[t].First]->Type, typeNames[t]);
        Append32(&block, typeTables[t] | kSubdirectoryBit);
    }
    n = 0;
    for (const TypeNode& t : types) {
        const size_t named = count(t.Names.begin(), t.Names.end(),
                                   [&](const NameNode& node) { return !sorted[node.First]->Name.Name.empty(); });
        table(named, t.Names.size() - named);
        for (const NameNode& node : t.Names) {
            id(sorted[node.First]->Name, nameNames[n]);
            Append32(&block, nameTables[n] | kSubdirectoryBit);
            ++n;
        }
    }
    for (const TypeNode& t : types) {
        for (const NameNode& node : t.Names) {
            table(0, node.Count);
            for (size_t i = node.First; i < node.First + node.Count; ++i) {
                Append32(&block, sorted[i]->Language);
                Append32(&block, dataEntries + (uint32_t)i * kDataEntrySize);
            }
        }
    }
    for (size_t i = 0; i < sorted.size(); ++i) {
        Append32(&block, dataRva[i]);
        Append32(&block, sorted[i]->InImage ? sorted[i]->Size : (uint32_t)sorted[i]->Data.size());
        Append32(&block, sorted[i]->CodePage);
        Append32(&block, 0);
    }
    for (const std::u16string& name : names) {
        Append16(&block, (uint32_t)name.size());
        for (char16_t c : name) Append16(&block, c);
    }
    for (size_t i = 0; i < sorted.size(); ++i) {
        if (sorted[i]->InImage) continue;
        block.resize(dataRva[i] - rva, 0);
        block.insert(block.end(), sorted[i]->Data.begin(), sorted[i]->Data.end());
    }
    return block;
}

bool AddResources(std::vector<uint8_t>* imagePtr, const std::vector<Resource>& resources,
                  std::string* error) {
    const std::vector<uint8_t>& image = *imagePtr;
    const uint32_t pe = image.size() > 0x7FFFFFFFu ? 0 : FindPeHeader(image.data(), (uint32_t)image.size());
    if (!pe) {
        *error = "not a PE32 or PE32+ executable";
        return false;
    }
    const uint32_t entry = ResourceEntry(image.data(), pe);
    std::vector<PeSection> sections;
    uint32_t table;
    if (!entry || ReadLe32(&image[pe + entry]) == 0) {
        *error = "it has no resource section to add the resources to";
        return false;
    }
    if (!Sections(image, pe, &sections, &table) || sections.empty()) {
        *error = "its section table is damaged";
        return false;
    }
    if (ReadLe32(&image[pe + PeCertificateEntry(image.data(), pe) + 4]) != 0) {
        *error = "it is signed; sign the installer instead, once it is built";
        return false;
    }
    const PeSection last = sections.back();
    const uint32_t directory = ReadLe32(&image[pe + entry]);
    bool lastEverywhere = last.RawOffset <= image.size() && last.RawSize == image.size() - last.RawOffset &&
                          directory - last.Address < LoadedSize(last);
    for (size_t i = 0; i + 1 < sections.size(); ++i) {
        const PeSection& s = sections[i];
        if (s.Address >= last.Address || (s.RawSize != 0 && s.RawOffset >= last.RawOffset)) {
            lastEverywhere = false;
        }
    }
    if (!lastEverywhere) {
        *error = "its resources are not in its last section, the last in the file and in memory "
                 "with nothing behind it";
        return false;
    }
    const uint32_t fileAlignment = ReadLe32(&image[pe + kFileAlignmentField]);
    const uint32_t sectionAlignment = ReadLe32(&image[pe + kSectionAlignmentField]);
    auto powerOfTwo = [](uint32_t v) { return v != 0 && (v & (v - 1)) == 0 && v <= 0x10000; };
    if (!powerOfTwo(fileAlignment) || !powerOfTwo(sectionAlignment)) {
        *error = "its file or section alignment is not a power of two";
        return false;
    }

    // The section's loaded bytes stay where they are; the new directory follows them.
    const uint32_t kept = LoadedSize(last);
    const uint32_t at = AlignUp(kept, 8);
    const uint32_t rva = last.Address + at;
    if (rva < last.Address || rva > 0x7FFFFFFFu) {
        *error = "its last section lies too high in memory";
        return false;
    }
    std::vector<uint8_t> block = ResourceDirectoryBlock(resources, rva);
    const uint64_t virtualSize = (uint64_t)at + block.size();
    const uint64_t rawSize = ((virtualSize + fileAlignment - 1) / fileAlignment) * fileAlignment;
    if (last.RawOffset + rawSize > 0x7FFFFFFFu || last.Address + virtualSize + sectionAlignment > 0x7FFFFFFFu) {
        *error = "too large with these resources";
        return false;
    }
    std::vector<uint8_t> out(image.begin(), image.begin() + last.RawOffset + kept);
    out.resize(last.RawOffset + at, 0);
    out.insert(out.end(), block.begin(), block.end());
    out.resize(last.RawOffset + (size_t)rawSize, 0);

    const uint32_t section = table + (uint32_t)(sections.size() - 1) * kPeSectionEntrySize;
    WriteLe32(&out[section + 8], (uint32_t)virtualSize);
    WriteLe32(&out[section + 16], (uint32_t)rawSize);
    WriteLe32(&out[pe + kSizeOfImageField], AlignUp(last.Address + (uint32_t)virtualSize, sectionAlignment));
    if (ReadLe32(&out[section + 36]) & kInitializedDataFlag) {
        WriteLe32(&out[pe + kInitializedDataField],
                  ReadLe32(&out[pe + kInitializedDataField]) + (uint32_t)rawSize - last.RawSize);
    }
    WriteLe32(&out[pe + entry], rva);
    WriteLe32(&out[pe + entry + 4], (uint32_t)block.size());
    imagePtr->swap(out);
    return true;
}
