#include "tools/sfx_image.h"

#include <string.h>

#include "archive/records.h"
#include "profile/product.h"
#include "profile/profile.h"
#include "startup/integrity.h"
#include "tools/installer_image.h"
#include "tools/product_values.h"

namespace {

// The offset of the profile in the stub, where the stub finds it (FindStubProfile), with the
// address it is linked at in rva; -1 with the reason in error when it cannot be found there.
// A stub holding the anchor twice is refused: patching either copy could leave the stub
// reading the other, and the stub refuses such an image anyway.
int64_t OnlyProfile(const std::vector<uint8_t>& stub, std::string* error, uint32_t* rva = nullptr) {
    if (stub.size() > 0x7FFFFFFFu) {
        *error = "too large";
        return -1;
    }
    uint32_t address = 0;
    const long profile = FindStubProfile(stub.data(), (uint32_t)stub.size(), &address);
    if (profile == kNoProfile) *error = "no installation profile found in it";
    if (profile == kProfileTwice) *error = "more than one installation profile found in it";
    if (profile == kProfileMisplaced) {
        *error = "its installation profile does not lie where the stub would find it";
    }
    if (profile < 0) return -1;
    if (rva) *rva = address;
    return profile;
}

}  // namespace

bool StubProductValues(const std::vector<uint8_t>& stub, ProductValues* values, std::string* error) {
    int64_t profile = OnlyProfile(stub, error);
    if (profile < 0) return false;
    if (!ReadProductValues(stub.data(), (uint32_t)stub.size(), (uint32_t)profile, values)) {
        *error = "its product block is damaged";
        return false;
    }
    return true;
}

bool PutProductValues(std::vector<uint8_t>* stub, const ProductValues& values, std::string* error) {
    int64_t profile = OnlyProfile(*stub, error);
    if (profile < 0) return false;
    if (ReadLe16(&(*stub)[profile + kProfileProductBlockOffset]) != 0) {
        *error = "it already carries another product's values";
        return false;
    }
    WriteProductValues(stub, (uint32_t)profile, values);
    return true;
}

const char* StubArchitecture(const std::vector<uint8_t>& image) {
    if (image.size() > 0x7FFFFFFFu) return nullptr;
    uint32_t pe = FindPeHeader(image.data(), (uint32_t)image.size());
    if (pe == 0) return nullptr;
    uint32_t machine = ReadLe16(&image[pe + kPeMachineField]);
    uint32_t magic = ReadLe16(&image[pe + kPeMagicField]);
    if (machine == kPeMachineI386 && magic == kPeMagic32) return "x86";
    if (machine == kPeMachineAmd64 && magic == kPeMagic32Plus) return "x64";
    return nullptr;
}

bool PrepareStubImage(std::vector<uint8_t>* stub, std::string* error) {
    std::vector<uint8_t>& image = *stub;
    if (image.size() < 0x40 || image[0] != 'M' || image[1] != 'Z') {
        *error = "not a Windows executable";
        return false;
    }
    if (StubArchitecture(image) == nullptr) {
        *error = "not an x86 (PE32) or x64 (PE32+) Windows executable";
        return false;
    }
    uint32_t rva;
    int64_t profile = OnlyProfile(image, error, &rva);
    if (profile < 0) return false;
    uint32_t size = (uint32_t)image.size();
    std::vector<uint8_t> prepared = image;
    WriteLe32(&prepared[profile + kProfileStubSizeOffset], size);
    std::vector<uint8_t> scratch = prepared;
    uint32_t words[2];
    ComputeIntegrityWords(scratch.data(), size, (uint32_t)profile, words);
    WriteLe32(&prepared[profile + kProfileIntegrityOffset], words[0]);
    WriteLe32(&prepared[profile + kProfileIntegrityOffset + 4], words[1]);
    // What the stub checks at start-up, by its own function.
    scratch = prepared;
    if (CheckedArchiveBase(scratch.data(), size, rva) != size) {
        *error = "the stub would refuse its own image";
        return false;
    }
    image.swap(prepared);
    return true;
}

bool CheckArchiveFits(uint64_t stubSize, const uint8_t* head, size_t headSize,
                      uint64_t archiveSize, std::string* error) {
    if (headSize < kArchiveHeaderSize || archiveSize < headSize || memcmp(head, kArchiveMagic, 4) != 0) {
        *error = "not a QAR archive";
        return false;
    }
    // Every archive position is read as ArchiveBase plus an offset into a signed 32-bit
    // file position.
    if (stubSize + archiveSize > 0x7FFFFFFFu) {
        *error = "too large for an installer (2 GiB at most)";
        return false;
    }
    return true;
}
