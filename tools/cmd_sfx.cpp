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

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "archive/records.h"
#include "profile/product.h"
#include "profile/profile.h"
#include "startup/integrity.h"
#include "text/code_pages.h"
#include "tools/archive_session.h"
#include "tools/commands.h"
#include "tools/embedded_stub.h"
#include "tools/installer_resources.h"
#include "tools/options.h"
#include "tools/output_file.h"
#include "tools/pack_command.h"
#include "tools/product_values.h"
#include "tools/sfx_image.h"

namespace {

// The buffer that copies a given archive into the installer.
const size_t kCopyBufferSize = 1 << 16;

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
    "  --run PATH               the program started when the files are in place: a file of\n"
    "                           the archive, relative to the destination, folders separated\n"
    "                           by \\ or / (tavlore.exe; an archive without it needs --run or\n"
    "                           --no-run)\n"
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
    "Any but --icon gives the file version information, whose texts the code page of\n"
    "--codepage must hold; OriginalFilename is OUT.exe's name.\n"
    "\n"
    "Pack options are those of `qar pack` (see `qar pack --help`), --exclude PATTERN and\n"
    "--files-from FILE among them, for instance:\n"
    "  qar sfx -o setup.exe --exclude '**/*.pdb' --exclude '**/tests/' --files-from extra.txt build/\n";

struct SfxArgs {
    std::string Output;
    std::string Archive;
    std::string Arch;    // "x86", "x64", or empty: x86, or whatever --stub is
    std::string Stub;
    PackSettings Pack;                 // the pack options, when packing PATH...
    bool PackOptionGiven = false;
    std::vector<std::string> Paths;
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

// The options of sfx: its own, the installer's resources, and those of packing.
std::vector<Option> SfxOptions(SfxArgs* args) {
    std::vector<Option> table = {
        FileOption("-o", &args->Output),
        FileOption("--archive", &args->Archive),
        FileOption("--stub", &args->Stub),
        Option{"--arch", true, [args](const char* v) {
                   if (strcmp(v, "x86") && strcmp(v, "x64"))
                       return std::string("--arch ") + v + ": the architecture is x86 or x64";
                   args->Arch = v;
                   return std::string();
               }},
        FlagOption("--no-run", &args->NoRun),
        // The texts' code page is the archive's names' too.
        Option{"--codepage", true, [args](const char* v) {
                   const std::string problem = CodePageOption(&args->CodePage).Apply(v);
                   args->Pack.Walk.CodePage = args->CodePage;
                   return problem;
               }},
    };
    for (int k = 0; k < 5; ++k) {
        table.push_back(Option{kValueOptions[k], true, [args, k](const char* v) {
                                   args->Values[k] = v;
                                   args->Given[k] = true;
                                   return std::string();
                               }});
    }
    for (Option& o : ResourceOptions(&args->Resources)) table.push_back(o);
    for (Option& o : PackingOptions(&args->Pack)) {
        auto apply = o.Apply;
        o.Apply = [args, apply](const char* v) {
            args->PackOptionGiven = true;
            return apply(v);
        };
        table.push_back(o);
    }
    return table;
}

// Returns nothing when the command is to run, else the exit status to end with.
std::optional<int> ParseArgs(int argc, char** argv, SfxArgs* args) {
    const CommandLine line{"sfx", kSfxUsage, SfxOptions(args)};
    if (auto status = ParseCommandLine(line, argc, argv, &args->Paths)) return status;
    if (args->Output.empty()) return UsageError("sfx", "no output file (-o OUT.exe)");
    if (args->NoRun && args->Given[kRun]) return UsageError("sfx", "--run and --no-run exclude each other");
    if (!args->Archive.empty() && (args->PackOptionGiven || !args->Paths.empty()))
        return UsageError("sfx", "--archive takes no paths or pack options");
    return std::nullopt;
}

// The stub of the installer: --stub FILE (whose architecture must be --arch's when both are
// given), or the built-in stub of --arch.
int LoadStub(const SfxArgs& args, std::vector<uint8_t>* stub) {
    if (!args.Stub.empty()) {
        // An installer's file positions are signed 32-bit: a larger stub could not be used.
        if (!ReadWholeFile(args.Stub, 0x7FFFFFFFu, stub)) {
            fprintf(stderr, "qar sfx: cannot read stub %s: %s\n", args.Stub.c_str(), strerror(errno));
            return kExitFailure;
        }
        const char* arch = StubArchitecture(*stub);
        if (!args.Arch.empty() && arch != nullptr && args.Arch != arch) {
            fprintf(stderr, "qar sfx: stub %s is an %s stub, not %s\n", args.Stub.c_str(), arch,
                    args.Arch.c_str());
            return kExitUsage;
        }
        return kExitSuccess;
    }
    bool x64 = args.Arch == "x64";
    const unsigned char* bytes = x64 ? kEmbeddedStubX64 : kEmbeddedStubX86;
    uint32_t size = x64 ? kEmbeddedStubX64Size : kEmbeddedStubX86Size;
    if (size == 0) {
        fprintf(stderr, "qar sfx: this qar was built without the %s installer stub; give one "
                "with --stub\n", x64 ? "x64" : "x86");
        return kExitFailure;
    }
    stub->assign(bytes, bytes + size);
    return kExitSuccess;
}

// The product's values: the stub's own, replaced by those given, in the code page. Returns
// kExitSuccess, or the exit status of a refused value (already told).
int ChooseProductValues(const SfxArgs& args, const std::vector<uint8_t>& stub,
                        ProductValues* values, ProductValues* stubValues) {
    std::string error;
    if (!StubProductValues(stub, stubValues, &error)) {
        fprintf(stderr, "qar sfx: %s: %s\n", args.Stub.empty() ? "built-in stub" : args.Stub.c_str(),
                error.c_str());
        return kExitFailure;
    }
    if (!IsSupportedCodePage(args.CodePage)) {
        fprintf(stderr, "qar sfx: code page %d is not supported (supported: %s)\n", args.CodePage,
                SupportedCodePages());
        return kExitUsage;
    }
    *values = *stubValues;
    std::string* fields[5] = {&values->Title, &values->Folder, &values->PreferredFolder,
                              &values->ProbeFolder, &values->Program};
    for (int k = 0; k < 5; ++k) {
        if (!args.Given[k]) continue;
        // The installer joins the program to the destination with backslashes; a slash,
        // which no Windows name may hold, can only have meant one.
        std::string given = args.Values[k];
        if (k == kRun) std::replace(given.begin(), given.end(), '/', '\\');
        if (!ToCodePage(given, args.CodePage, fields[k], &error)) {
            fprintf(stderr, "qar sfx: %s %s: %s\n", kValueOptions[k], args.Values[k].c_str(),
                    error.c_str());
            return kExitUsage;
        }
    }
    if (args.NoRun) values->Program.clear();
    if (!CheckProductValues(*values, &error)) {
        fprintf(stderr, "qar sfx: %s\n", error.c_str());
        return kExitUsage;
    }
    return kExitSuccess;
}

// True when the archive at path has a file entry named program (letters compared without
// case, as the installer compares them). *readable is false when the archive could not be read.
bool ArchiveHasFile(const std::string& path, const std::string& program, bool* readable) {
    ArchiveFileInfo info;
    *readable = false;
    bool found = false;
    ArchiveSession session;
    if (!session.Open("sfx", path.c_str(), &info)) return false;
    int32_t r = WalkDirectory([&](const DirectoryEntry& e, const std::string& name) {
        found = (e.Flags & FlagFolder) == 0 && name.size() == program.size() &&
                strncasecmp(name.c_str(), program.c_str(), name.size()) == 0;
        return !found;
    });
    *readable = r == 0 || found;
    return found;
}

// The program to start must be a file of the archive, the one --run names or the sample
// product's by default: an installer whose program is missing would start nothing, without a
// word to the user. Returns kExitSuccess, or the exit status of its absence (told). packed is true for
// an archive this run packed, which must be readable.
int CheckProgram(const SfxArgs& args, const ProductValues& values, const std::string& path,
                 bool packed) {
    if (values.Program.empty()) return kExitSuccess;
    bool readable;
    const std::string run = args.Given[kRun] ? args.Values[kRun] : values.Program;
    if (ArchiveHasFile(path, values.Program, &readable)) return kExitSuccess;
    if (!readable && !packed) {
        fprintf(stderr, "qar sfx: warning: %s could not be read to check that it holds the "
                "program %s\n", path.c_str(), run.c_str());
        return kExitSuccess;
    }
    if (args.Given[kRun]) {
        fprintf(stderr, "qar sfx: --run %s: the archive has no file of that name\n", run.c_str());
    } else {
        fprintf(stderr, "qar sfx: the archive holds no %s, the sample product's program "
                "that the installer starts by default: name your product's program "
                "with --run PATH (like --run bin\\product.exe), or give --no-run to "
                "start nothing\n", run.c_str());
    }
    return kExitUsage;
}

// An installer that starts another program than the sample product's is another product's:
// says which of the title and folders it still takes from the sample product. The probe
// folder is left out, as any product may probe for C:\Program Files. Returns whether it
// warned.
bool WarnOfSampleValues(const ProductValues& values, const ProductValues& sample) {
    std::string kept;
    auto note = [&](const char* option, const std::string& value, const std::string& own) {
        if (value != own) return;
        kept += (kept.empty() ? "" : ", ") + std::string(option) + " " + value;
    };
    note("--title", values.Title, sample.Title);
    note("--folder", values.Folder, sample.Folder);
    note("--preferred-folder", values.PreferredFolder, sample.PreferredFolder);
    if (!kept.empty()) {
        fprintf(stderr, "qar sfx: warning: the installer keeps the sample product's values (%s); "
                "give your product's with these options\n", kept.c_str());
    }
    return !kept.empty();
}

}  // namespace

int CmdSfx(int argc, char** argv) {
    SfxArgs args;
    if (auto status = ParseArgs(argc, argv, &args)) return *status;
    std::vector<SourceRoot> roots;
    if (args.Archive.empty()) {
        if (int status = FinishPackSettings("sfx", args.Paths, &args.Pack, &roots)) return status;
        if (roots.empty())
            return UsageError("sfx", "nothing to pack: give files or folders, or --archive FILE");
    }

    std::vector<uint8_t> stub;
    if (int status = LoadStub(args, &stub)) return status;
    ProductValues values, stubValues;
    if (int status = ChooseProductValues(args, stub, &values, &stubValues)) return status;
    if (int status = PutInstallerResources(args.Resources, args.CodePage, values.Title, args.Output,
                                           args.Stub.empty() ? "built-in stub" : args.Stub, &stub))
        return status;
    std::string error;
    if (!PutProductValues(&stub, values, &error) || !PrepareStubImage(&stub, &error)) {
        fprintf(stderr, "qar sfx: %s: %s\n",
                args.Stub.empty() ? "built-in stub" : args.Stub.c_str(), error.c_str());
        return kExitFailure;
    }
    if (int status = CheckOutputPath("sfx", args.Output)) return status;

    // A given archive is checked before anything is written: what it is, that the installer
    // stays within the file positions the extractor reads, and that it holds the program.
    FILE* archive = nullptr;
    uint64_t archiveSize = 0;
    if (!args.Archive.empty()) {
        archive = fopen(args.Archive.c_str(), "rb");
        uint8_t head[kArchiveHeaderSize];
        struct stat info;
        if (archive == nullptr || fstat(fileno(archive), &info) != 0) {
            fprintf(stderr, "qar sfx: cannot read %s: %s\n", args.Archive.c_str(), strerror(errno));
            if (archive) fclose(archive);
            return kExitFailure;
        }
        archiveSize = (uint64_t)info.st_size;
        const size_t got = fread(head, 1, sizeof head, archive);
        if (!CheckArchiveFits(stub.size(), head, got, archiveSize, &error)) {
            fprintf(stderr, "qar sfx: %s: %s\n", args.Archive.c_str(), error.c_str());
            fclose(archive);
            return kExitUsage;
        }
        if (int status = CheckProgram(args, values, args.Archive, false)) {
            fclose(archive);
            return status;
        }
        rewind(archive);
    }

    OutputFile output;
    if (!output.Create(args.Output, &error)) {
        fprintf(stderr, "qar sfx: '%s': %s\n", args.Output.c_str(), error.c_str());
        if (archive) fclose(archive);
        return kExitFailure;
    }
    FILE* out = output.File();
    PackReport packed;
    bool written = fwrite(stub.data(), 1, stub.size(), out) == stub.size();
    if (archive != nullptr) {
        // The archive goes through a buffer of its own size, whatever the archive's.
        std::vector<uint8_t> buffer(kCopyBufferSize);
        uint64_t copied = 0;
        size_t n;
        while (written && (n = fread(buffer.data(), 1, buffer.size(), archive)) > 0) {
            written = fwrite(buffer.data(), 1, n, out) == n;
            copied += n;
        }
        const bool readOk = !ferror(archive) && copied == archiveSize;
        fclose(archive);
        if (!readOk) {
            fprintf(stderr, "qar sfx: cannot read %s: %s\n", args.Archive.c_str(),
                    copied != archiveSize ? "it changed while it was read" : strerror(errno));
            return kExitFailure;
        }
    } else if (written) {
        // The archive is packed straight behind the stub: its positions count from its own
        // start, wherever that lies in the file.
        if (int status = PackInto("sfx", args.Pack, roots, args.Output, &output, &packed))
            return status;
        written = fflush(out) == 0;
        if (written && stub.size() + packed.ArchiveSize > 0x7FFFFFFFu) {
            fprintf(stderr, "qar sfx: the archive is too large for an installer (2 GiB at most)\n");
            return kExitUsage;
        }
        if (written) {
            if (int status = CheckProgram(args, values, output.TemporaryPath(), true)) return status;
        }
    }
    if (!written) {
        fprintf(stderr, "qar sfx: cannot write %s: %s\n", args.Output.c_str(), strerror(errno));
        return kExitFailure;
    }
    if (values.Program != kDefaultProgramToRun && WarnOfSampleValues(values, stubValues))
        ++packed.Warnings;
    if (!output.Commit(kProgramFileMode, &error)) {
        fprintf(stderr, "qar sfx: '%s': %s\n", args.Output.c_str(), error.c_str());
        return kExitFailure;
    }
    // What was packed, with this command's warnings counted too; nothing when an archive
    // was given.
    if (args.Archive.empty() && !args.Pack.Quiet) PrintPackSummary("sfx", packed);
    return kExitSuccess;
}
