// The read-ahead cache of the Linux file-system layer: FsRead answers the small reads of the
// handle read last from one larger read. The bytes it keeps lie behind the position the
// caller sees, so every other operation on a handle first gives them back.
#pragma once

namespace fsposix {

// Drops the kept bytes of handle without moving its position: the handle is closed, or a
// number that open() hands out again was closed behind the layer's back.
void ForgetReused(int handle);

// Puts the file's position back where the caller believes it is and drops the kept bytes.
// Returns false (error recorded) when the position cannot be moved back.
bool Forget(int handle);

}  // namespace fsposix
