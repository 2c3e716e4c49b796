// Installers rebuilt the way a tamperer would, so that a reader that finds the profile by
// another rule than the stub's sees a benign archive while the stub runs the real one. Both
// start from an installer as `qar sfx` writes it (a prepared stub without a product block,
// then the real archive) and re-seal the integrity words of every profile they leave, so
// that only the placement of the profiles can give them away:
//
//   CutSectionDecoy: the file size of the section holding the profile ends one byte short
//     of the profile's end (that byte is zero, and the loader fills the rest of the section
//     with zeros, so the stub in memory is unchanged); a section added behind the real
//     archive holds a second profile whose StubSize names the benign archive behind it.
//   FarSectionDecoy: the file bytes of the profile's section move past the first 16 MiB,
//     with the real archive behind them; a section added where they were holds a second
//     profile whose StubSize names the benign archive that follows it there.
#pragma once

#include <stdint.h>

#include <vector>

namespace qartest {

using Bytes = std::vector<uint8_t>;

// Both give the file offset of the real profile (the one the stub has in memory) in real.
Bytes CutSectionDecoy(const Bytes& installer, const Bytes& benignArchive, uint32_t* real = nullptr);
Bytes FarSectionDecoy(const Bytes& installer, const Bytes& benignArchive, uint32_t* real = nullptr);

// Writes into the profile at offset the integrity words over the first StubSize bytes of
// file (the StubSize it holds), as `qar sfx` computes them. Needs the CRC table.
void ResealProfile(Bytes* file, uint32_t offset);

// The file offset of the first profile in image (found by the anchor bytes that every
// profile carries), or -1.
int64_t FirstProfileOffset(const Bytes& image);

}  // namespace qartest
