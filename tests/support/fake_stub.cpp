#include "tests/support/fake_stub.h"

#include <string.h>

#include "archive/records.h"
#include "profile/profile.h"
#include "startup/integrity.h"

namespace qartest {

std::vector<uint8_t> FakeStub(bool x64) {
    std::vector<uint8_t> image(kFakeSectionFile + kFakeSectionSize, 0);
    image[0] = 'M';
    image[1] = 'Z';
    WriteLe32(&image[kPeHeaderPointer], kFakePe);
    memcpy(&image[kFakePe], "PE\0\0", 4);
    const uint32_t section = FakeSectionEntry(x64);
    WriteLe16(&image[kFakePe + 4], x64 ? kPeMachineAmd64 : kPeMachineI386);
    WriteLe16(&image[kFakePe + 6], 1);           // one section
    WriteLe16(&image[kFakePe + 20], section - kFakePe - 24);
    WriteLe16(&image[kFakePe + 24], x64 ? kPeMagic32Plus : kPeMagic32);
    memcpy(&image[section], ".data", 5);
    WriteLe32(&image[section + 8], kFakeSectionSize);
    WriteLe32(&image[section + 12], kFakeSectionRva);
    WriteLe32(&image[section + 16], kFakeSectionSize);
    WriteLe32(&image[section + 20], kFakeSectionFile);
    memcpy(&image[kFakeProfileFile], &Profile, kProfileSize);
    for (uint32_t i = kFakeProfileFile + kProfileSize; i < image.size(); ++i) image[i] = (uint8_t)(i * 7);
    return image;
}

}  // namespace qartest
