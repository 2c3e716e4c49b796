#include "pack/source_tree.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <map>

#include "text/code_pages.h"
#include "pack/dos_time.h"
#include "pack/windows_names.h"

namespace {

const size_t kMaxNameLength = 259;

std::string Quote(const std::string& s) { return "'" + s + "'"; }

[[noreturn]] void Refuse(const std::string& path, const std::string& reason) {
    throw PackError(Quote(path) + ": " + reason);
}

std::string JoinPath(const std::string& folder, const std::string& name) {
    if (!folder.empty() && folder.back() == '/') return folder + name;
    return folder + "/" + name;
}

// Letter case folded as Windows folds it, so that a pattern matches the names the archive
// would call the same; bytes that are not UTF-8 stand for themselves.
std::vector<uint32_t> Folded(const std::string& text) {
    std::vector<uint32_t> points;
    if (!DecodeUtf8(text, &points)) points.assign(text.begin(), text.end());
    for (uint32_t& u : points) u = FoldCase(u);
    return points;
}

typedef std::vector<uint32_t> Word;

std::vector<Word> SplitNames(const Word& path) {
    std::vector<Word> parts(1);
    for (uint32_t u : path) {
        if (u == '/') parts.emplace_back();
        else parts.back().push_back(u);
    }
    return parts;
}

// One name against one pattern name, `*` any run of characters and `?` one. On a mismatch
// only the latest `*` takes one character more: an earlier `*` taking more could only
// leave the later one less to do, so the time stays within pattern length x name length.
bool NameMatches(const Word& p, const Word& s) {
    size_t pi = 0, si = 0, star = SIZE_MAX, resume = 0;
    while (si < s.size()) {
        if (pi < p.size() && p[pi] == '*') {
            star = ++pi;
            resume = si;
        } else if (pi < p.size() && (p[pi] == '?' || p[pi] == s[si])) {
            ++pi;
            ++si;
        } else if (star != SIZE_MAX) {
            pi = star;
            si = ++resume;
        } else {
            return false;
        }
    }
    while (pi < p.size() && p[pi] == '*') ++pi;
    return pi == p.size();
}

// The same walk one level up: folder names are the characters, a `**` name is the star,
// any other pattern name matches exactly one name.
bool PathMatches(const std::vector<Word>& p, const std::vector<Word>& s) {
    static const Word kAny = {'*', '*'};
    size_t pi = 0, si = 0, star = SIZE_MAX, resume = 0;
    while (si < s.size()) {
        if (pi < p.size() && p[pi] == kAny) {
            star = ++pi;
            resume = si;
        } else if (pi < p.size() && NameMatches(p[pi], s[si])) {
            ++pi;
            ++si;
        } else if (star != SIZE_MAX) {
            pi = star;
            si = ++resume;
        } else {
            return false;
        }
    }
    while (pi < p.size() && p[pi] == kAny) ++pi;
    return pi == p.size();
}

struct FileInfo {
    bool IsFolder = false;
    uint64_t Size = 0;
    bool Writable = true;
    int64_t WriteTime = 0;
    int64_t CreateTime = 0;
    uint64_t Device = 0, Inode = 0;
    bool Link = false;       // reached through a symbolic link
    bool LeadsOut = false;   // and that link leads out of the packed tree
};

// The walk collects every problem of the tree instead of stopping at the first, so that one
// run lists all there is to fix; nothing is packed while there is any.
class Walker {
public:
    explicit Walker(const WalkOptions& options) : options_(options) {
        for (std::string pattern : options.Excludes) {
            // Names start at the top anyway: a leading '/' or "./" changes nothing.
            while (pattern.compare(0, 1, "/") == 0 || pattern.compare(0, 2, "./") == 0)
                pattern.erase(0, pattern[0] == '/' ? 1 : 2);
            const bool folders = !pattern.empty() && pattern.back() == '/';
            while (!pattern.empty() && pattern.back() == '/') pattern.pop_back();
            (folders ? folderPatterns_ : patterns_).push_back(SplitNames(Folded(pattern)));
        }
    }

