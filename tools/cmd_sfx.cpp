// `qar sfx`: builds an installer, the stub followed by an archive, as one .exe.
//
//   qar sfx [pack options] -o OUT.exe PATH...     packs PATH... exactly as `qar pack` does
//   qar sfx --archive FILE.qar -o OUT.exe         takes an existing archive
//   --arch x86|x64                                which built-in stub (default x86)
//   --stub FILE                                   another stub than the built-in ones
//   --title, --folder, --preferred-folder, --probe-folder, --run, --no-run
//                                                 the product's values (tools/product_values.h)
//   --icon, --product-version, --company, --product-name, --description, --copyright
//                                                 icon and version information
//                                                 (tools/installer_resources.h)
//
// The copy of the stub gets the product's values, its StubSize (its own length, where the
// archive begins) and the integrity words that the stub checks at start-up. Nothing else
// varies, so the same stub, values and archive always give the same bytes.
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "archive/records.h"
#include "profile/profile.h"
#include "startup/integrity.h"
#include "tools/commands.h"
#include "pack/code_pages.h"
#include "tools/archive_file.h"
#include "tools/embedded_stub.h"
#include "tools/installer_resources.h"
#include "tools/product_values.h"
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
    "The product (defaults: the stub's own values, the sample product Tavlore):\n"
    "  --title TEXT             caption of the dialogs and message boxes (1 to 127 characters)\n"
    "  --folder PATH            the destination proposed by default (C:\\Tavlore)\n"
    "  --preferred-folder PATH  proposed instead when --folder does not exist on the user's\n"
    "                           system and --probe-folder does (C:\\Program Files\\Tavlore)\n"
    "  --probe-folder PATH      (C:\\Program Files)\n"
    "  --run PATH               the program started when the files are in place, relative to\n"
    "                           the destination, with backslashes; a file of the archive\n"
    "                           (tavlore.exe)\n"
    "  --no-run                 start nothing\n"
    "  --codepage N             code page of these texts with --archive (default 1252; when\n"
    "                           packing, the pack option --codepage counts)\n"
    "Folders are absolute Windows paths of at most 259 characters.\n"
    "\n"
    "What Windows shows of the installer file (none of it unless given):\n"
    "  --icon FILE.ico          its icon, in Explorer and in the dialogs' captions\n"
    "  --product-version X.Y[.Z[.W]]\n"
    "                           the file and product version (parts of at most 65535)\n"
    "  --company TEXT           the publisher\n"
    "  --product-name TEXT      (default: the title)\n"
    "  --description TEXT       the file's description (default: the product name)\n"
    "  --copyright TEXT         the copyright notice\n"
    "Any of these gives the file version information in the code page of --codepage,\n"
    "which must hold every character of its texts; OriginalFilename is OUT.exe's name.\n"
    "\n"
    "Pack options are those of `qar pack` (see `qar pack --help`), --exclude PATTERN and\n"
    "--files-from FILE among them, for instance:\n"
    "  qar sfx -o setup.exe --exclude '**/*.pdb' --exclude '**/tests/' --files-from extra.txt build/\n";

struct SfxArgs {
    std::string Output;
    std::string Archive;
    std::string Arch;    // "x86", "x64", or empty: x86, or whatever --stub is
    std::string Stub;
    std::vector<std::string> PackArgs;   // everything else, handed to `qar pack`
    InstallerResourceOptions Resources;
    // Product values as given (UTF-8), each with whether it was given at all.
    std::string Values[5];
    bool Given[5] = {};
    bool NoRun = false;
    int CodePage = 1252;
};

// The product options, in the order of SfxArgs::Values.
enum { kTitle, kFolder, kPreferred, kProbe, kRun };
const char* const kValueOptions[5] = {"--title", "--folder", "--preferred-folder",
                                      "--probe-folder", "--run"};

