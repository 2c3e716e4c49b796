#include "profile/product.h"

#include <string.h>

#include "profile/profile.h"

namespace {

// One byte more than a block: the last one stays zero, so that a slot whose text runs on
// (the block was not written by `qar sfx`) still ends inside the buffer.
char BlockCopy[kProductBlockSize + 1];
}  // namespace

const char kDefaultProgramToRun[] = "tavlore.exe";

ProductTexts Product = {Profile.Title, Profile.ProbeFolder, Profile.PreferredFolder,
                        kDefaultProgramToRun};

void UseProductBlock(const uint8_t* block) {
    memcpy(BlockCopy, block, kProductBlockSize);
    Product.Title = BlockCopy;
    Product.ProbeFolder = BlockCopy + kProbeSlotOffset;
    Product.PreferredFolder = BlockCopy + kPreferredSlotOffset;
    Product.ProgramToRun = BlockCopy + kProgramSlotOffset;
}