    // Takes the given files and folders as the packed tree, which links are told to leave.
    // A given path that cannot be resolved is left to AddRoot to report.
    void SetTree(const std::vector<SourceRoot>& roots) {
        for (const SourceRoot& root : roots) {
            char* resolved = realpath(root.Path.c_str(), nullptr);
            if (!resolved) continue;
            struct stat st;
            tree_.push_back(TreeRoot{resolved, stat(resolved, &st) == 0 && S_ISDIR(st.st_mode)});
            free(resolved);
        }
    }

    void AddRoot(const SourceRoot& root) {
        const std::string& path = root.Path;
        if (!root.Grafted) {
            std::string base = path;
            const size_t slash = base.find_last_of('/');
            if (slash != std::string::npos) base = base.substr(slash + 1);
            FileInfo info;
            if (!Inspect(path, &info)) return;
            if (info.IsFolder) {
                const size_t before = entries_.size() + problems_.size();
                excluded_ = false;
                WalkFolder(path, "", "", info, false);
                if (entries_.size() + problems_.size() == before)
                    Warn(WalkWarning::LeftOut,
                         Quote(path) + (excluded_ ? ": nothing packed from it, all it holds is excluded"
                                                  : ": empty folder, nothing packed from it"));
                return;
            }
            if (Excluded(base, false)) return;
            AddEntry(path, base, "", info);
            return;
        }
        // NAME=SOURCE: the name is checked whole before anything is read, so that a name
        // leaving the archive's top is refused even where the source is missing.
        std::vector<std::string> parts;
        std::string part;
        for (size_t i = 0; i <= root.Name.size(); ++i) {
            if (i == root.Name.size() || root.Name[i] == '/') {
                if (part != ".") parts.push_back(part);
                part.clear();
            } else {
                part += root.Name[i];
            }
        }
        const bool keepOwnName = parts.size() > 1 && parts.back().empty();
        if (keepOwnName) parts.pop_back();
        for (const std::string& p : parts) {
            std::string why = p == ".." ? "archive name leaves the top of the archive"
                                        : CheckComponent(p, options_.CodePage);
            if (p.empty()) why = root.Name.empty() ? "archive name is empty"
                                                   : "archive name starts with '/' or holds an empty folder name";
            if (!why.empty()) return Problem(root.Name + "=" + path, why);
        }
        // A pattern naming the graft or a folder above it leaves it out unread.
        std::string relative;
        for (size_t i = 0; i < parts.size(); ++i) {
            relative += (i ? "/" : "") + parts[i];
            if (Excluded(relative, i + 1 < parts.size())) return;
        }
        FileInfo info;
        if (!Inspect(path, &info)) return;
        if (keepOwnName && !info.IsFolder) {
            const size_t slash = path.find_last_of('/');
            parts.push_back(slash == std::string::npos ? path : path.substr(slash + 1));
        }
        // The folders above it, with the source's times, merged with any of the same name.
        std::string prefix;
        relative.clear();
        for (size_t i = 0; i < parts.size(); ++i) {
            relative += (i ? "/" : "") + parts[i];
            const bool last = i + 1 == parts.size();
            FileInfo folder = info;
            folder.IsFolder = true;
            folder.Size = 0;
            if (Excluded(relative, last ? info.IsFolder : true)) return;
            const std::string name = AddEntry(path, parts[i], prefix, last ? info : folder);
            if (name.empty()) return;
            if (!last) prefix = name + "\\";
            else if (info.IsFolder) WalkFolder(path, name + "\\", relative + "/", info, false);
        }
    }

    std::vector<SourceEntry> Take() {
        if (!problems_.empty()) {
            InputProblems error(problems_);
            throw error;
        }
        return std::move(entries_);
    }

private:
    // Whether an archive name ('/'-separated UTF-8) is left out. Patterns for folders only
    // apply when isFolder; foldersOnly asks those alone. The walk asks before an item is
    // read, so that an excluded item's problems are not reported, and once more for the
    // folder patterns when it turns out to be a folder.
    bool Excluded(const std::string& relative, bool isFolder, bool foldersOnly = false) {
        if (patterns_.empty() && folderPatterns_.empty()) return false;
        const std::vector<Word> names = SplitNames(Folded(relative));
        if (!foldersOnly) {
            for (const std::vector<Word>& p : patterns_)
                if (PathMatches(p, names)) return excluded_ = true;
        }
        if (isFolder) {
            for (const std::vector<Word>& p : folderPatterns_)
                if (PathMatches(p, names)) return excluded_ = true;
        }
        return false;
    }