// Reads a stub or an archive whole. An installer's file positions are signed 32-bit: a file
// larger than that could not be used and is not read into memory (errno EFBIG).
bool ReadFile(const std::string& path, std::vector<uint8_t>* bytes) {
    FILE* f = fopen(path.c_str(), "rb");
    if (!f) return false;
    bytes->clear();
    uint8_t chunk[65536];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, f)) > 0) {
        if (n > 0x7FFFFFFFu - bytes->size()) {
            fclose(f);
            errno = EFBIG;
            return false;
        }
        bytes->insert(bytes->end(), chunk, chunk + n);
    }
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
        int value = -1;
        for (int k = 0; k < 5; ++k) {
            if (a == kValueOptions[k]) value = k;
        }
        if (value >= 0 || a == "--codepage") {
            if (i + 1 >= argc) {
                return UsageError("sfx", a + " needs a value");
            }
            std::string v = argv[++i];
            if (value >= 0) {
                args->Values[value] = v;
                args->Given[value] = true;
                continue;
            }
            if (!ParseCodePageOption(v.c_str(), &args->CodePage)) return CodePageUsageError("sfx", v.c_str());
            // The archive's names are in the same code page: packing gets it too.
            args->PackArgs.push_back(a);
            args->PackArgs.push_back(v);
            continue;
        }
        if (a == "--exclude" || a == "--files-from") {
            // Their values go to packing too, even one that looks like an option of sfx.
            if (i + 1 >= argc) return UsageError("sfx", a + " needs a value");
            args->PackArgs.push_back(a);
            args->PackArgs.push_back(argv[++i]);
            continue;
        }
        if (std::string* target = ResourceOption(&args->Resources, a)) {
            if (i + 1 >= argc) return UsageError("sfx", a + " needs a value");
            *target = argv[++i];
            continue;
        }
        if (a == "--no-run") {
            args->NoRun = true;
            continue;
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
            return UsageError("sfx", a + (target == &args->Arch ? " needs x86 or x64" : " needs a file name"));
        }
        *target = argv[++i];
    }
    if (!args->Arch.empty() && args->Arch != "x86" && args->Arch != "x64") {
        return UsageError("sfx", "--arch " + args->Arch + ": the architecture is x86 or x64");
    }
    if (args->Output.empty()) {
        return UsageError("sfx", "no output file (-o OUT.exe)");
    }
    if (args->NoRun && args->Given[kRun]) {
        return UsageError("sfx", "--run and --no-run exclude each other");
    }
    if (!args->Archive.empty() && args->PackArgs.size() == 2 && args->PackArgs[0] == "--codepage")
        args->PackArgs.clear();   // with --archive, --codepage is the product texts' alone
    if (!args->Archive.empty() && !args->PackArgs.empty()) {
        return UsageError("sfx", "--archive takes no paths or pack options");
    }
    if (args->Archive.empty() && args->PackArgs.empty()) {
        return UsageError("sfx", "nothing to pack: give files or folders, or --archive FILE");
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

// The product's values: the stub's own, replaced by those given, in the code page. Returns 0,
// or the exit status of a refused value (already told).
int ChooseProductValues(const SfxArgs& args, const std::vector<uint8_t>& stub,
                        ProductValues* values) {
    std::string error;
    if (!StubProductValues(stub, values, &error)) {
        fprintf(stderr, "qar sfx: %s: %s\n", args.Stub.empty() ? "built-in stub" : args.Stub.c_str(),
                error.c_str());
        return 1;
    }
    if (!IsSupportedCodePage(args.CodePage)) {
        fprintf(stderr, "qar sfx: code page %d is not supported (supported: %s)\n", args.CodePage,
                SupportedCodePages());
        return 2;
    }
    std::string* fields[5] = {&values->Title, &values->Folder, &values->PreferredFolder,
                              &values->ProbeFolder, &values->Program};
    for (int k = 0; k < 5; ++k) {
        if (!args.Given[k]) continue;
        if (!ToCodePage(args.Values[k], args.CodePage, fields[k], &error)) {
            fprintf(stderr, "qar sfx: %s %s: %s\n", kValueOptions[k], args.Values[k].c_str(),
                    error.c_str());
            return 2;
        }
    }
    if (args.NoRun) values->Program.clear();
    if (!CheckProductValues(*values, &error)) {
        fprintf(stderr, "qar sfx: %s\n", error.c_str());
        return 2;
    }
    return 0;
}

// True when the archive at path has a file entry named program (letters compared without
// case, as the installer compares them). *readable is false when the archive could not be read.
bool ArchiveHasFile(const std::string& path, const std::string& program, bool* readable) {
    ArchiveFileInfo info;
    *readable = false;
    bool found = false;
    if (!OpenArchiveForCore(path.c_str(), &info)) return false;
    if (AllocateInput()) {
        int32_t r = WalkDirectory([&](const DirectoryEntry& e, const std::string& name) {
            found = (e.Flags & FlagFolder) == 0 && name.size() == program.size() &&
                    strncasecmp(name.c_str(), program.c_str(), name.size()) == 0;
            return !found;
        });
        *readable = r == 0 || found;
        ReleaseInput();
    }
    CloseArchiveForCore();
    return found;
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
    ProductValues values;
    status = ChooseProductValues(args, stub, &values);
    if (status) return status;
    status = PutInstallerResources(args.Resources, args.CodePage, values.Title, args.Output,
                                   args.Stub.empty() ? "built-in stub" : args.Stub, &stub);
    if (status) return status;
    std::string error;
    if (!PutProductValues(&stub, values, &error) || !PrepareStubImage(&stub, &error)) {
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
    if (args.Given[kRun]) {
        bool readable;
        if (!ArchiveHasFile(archivePath, values.Program, &readable)) {
            if (readable || !packed.empty()) {
                fprintf(stderr, "qar sfx: --run %s: the archive has no file of that name\n",
                        args.Values[kRun].c_str());
                if (!packed.empty()) unlink(packed.c_str());
                return 2;
            }
            fprintf(stderr, "qar sfx: warning: --run %s: %s could not be read to check that it "
                    "holds that file\n", args.Values[kRun].c_str(), archivePath.c_str());
        }
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
