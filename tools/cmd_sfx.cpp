// `qar sfx`: builds an installer, the stub followed by an archive, as one .exe.
//
//   qar sfx [pack options] -o OUT.exe PATH...     packs PATH... exactly as `qar pack` does
//   qar sfx --archive FILE.qar -o OUT.exe         takes an existing archive
//   --arch x86|x64                                which built-in stub (default x86)
//   --stub FILE                                   another stub than the built-in ones
//
// The copy of the stub gets its StubSize (its own length, where the archive begins) and the
// integrity words that the stub checks at start-up. Nothing else varies, so the same stub
// and the same archive always give the same bytes.
#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "archive/records.h"
#include "profile/profile.h"
#include "startup/integrity.h"
#include "tools/commands.h"
#include "tools/embedded_stub.h"
#include "tools/sfx_image.h"

namespace {

const char kSfxUsage[] =
    "usage: qar sfx [pack options] -o OUT.exe PATH...\n"
    "       qar sfx --archive FILE.qar -o OUT.exe\n"
    "\n"
    "  -o OUT.exe        the installer to write\n"
    "  --archive FILE    use an existing archive instead of packing PATH...\n"
    "  --arch x86|x64    the installer's architecture (default x86): x86 runs on every\n"
    "                    Windows system that runs 32-bit programs; x64 also runs where\n"
    "                    they cannot (Windows PE x64, Server Core without WoW64)\n"
    "  --stub FILE       use another installer stub than those built into qar\n"
    "\n"
    "Pack options are those of `qar pack` (see `qar pack --help`).\n";

struct SfxArgs {
    std::string Output;
    std::string Archive;
    std::string Arch;    // "x86", "x64", or empty: x86, or whatever --stub is
    std::string Stub;
    std::vector<std::string> PackArgs;   // everything else, handed to `qar pack`
};

bool ReadFile(const std::string& path, std::vector<uint8_t>* bytes) {
    FILE* f = fopen(path.c_str(), "rb");
    if (!f) return false;
    bytes->clear();
    uint8_t chunk[65536];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, f)) > 0) bytes->insert(bytes->end(), chunk, chunk + n);
    bool ok = !ferror(f);
    fclose(f);
    return ok;
}

// Returns 0, or the exit status of a usage error (already printed).
int ParseArgs(int argc, char** argv, SfxArgs* args) {
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "-h" || a == "--help") {
            fputs(kSfxUsage, stdout);
            return -1;
        }
        std::string* target = a == "-o" ? &args->Output
                            : a == "--archive" ? &args->Archive
                            : a == "--stub" ? &args->Stub
                            : a == "--arch" ? &args->Arch : nullptr;
        if (!target) {
            args->PackArgs.push_back(a);
            continue;
        }
        if (i + 1 >= argc) {
            fprintf(stderr, "qar sfx: %s needs %s\n", a.c_str(),
                    target == &args->Arch ? "x86 or x64" : "a file name");
            return 2;
        }
        *target = argv[++i];
    }
    if (!args->Arch.empty() && args->Arch != "x86" && args->Arch != "x64") {
        fprintf(stderr, "qar sfx: --arch %s: the architecture is x86 or x64\n", args->Arch.c_str());
        return 2;
    }
    if (args->Output.empty()) {
        fprintf(stderr, "qar sfx: no output file (-o OUT.exe)\n\n%s", kSfxUsage);
        return 2;
    }
    if (!args->Archive.empty() && !args->PackArgs.empty()) {
        fprintf(stderr, "qar sfx: --archive takes no paths or pack options\n");
        return 2;
    }
    if (args->Archive.empty() && args->PackArgs.empty()) {
        fprintf(stderr, "qar sfx: nothing to pack\n\n%s", kSfxUsage);
        return 2;
    }
    return 0;
}