    void Problem(const std::string& path, const std::string& reason) {
        problems_.push_back(Quote(path) + ": " + reason);
    }

    void Warn(WalkWarning kind, const std::string& line) {
        if (options_.Warn) options_.Warn(kind, line);
    }

    void Skip(WalkWarning kind, const std::string& path, const std::string& reason) {
        Warn(kind, Quote(path) + ": skipped, " + reason);
    }

    // Whether a resolved path lies outside every given file and given folder.
    bool OutsideTree(const std::string& resolved) const {
        for (const TreeRoot& root : tree_) {
            if (resolved == root.Path) return false;
            if (root.IsFolder && resolved.size() > root.Path.size() &&
                resolved.compare(0, root.Path.size(), root.Path) == 0 &&
                (root.Path == "/" || resolved[root.Path.size()] == '/'))
                return false;
        }
        return true;
    }

    // statx with the birth time where the file system records one. A symbolic link is
    // followed or skipped as the options say; a link to nothing, or to a folder that holds
    // it, is skipped with a warning. Returns false when the item is not packed (skipped, or
    // its problem recorded).
    bool Inspect(const std::string& path, FileInfo* info) {
        const unsigned mask = STATX_TYPE | STATX_MODE | STATX_SIZE | STATX_MTIME | STATX_BTIME | STATX_INO;
        struct statx sx;
        if (statx(AT_FDCWD, path.c_str(), AT_SYMLINK_NOFOLLOW, mask, &sx) != 0) {
            Problem(path, std::string("cannot read: ") + strerror(errno));
            return false;
        }
        bool link = false;
        if (S_ISLNK(sx.stx_mode)) {
            if (options_.Links == LinkChoice::Skip) {
                Skip(WalkWarning::LinkSkipped, path, "a symbolic link");
                return false;
            }
            link = true;
            if (statx(AT_FDCWD, path.c_str(), 0, mask, &sx) != 0) {
                Skip(WalkWarning::LinkSkipped, path,
                     errno == ELOOP ? "a symbolic link that leads back to itself"
                                    : std::string("a symbolic link to nothing: ") + strerror(errno));
                return false;
            }
        }
        const mode_t mode = sx.stx_mode;
        if (!S_ISREG(mode) && !S_ISDIR(mode)) {
            Problem(path, "is neither a regular file nor a folder");
            return false;
        }
        info->IsFolder = S_ISDIR(mode);
        info->Size = sx.stx_size;
        info->Writable = (mode & S_IWUSR) != 0;
        info->WriteTime = sx.stx_mtime.tv_sec;
        info->CreateTime = (sx.stx_mask & STATX_BTIME) ? (int64_t)sx.stx_btime.tv_sec : info->WriteTime;
        info->Device = ((uint64_t)sx.stx_dev_major << 32) | sx.stx_dev_minor;
        info->Inode = sx.stx_ino;
        info->Link = link;
        if (info->IsFolder) {
            for (const FileInfo& open : openFolders_) {
                if (open.Device == info->Device && open.Inode == info->Inode) {
                    if (link) Skip(WalkWarning::LinkSkipped, path, "a symbolic link to a folder that holds it");
                    else Skip(WalkWarning::LeftOut, path, "a folder that holds itself");
                    return false;
                }
            }
            return true;
        }
        const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | (link ? 0 : O_NOFOLLOW));
        if (fd < 0) {
            Problem(path, std::string("cannot read: ") + strerror(errno));
            return false;
        }
        close(fd);
        if (info->Size > kMaxMemberSize) {
            Problem(path, "larger than " + std::to_string(kMaxMemberSize) +
                              " bytes, the most an archive member can hold");
            return false;
        }
        return true;
    }

