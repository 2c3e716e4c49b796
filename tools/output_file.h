// The one way `qar` writes a file it makes (an archive, an installer): under a temporary name
// in the target's folder, so that the final rename stays on one file system and is atomic.
// The file takes its name only once it is complete and on the disk; a failed run removes it,
// and so does every signal that ends the run (SIGINT, SIGTERM, SIGHUP, SIGPIPE), which then
// exits with 128 + the signal's number. A run never leaves a partial file behind.
#pragma once

#include <stdio.h>
#include <sys/types.h>

#include <string>
#include <vector>

// The modes before the umask: an archive is data, an installer a program.
constexpr mode_t kDataFileMode = 0666;
constexpr mode_t kProgramFileMode = 0777;

class OutputFile {
public:
    OutputFile() = default;
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    ~OutputFile();   // removes the temporary file unless Commit succeeded

    // Creates the temporary file beside target (".NAME.XXXXXX" in its folder). False, with
    // why in error, when none can be made there.
    bool Create(const std::string& target, std::string* error);
    FILE* File() const { return file_; }
    const std::string& TemporaryPath() const { return temp_; }

    // Flushes the file to the disk, gives it mode & ~umask and renames it to the target.
    // False, with why in error, and the temporary file removed, when any step fails.
    bool Commit(mode_t mode, std::string* error);
    // Removes the temporary file (also done by the destructor).
    void Discard();

private:
    std::string target_, temp_;
    FILE* file_ = nullptr;
    int slot_ = -1;   // this file's place among those the signal handler removes
};

// Reads a small input file whole (a stub, an icon). False with errno set when it cannot be
// read; a file of more than limit bytes is not read into memory (errno EFBIG).
bool ReadWholeFile(const std::string& path, size_t limit, std::vector<uint8_t>* bytes);