// The stub of the installer: --stub FILE (whose architecture must be --arch's when both are
// given), or the built-in stub of --arch.
bool LoadStub(const SfxArgs& args, std::vector<uint8_t>* stub) {
    if (!args.Stub.empty()) {
        if (!ReadFile(args.Stub, stub)) {
            fprintf(stderr, "qar sfx: cannot read stub %s: %s\n", args.Stub.c_str(), strerror(errno));
            return false;
        }
        const char* arch = StubArchitecture(*stub);
        if (!args.Arch.empty() && arch != nullptr && args.Arch != arch) {
            fprintf(stderr, "qar sfx: stub %s is an %s stub, not %s\n", args.Stub.c_str(), arch,
                    args.Arch.c_str());
            return false;
        }
        return true;
    }
    bool x64 = args.Arch == "x64";
    const unsigned char* bytes = x64 ? kEmbeddedStubX64 : kEmbeddedStubX86;
    uint32_t size = x64 ? kEmbeddedStubX64Size : kEmbeddedStubX86Size;
    if (size == 0) {
        fprintf(stderr, "qar sfx: this qar was built without the %s installer stub; give one "
                "with --stub\n", x64 ? "x64" : "x86");
        return false;
    }
    stub->assign(bytes, bytes + size);
    return true;
}

// Packs PATH... with `qar pack` into archivePath.
int PackInto(const SfxArgs& args, const std::string& archivePath) {
    std::vector<std::string> packArgs = {"pack", "-o", archivePath};
    packArgs.insert(packArgs.end(), args.PackArgs.begin(), args.PackArgs.end());
    std::vector<char*> argv;
    for (std::string& a : packArgs) argv.push_back(&a[0]);
    argv.push_back(nullptr);
    return CmdPack((int)packArgs.size(), argv.data());
}

// Creates a new, empty file beside path with a name of its own (never an existing file of
// the user's); returns its name, or "" when none can be made. fd receives the open file.
std::string CreateBeside(const std::string& path, int* fd) {
    std::string name = path + ".XXXXXX";
    *fd = mkstemp(&name[0]);
    return *fd < 0 ? std::string() : name;
}

bool WriteAll(FILE* out, const std::vector<uint8_t>& bytes) {
    return bytes.empty() || fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
}

}  // namespace

int CmdSfx(int argc, char** argv) {
    SfxArgs args;
    int status = ParseArgs(argc, argv, &args);
    if (status) return status < 0 ? 0 : status;

    std::vector<uint8_t> stub;
    if (!LoadStub(args, &stub)) return 1;
    std::string error;
    if (!PrepareStubImage(&stub, &error)) {
        fprintf(stderr, "qar sfx: %s: %s\n",
                args.Stub.empty() ? "built-in stub" : args.Stub.c_str(), error.c_str());
        return 1;
    }

    // The archive is packed (or copied) next to the output, then both are joined; nothing
    // is left behind on any failure.
    std::string archivePath = args.Archive;
    std::string packed;
    if (archivePath.empty()) {
        int fd;
        packed = CreateBeside(args.Output, &fd);
        if (packed.empty()) {
            fprintf(stderr, "qar sfx: cannot create a file beside %s: %s\n", args.Output.c_str(),
                    strerror(errno));
            return 1;
        }
        close(fd);
        status = PackInto(args, packed);
        if (status) {
            unlink(packed.c_str());
            return status;
        }
        archivePath = packed;
    }
    std::vector<uint8_t> archive;
    bool readOk = ReadFile(archivePath, &archive);
    int readErrno = errno;
    if (!packed.empty()) unlink(packed.c_str());
    if (!readOk) {
        fprintf(stderr, "qar sfx: cannot read %s: %s\n", archivePath.c_str(), strerror(readErrno));
        return 1;
    }
    if (!CheckArchiveFits(stub.size(), archive, &error)) {
        fprintf(stderr, "qar sfx: %s: %s\n", archivePath.c_str(), error.c_str());
        return 1;
    }

    int fd;
    std::string temp = CreateBeside(args.Output, &fd);
    FILE* out = temp.empty() ? nullptr : fdopen(fd, "wb");
    if (!out) {
        fprintf(stderr, "qar sfx: cannot create %s: %s\n", args.Output.c_str(), strerror(errno));
        if (!temp.empty()) {
            close(fd);
            unlink(temp.c_str());
        }
        return 1;
    }
    bool ok = WriteAll(out, stub) && WriteAll(out, archive);
    ok = (fclose(out) == 0) && ok;
    if (ok) chmod(temp.c_str(), 0755);
    if (!ok || rename(temp.c_str(), args.Output.c_str()) != 0) {
        fprintf(stderr, "qar sfx: cannot write %s: %s\n", args.Output.c_str(), strerror(errno));
        unlink(temp.c_str());
        return 1;
    }
    return 0;
}