    // Tells a followed link whose target lies outside the packed tree, with where it leads;
    // it is still packed as what it leads to. Asked only once the link is known to be
    // packed, so that a link left out gets its own line or none.
    void LeadsOut(const std::string& path, FileInfo* info) {
        char* resolved = realpath(path.c_str(), nullptr);
        if (!resolved) return;   // gone since statx: reading it will tell
        const std::string target = resolved;
        free(resolved);
        if (!OutsideTree(target)) return;
        info->LeadsOut = true;
        Warn(WalkWarning::LinkLeadsOut, Quote(path) + ": a symbolic link that leads out of the packed tree, to " +
                                            Quote(target) + "; packed as what it leads to");
    }

    // namePrefix: the archive name of the folder with a trailing backslash, or empty at the
    // top of a given folder; relativePrefix: the same in UTF-8 with '/', for the patterns.
    // outside: the folder was reached through a link that leads out of the tree, whose line
    // covers the links within it.
    void WalkFolder(const std::string& path, const std::string& namePrefix,
                    const std::string& relativePrefix, const FileInfo& folder, bool outside) {
        DIR* dir = opendir(path.c_str());
        if (!dir) return Problem(path, std::string("cannot read folder: ") + strerror(errno));
        std::vector<std::string> names;
        errno = 0;
        while (struct dirent* d = readdir(dir)) {
            if (!strcmp(d->d_name, ".") || !strcmp(d->d_name, "..")) continue;
            names.push_back(d->d_name);
        }
        const int error = errno;
        closedir(dir);
        if (error) return Problem(path, std::string("cannot read folder: ") + strerror(error));
        std::sort(names.begin(), names.end());
        openFolders_.push_back(folder);
        for (const std::string& name : names) {
            const std::string child = JoinPath(path, name);
            const std::string relative = relativePrefix + name;
            FileInfo info;
            if (Excluded(relative, false) || !Inspect(child, &info)) continue;
            if (info.IsFolder && Excluded(relative, true, true)) continue;
            if (info.Link && !outside) LeadsOut(child, &info);
            std::string archiveName = AddEntry(child, name, namePrefix, info);
            // Below a refused folder, names are still checked, so that one run finds all.
            if (archiveName.empty()) archiveName = namePrefix + name;
            if (info.IsFolder)
                WalkFolder(child, archiveName + "\\", relative + "/", info, outside || info.LeadsOut);
        }
        openFolders_.pop_back();
    }

    // Validates and converts one entry; returns its archive name, or an empty string when
    // it is refused.
    std::string AddEntry(const std::string& path, const std::string& component,
                         const std::string& namePrefix, const FileInfo& info) {
        const std::string why = CheckComponent(component, options_.CodePage);
        if (!why.empty()) {
            Problem(path, why);
            return "";
        }
        std::string name;
        try {
            name = namePrefix + ConvertName(component, options_.CodePage, path);
        } catch (const PackError& e) {
            problems_.push_back(e.what());
            return "";
        }
        if (name.size() > kMaxNameLength) {
            Problem(path, "archive name of " + std::to_string(name.size()) +
                              " characters, longer than the 259 a Windows path can hold");
            return "";
        }

        // Windows compares names without regard to letter case: fold the converted name
        // back through the code page.
        std::string key;
        std::vector<uint32_t> codePoints;
        DecodeUtf8(FromCodePage(name, options_.CodePage), &codePoints);
        for (uint32_t u : codePoints) {
            key += std::to_string(FoldCase(u));
            key += ',';
        }
        auto seen = names_.find(key);
        if (seen != names_.end()) {
            const Seen& first = seen->second;
            // The same folder under two given folders: one entry, contents merged.
            if (info.IsFolder && first.IsFolder && first.Name == name) return name;
            if (first.Name == name) {
                Problem(path, "same archive name as " + Quote(first.Path));
            } else {
                Problem(path, "archive name differs only in letter case from that of " +
                                  Quote(first.Path) + ", and Windows does not tell them apart");
            }
            return "";
        }
        names_[key] = Seen{name, path, info.IsFolder};

        SourceEntry e;
        e.Name = name;
        e.Path = path;
        e.IsFolder = info.IsFolder;
        e.Size = info.IsFolder ? 0 : info.Size;
        e.Attributes = info.IsFolder ? 0x10 : (uint16_t)(0x20 | (info.Writable ? 0 : 0x01));
        int64_t written = info.WriteTime, created = info.CreateTime;
        if (options_.SourceDateEpoch >= 0) {
            written = std::min(written, options_.SourceDateEpoch);
            created = std::min(created, options_.SourceDateEpoch);
        }
        // A reproducible archive may not depend on the packer's time zone either.
        const bool utc = options_.SourceDateEpoch >= 0;
        UnixTimeToDos(written, utc, &e.WriteDate, &e.WriteTime);
        UnixTimeToDos(created, utc, &e.CreateDate, &e.CreateTime);
        if (entries_.size() >= 0xFFFFFFFFu) {
            Problem(path, "too many entries for one archive");
            return "";
        }
        entries_.push_back(std::move(e));
        return name;
    }

