// The installer image that `qar sfx` writes in front of an archive.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

// "x86" for an i686 (PE32) executable, "x64" for an x86-64 (PE32+) one, nullptr for
// anything else (another machine, a malformed header).
const char* StubArchitecture(const std::vector<uint8_t>& image);

// Turns a stub into the image of an installer: checks that it is an x86 or x64 executable
// holding exactly one installation profile, then sets the profile's StubSize to the stub's
// length and its integrity words to those the stub checks at start-up. False, with the
// reason in error, when the stub is unusable.
bool PrepareStubImage(std::vector<uint8_t>* stub, std::string* error);

struct ProductValues;

// The product's values that the stub carries (those of its profile). False, with the reason
// in error, when the stub does not hold exactly one profile.
bool StubProductValues(const std::vector<uint8_t>& stub, ProductValues* values, std::string* error);

// Writes the product's values into the bare stub (WriteProductValues); before PrepareStubImage.
bool PutProductValues(std::vector<uint8_t>* stub, const ProductValues& values, std::string* error);

// Checks that an archive of archiveSize bytes, whose first headSize bytes are head, looks like
// a QAR archive (its magic and at least a whole header) and that the installer of a
// stubSize-byte stub and this archive stays within the signed 32-bit file positions that the
// extractor uses.
bool CheckArchiveFits(uint64_t stubSize, const uint8_t* head, size_t headSize,
                      uint64_t archiveSize, std::string* error);