    struct Seen {
        std::string Name, Path;
        bool IsFolder;
    };

    const WalkOptions& options_;
    std::vector<SourceEntry> entries_;
    std::vector<std::string> problems_;
    std::vector<FileInfo> openFolders_;   // the folders being walked, outermost first
    std::map<std::string, Seen> names_;
    std::vector<std::vector<Word>> patterns_, folderPatterns_;
    bool excluded_ = false;   // whether anything was left out since AddRoot began a folder
    struct TreeRoot {
        std::string Path;   // resolved
        bool IsFolder;
    };
    std::vector<TreeRoot> tree_;   // the given files and folders, for links leading out
};

}  // namespace

std::string CheckComponent(const std::string& component, int codePage) {
    // Checked as the archive will hold it, in its code page, where the installer checks it.
    std::string converted, why;
    if (!ToCodePage(component, codePage, &converted, &why)) return "name " + why;
    why = WindowsNameProblem(converted);
    return why.empty() ? why : "name " + why;
}

std::string ConvertName(const std::string& utf8, int codePage, const std::string& path) {
    std::string out, why;
    if (!ToCodePage(utf8, codePage, &out, &why)) Refuse(path, "name " + why);
    return out;
}

namespace {

std::string JoinLines(const std::vector<std::string>& lines) {
    std::string joined;
    for (const std::string& line : lines) joined += (joined.empty() ? "" : "\n") + line;
    return joined;
}

}  // namespace

InputProblems::InputProblems(const std::vector<std::string>& lines)
    : PackError(JoinLines(lines)), Lines(lines) {}

SourceRoot ParseSourceLine(const std::string& line) {
    SourceRoot root;
    std::string text;
    for (size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (c == '\\' && i + 1 < line.size() && (line[i + 1] == '=' || line[i + 1] == '\\')) {
            text += line[++i];
        } else if (c == '=' && !root.Grafted) {
            root.Grafted = true;
            root.Name = text;
            text.clear();
        } else {
            text += c;
        }
    }
    root.Path = text;
    return root;
}

bool GlobMatches(const std::string& pattern, const std::string& name) {
    return PathMatches(SplitNames(Folded(pattern)), SplitNames(Folded(name)));
}

std::vector<SourceEntry> WalkSources(const std::vector<std::string>& paths,
                                     const WalkOptions& options) {
    std::vector<SourceRoot> roots;
    for (const std::string& p : paths) roots.push_back(SourceRoot{p, "", false});
    return WalkSources(roots, options);
}

std::vector<SourceEntry> WalkSources(const std::vector<SourceRoot>& roots,
                                     const WalkOptions& options) {
    if (!IsSupportedCodePage(options.CodePage))
        throw PackError("code page " + std::to_string(options.CodePage) +
                        " is not supported (supported: " + SupportedCodePages() + ")");
    Walker walker(options);
    walker.SetTree(roots);
    for (const SourceRoot& r : roots) walker.AddRoot(r);
    return walker.Take();
}
