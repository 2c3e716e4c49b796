// The end-to-end test driver: starts an installer, then carries out the commands given on
// its command line one after another, reporting what it sees on standard output, one fact
// per line, for tests/e2e/run to check. A command that cannot be carried out (a window
// that never appears, a control that is missing) prints "error: ..." and ends the driver
// with status 1; the installer is then killed.
//
//   driver INSTALLER.exe COMMAND...
//
//   wait-main | wait-prompt | wait-message   wait for that kind of window of the installer
//                                            (up to 20 s) and make it the current window
//   wait-title TEXT                          the same for the installer's window whose
//                                            caption is exactly TEXT (prints "titled TEXT")
//   dump                                     print the current window: caption, style and
//                                            every control (id, class, style, position in
//                                            dialog units, text, check state, focus)
//   set ID TEXT | check ID 0|1               change a control of the current window
//   click ID                                 press a button (posted, so a long Extract
//                                            does not block the driver)
//   key VK                                   a key press to the current window's focus
//   close                                    the close box (WM_SYSCOMMAND SC_CLOSE)
//   shot FILE.bmp                            the current window's screen area as a bitmap
//   sleep MS                                 wait
//   clock                                    print the milliseconds since the previous
//                                            clock (or the driver's start): "clock MS"
//   watch-file PATH                          wait (up to 20 s) until PATH exists
//   no-window MS                             check that no window of the installer shows up
//                                            within MS milliseconds (prints "no-window")
//   wait-exit                                wait for the installer to end; prints its code
//   windows                                  how many windows of each kind are open
//   click-main ID                            press a button of the main dialog, whichever
//                                            window is current
//   template ID...                           dump dialog resources of the installer file
//   files PATH...                            attributes and time stamps of files (with "-"
//                                            in place of the installer: nothing is started)
//   window-icons                             the current window's small and big icons
//                                            (WM_GETICON, asked inside the installer by
//                                            icon_probe.dll): "window-icons small=S big=B",
//                                            each "none" or its size in pixels, WxH
//   version                                  the installer file's version information, read
//                                            as Explorer reads it: "fixed file=A.B.C.D
//                                            product=A.B.C.D ...", "translation LLLLCCCC",
//                                            and string NAME="VALUE" (in UTF-8) for each
//                                            string of the first translation's table
//   icons                                    the installer file's icons: ExtractIconExW's
//                                            count and the sizes of icon 0, then icon group
//                                            1 image by image, each loaded at its own size
//                                            (version and icons, like template and files,
//                                            start nothing)
//   tamper PATH OTHER                        try to change file PATH as another program
//                                            could: write into it, delete it, rename it,
//                                            copy file OTHER over it, move a copy of OTHER
//                                            over it; one line each: "tamper WHAT=done"
//                                            or "tamper WHAT=refused"
#include <windows.h>

#include <shellapi.h>
#include <wchar.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "icon_size.h"

namespace {

PROCESS_INFORMATION Installer;
HWND Current;
const DWORD kWaitMs = 20000;

[[noreturn]] void Fail(const char* what, const char* detail = "") {
    printf("error: %s %s\n", what, detail);
    fflush(stdout);
    if (Installer.hProcess) TerminateProcess(Installer.hProcess, 99);
    exit(1);
}

// Prints a text in double quotes, line breaks as \n, quotes as \" and other unprintable
// bytes as \xNN (backslashes stay as they are, so that paths read as on Windows).
void PrintQuoted(const char* text) {
    putchar('"');
    for (const char* p = text; *p; ++p) {
        if (*p == '\n') fputs("\\n", stdout);
        else if (*p == '\r') fputs("\\r", stdout);
        else if (*p == '"') fputs("\\\"", stdout);
        else if ((unsigned char)*p < 0x20 || (unsigned char)*p >= 0x7F) printf("\\x%02X", (unsigned char)*p);
        else putchar(*p);
    }
    putchar('"');
}

// WM_GETTEXT rather than GetWindowTextA, which does not ask controls of another process.
std::string WindowText(HWND window) {
    char text[1024] = "";
    DWORD_PTR result = 0;
    SendMessageTimeoutA(window, WM_GETTEXT, sizeof text, (LPARAM)text, SMTO_ABORTIFHUNG, 5000, &result);
    return text;
}

std::string ClassOf(HWND window) {
    char name[64] = "";
    GetClassNameA(window, name, sizeof name);
    return name;
}

// The kinds of top-level window the installer shows, told apart by their controls.
enum Kind { kNone, kMain, kPrompt, kMessage };

Kind KindOf(HWND window) {
    if (ClassOf(window) != "#32770" || !IsWindowVisible(window)) return kNone;
    if (GetDlgItem(window, 101) && GetDlgItem(window, 108)) return kMain;
    if (GetDlgItem(window, 109) && GetDlgItem(window, 110)) return kPrompt;
    return kMessage;
}

struct Search {
    Kind Wanted;
    HWND Found;
    const char* Title;   // when set, only a window with exactly this caption
};

BOOL CALLBACK FindWindowOfKind(HWND window, LPARAM data) {
    Search* search = (Search*)data;
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process != Installer.dwProcessId) return TRUE;
    Kind kind = KindOf(window);
    if (kind == kNone || (search->Wanted != kNone && kind != search->Wanted)) return TRUE;
    if (search->Title && WindowText(window) != search->Title) return TRUE;
    search->Found = window;
    return FALSE;
}

struct Census {
    int Count[4];
};

BOOL CALLBACK CountWindow(HWND window, LPARAM data) {
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process == Installer.dwProcessId) ((Census*)data)->Count[KindOf(window)]++;
    return TRUE;
}

HWND FindInstallerWindow(Kind kind, const char* title = nullptr) {
    Search search = {kind, 0, title};
    EnumWindows(FindWindowOfKind, (LPARAM)&search);
    return search.Found;
}

void WaitFor(Kind kind, const char* name, const char* title = nullptr) {
    for (DWORD waited = 0; waited < kWaitMs; waited += 50) {
        HWND window = FindInstallerWindow(kind, title);
        if (window) {
            Current = window;
            Sleep(150);   // let the dialog finish painting and setting its focus
            printf("%s ", name);
            PrintQuoted(WindowText(window).c_str());
            putchar('\n');
            return;
        }
        if (WaitForSingleObject(Installer.hProcess, 50) == WAIT_OBJECT_0) {
            DWORD code = 0;
            GetExitCodeProcess(Installer.hProcess, &code);
            printf("error: installer ended (exit %lu) while waiting for %s\n", code, name);
            exit(1);
        }
    }
    Fail("timeout waiting for", name);
}

// Pixel rectangle of a child, relative to its dialog's client area, in dialog units.
void PrintDialogUnits(HWND dialog, HWND control) {
    RECT r;
    GetWindowRect(control, &r);
    MapWindowPoints(0, dialog, (POINT*)&r, 2);
    LONG units = GetDialogBaseUnits();
    int bx = LOWORD(units), by = HIWORD(units);
    printf(" at=%ld,%ld,%ld,%ld", (r.left * 4 + bx / 2) / bx, (r.top * 8 + by / 2) / by,
           ((r.right - r.left) * 4 + bx / 2) / bx, ((r.bottom - r.top) * 8 + by / 2) / by);
}

BOOL CALLBACK DumpControl(HWND control, LPARAM) {
    HWND dialog = GetParent(control);
    int id = (short)GetDlgCtrlID(control);
    std::string cls = ClassOf(control);
    LONG style = GetWindowLongA(control, GWL_STYLE);
    printf("control %d class=%s style=%08lX", id, cls.c_str(), (unsigned long)style);
    PrintDialogUnits(dialog, control);
    printf(" text=");
    PrintQuoted(WindowText(control).c_str());
    if (!_stricmp(cls.c_str(), "Button") && (style & 0x0F) == BS_AUTOCHECKBOX)
        printf(" checked=%ld", (long)SendMessageA(control, BM_GETCHECK, 0, 0));
    if (!_stricmp(cls.c_str(), "Edit")) {
        DWORD start = 0, end = 0;
        SendMessageA(control, EM_GETSEL, (WPARAM)&start, (LPARAM)&end);
        printf(" selection=%lu-%lu", start, end);
    }
    if (!_stricmp(cls.c_str(), "Static") && (style & 0x1F) == SS_ICON)
        printf(" icon=%d", SendMessageA(control, STM_GETICON, 0, 0) ? 1 : 0);
    putchar('\n');
    return TRUE;
}

// The focus of another process's window: attach to its input state to ask.
HWND FocusOf(HWND window) {
    DWORD thread = GetWindowThreadProcessId(window, 0);
    AttachThreadInput(GetCurrentThreadId(), thread, TRUE);
    HWND focus = GetFocus();
    AttachThreadInput(GetCurrentThreadId(), thread, FALSE);
    return focus;
}

void Dump() {
    printf("window style=%08lX", (unsigned long)GetWindowLongA(Current, GWL_STYLE));
    printf(" caption=");
    PrintQuoted(WindowText(Current).c_str());
    putchar('\n');
    EnumChildWindows(Current, DumpControl, 0);
    HWND focus = FocusOf(Current);
    if (focus) printf("focus %d\n", (short)GetDlgCtrlID(focus));
}

HWND Control(const char* id) {
    HWND control = GetDlgItem(Current, atoi(id));
    if (!control) Fail("no control", id);
    return control;
}

// Saves the screen area of the current window as a 24-bit bitmap file.
void Shot(const char* path) {
    RECT r;
    GetWindowRect(Current, &r);
    int w = r.right - r.left, h = r.bottom - r.top;
    HDC screen = GetDC(0);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, w, h);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, w, h, screen, r.left, r.top, SRCCOPY);
    SelectObject(memory, old);
    BITMAPINFOHEADER info = {};
    info.biSize = sizeof info;
    info.biWidth = w;
    info.biHeight = h;
    info.biPlanes = 1;
    info.biBitCount = 24;
    int stride = (w * 3 + 3) & ~3;
    std::vector<char> pixels(stride * h);
    GetDIBits(memory, bitmap, 0, h, pixels.data(), (BITMAPINFO*)&info, DIB_RGB_COLORS);
    BITMAPFILEHEADER file = {};
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof file + sizeof info;
    file.bfSize = file.bfOffBits + (DWORD)pixels.size();
    FILE* out = fopen(path, "wb");
    if (!out) Fail("cannot write", path);
    fwrite(&file, sizeof file, 1, out);
    fwrite(&info, sizeof info, 1, out);
    fwrite(pixels.data(), 1, pixels.size(), out);
    fclose(out);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(0, screen);
    printf("shot %s %dx%d\n", path, w, h);
}

// Reads a resource string or ordinal of a dialog template; returns the position behind it.
const WORD* TemplateName(const WORD* p, std::string* text) {
    if (*p == 0xFFFF) {
        *text = "#" + std::to_string(p[1]);
        return p + 2;
    }
    text->clear();
    while (*p) text->push_back((char)*p++);
    return p + 1;
}

// Dumps a plain DLGTEMPLATE (no DIALOGEX) from the installer file's resources.
void DumpTemplate(const char* installer, const char* id) {
    HMODULE module = LoadLibraryExA(installer, 0, LOAD_LIBRARY_AS_DATAFILE);
    if (!module) Fail("cannot load resources of", installer);
    HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(atoi(id)), (LPCSTR)RT_DIALOG);
    if (!found) Fail("no dialog resource", id);
    const DLGTEMPLATE* t = (const DLGTEMPLATE*)LockResource(LoadResource(module, found));
    printf("template %s style=%08lX at=%d,%d,%d,%d items=%d", id, (unsigned long)t->style, t->x,
           t->y, t->cx, t->cy, t->cdit);
    const WORD* p = (const WORD*)(t + 1);
    std::string menu, cls, caption;
    p = TemplateName(p, &menu);
    p = TemplateName(p, &cls);
    p = TemplateName(p, &caption);
    printf(" menu=\"%s\" class=\"%s\" caption=\"%s\" font=%d\n", menu.c_str(), cls.c_str(),
           caption.c_str(), (t->style & DS_SETFONT) ? 1 : 0);
    for (int i = 0; i < t->cdit; ++i) {
        p = (const WORD*)(((ULONG_PTR)p + 3) & ~(ULONG_PTR)3);   // items are DWORD-aligned
        const DLGITEMTEMPLATE* item = (const DLGITEMTEMPLATE*)p;
        p = (const WORD*)(item + 1);
        std::string itemClass, text;
        if (*p == 0xFFFF) {
            static const char* kClasses[] = {"button", "edit", "static", "listbox", "scrollbar", "combobox"};
            int atom = p[1] - 0x80;
            itemClass = atom >= 0 && atom < 6 ? kClasses[atom] : "#" + std::to_string(p[1]);
            p += 2;
        } else {
            p = TemplateName(p, &itemClass);
        }
        p = TemplateName(p, &text);
        WORD extra = *p++;
        p = (const WORD*)((const BYTE*)p + extra);
        printf("item %d id=%d class=%s style=%08lX at=%d,%d,%d,%d text=\"%s\"\n", i + 1,
               (short)item->id, itemClass.c_str(), (unsigned long)item->style, item->x, item->y,
               item->cx, item->cy, text.c_str());
    }
    FreeLibrary(module);
}

// One line per path: its attributes and its creation and last-write times in local time.
void DescribeFile(const char* path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path, GetFileExInfoStandard, &data)) {
        printf("file %s missing\n", path);
        return;
    }
    char created[32], written[32];
    const FILETIME* times[2] = {&data.ftCreationTime, &data.ftLastWriteTime};
    char* texts[2] = {created, written};
    for (int i = 0; i < 2; ++i) {
        FILETIME local;
        SYSTEMTIME t;
        FileTimeToLocalFileTime(times[i], &local);
        FileTimeToSystemTime(&local, &t);
        snprintf(texts[i], 32, "%04d-%02d-%02d %02d:%02d:%02d", t.wYear, t.wMonth, t.wDay, t.wHour,
                 t.wMinute, t.wSecond);
    }
    printf("file %s attributes=%02lX created=%s written=%s\n", path,
           (unsigned long)(data.dwFileAttributes & 0xFF), created, written);
}

std::wstring Widen(const char* text) {
    std::wstring wide(strlen(text) + 1, L'\0');
    int length = MultiByteToWideChar(CP_ACP, 0, text, -1, &wide[0], (int)wide.size());
    wide.resize(length > 0 ? length - 1 : 0);
    return wide;
}

// "none" or WIDTHxHEIGHT, from IconPixels.
std::string SizeText(DWORD size) {
    if (!size) return "none";
    return std::to_string(LOWORD(size)) + "x" + std::to_string(HIWORD(size));
}

std::string IconSize(HICON icon) { return SizeText(IconPixels(icon)); }

// Asks through icon_probe.dll (beside the driver), hooked onto the installer's thread, since
// Wine does not carry WM_GETICON across processes.
void WindowIcons() {
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(0, path, MAX_PATH);
    while (length && path[length - 1] != '\\') --length;
    lstrcpynA(path + length, "icon_probe.dll", MAX_PATH - length);
    HMODULE probe = LoadLibraryA(path);
    HOOKPROC procedure = probe ? (HOOKPROC)(void*)GetProcAddress(probe, "ProbeIcons") : nullptr;
    if (!procedure) Fail("cannot load", path);
    HHOOK hook = SetWindowsHookExA(WH_GETMESSAGE, procedure, probe,
                                   GetWindowThreadProcessId(Current, 0));
    if (!hook) Fail("cannot hook the installer's thread");
    const UINT question = RegisterWindowMessageA("qar e2e icon probe");
    MSG answer;
    PeekMessageA(&answer, 0, 0, 0, PM_NOREMOVE);   // the queue that the answer comes to
    PostMessageA(Current, question, GetCurrentThreadId(), 0);
    bool answered = false;
    for (DWORD waited = 0; waited < 5000 && !answered; waited += 20) {
        answered = PeekMessageA(&answer, (HWND)-1, question, question, PM_REMOVE);
        if (!answered) Sleep(20);
    }
    UnhookWindowsHookEx(hook);
    if (!answered) Fail("no answer from the icon probe");
    printf("window-icons small=%s big=%s\n", SizeText((DWORD)answer.wParam).c_str(),
           SizeText((DWORD)answer.lParam).c_str());
}

void DumpVersion(const char* installer) {
    std::wstring path = Widen(installer);
    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
    if (!size) {
        printf("version none\n");
        return;
    }
    std::vector<char> data(size);
    if (!GetFileVersionInfoW(path.c_str(), 0, size, data.data())) Fail("cannot read version of", installer);
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    if (!VerQueryValueW(data.data(), L"\\", (void**)&fixed, &length) || length < sizeof *fixed ||
        fixed->dwSignature != VS_FFI_SIGNATURE)
        Fail("no fixed version information in", installer);
    printf("fixed file=%u.%u.%u.%u product=%u.%u.%u.%u flags=%lX os=%lX type=%lX\n",
           HIWORD(fixed->dwFileVersionMS), LOWORD(fixed->dwFileVersionMS),
           HIWORD(fixed->dwFileVersionLS), LOWORD(fixed->dwFileVersionLS),
           HIWORD(fixed->dwProductVersionMS), LOWORD(fixed->dwProductVersionMS),
           HIWORD(fixed->dwProductVersionLS), LOWORD(fixed->dwProductVersionLS),
           (unsigned long)(fixed->dwFileFlags & fixed->dwFileFlagsMask),
           (unsigned long)fixed->dwFileOS, (unsigned long)fixed->dwFileType);
    WORD* translations = nullptr;
    if (!VerQueryValueW(data.data(), L"\\VarFileInfo\\Translation", (void**)&translations, &length) ||
        length < 4)
        Fail("no translation in", installer);
    for (UINT i = 0; i + 4 <= length; i += 4)
        printf("translation %04X%04X\n", translations[i / 2], translations[i / 2 + 1]);
    static const wchar_t* kNames[] = {L"CompanyName",    L"ProductName",     L"ProductVersion",
                                      L"FileVersion",    L"FileDescription", L"LegalCopyright",
                                      L"OriginalFilename"};
    for (const wchar_t* name : kNames) {
        wchar_t query[96];
        swprintf(query, 96, L"\\StringFileInfo\\%04x%04x\\%ls", translations[0], translations[1], name);
        wchar_t* value = nullptr;
        char utf8[1024] = "", ascii[64] = "";
        WideCharToMultiByte(CP_ACP, 0, name, -1, ascii, sizeof ascii, 0, 0);
        if (!VerQueryValueW(data.data(), query, (void**)&value, &length)) {
            printf("string %s missing\n", ascii);
            continue;
        }
        WideCharToMultiByte(CP_UTF8, 0, value, (int)length, utf8, sizeof utf8 - 1, 0, 0);
        printf("string %s=\"%s\"\n", ascii, utf8);
    }
}

void DumpIcons(const char* installer) {
    std::wstring path = Widen(installer);
    UINT count = ExtractIconExW(path.c_str(), -1, 0, 0, 0);
    HICON large = 0, small = 0;
    if (count) ExtractIconExW(path.c_str(), 0, &large, &small, 1);
    printf("icons %u large=%s small=%s\n", count, IconSize(large).c_str(), IconSize(small).c_str());
    if (large) DestroyIcon(large);
    if (small) DestroyIcon(small);
    HMODULE module = LoadLibraryExW(path.c_str(), 0, LOAD_LIBRARY_AS_DATAFILE);
    if (!module) Fail("cannot load resources of", installer);
    HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(1), (LPCWSTR)RT_GROUP_ICON);
    if (!found) {
        printf("icon-group none\n");
        FreeLibrary(module);
        return;
    }
    // The group: three words (0, 1, the image count), then 14 bytes an image: width, height
    // (0 for 256), colours, 0, planes, bits per pixel, the image's size and its RT_ICON id.
    const BYTE* group = (const BYTE*)LockResource(LoadResource(module, found));
    DWORD size = SizeofResource(module, found);
    auto word = [&](DWORD at) { return (unsigned)(group[at] | group[at + 1] << 8); };
    if (size < 6 || word(0) != 0 || word(2) != 1 || size < 6 + 14 * word(4))
        Fail("malformed icon group in", installer);
    printf("icon-group 1 images=%u\n", word(4));
    for (unsigned i = 0; i < word(4); ++i) {
        const DWORD at = 6 + 14 * i;
        unsigned width = group[at] ? group[at] : 256, height = group[at + 1] ? group[at + 1] : 256;
        DWORD bytes = word(at + 8) | (DWORD)word(at + 10) << 16;
        HRSRC image = FindResourceW(module, MAKEINTRESOURCEW(word(at + 12)), (LPCWSTR)RT_ICON);
        HICON icon = (HICON)LoadImageW(module, MAKEINTRESOURCEW(1), IMAGE_ICON, width, height, 0);
        printf("icon-image %ux%u bits=%u bytes=%lu stored=%lu loaded=%s\n", width, height,
               word(at + 6), (unsigned long)bytes,
               image ? (unsigned long)SizeofResource(module, image) : 0UL, IconSize(icon).c_str());
        if (icon) DestroyIcon(icon);
    }
    FreeLibrary(module);
}

void Report(const char* what, bool done) { printf("tamper %s=%s\n", what, done ? "done" : "refused"); }

void Tamper(const char* path, const char* other) {
    HANDLE h = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           0, OPEN_EXISTING, 0, 0);
    DWORD written = 0;
    Report("write", h != INVALID_HANDLE_VALUE && WriteFile(h, "MZ", 2, &written, 0) && written == 2);
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    Report("delete", DeleteFileA(path));
    Report("rename", MoveFileA(path, (std::string(path) + ".moved").c_str()));
    Report("copy-over", CopyFileA(other, path, FALSE));
    std::string copy = std::string(path) + ".other";
    Report("move-over", CopyFileA(other, copy.c_str(), FALSE) &&
                            MoveFileExA(copy.c_str(), path, MOVEFILE_REPLACE_EXISTING));
    DeleteFileA(copy.c_str());
}

void Start(const char* installer) {
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    std::string line = std::string("\"") + installer + "\"";
    if (!CreateProcessA(installer, &line[0], 0, 0, FALSE, 0, 0, 0, &startup, &Installer))
        Fail("cannot start", installer);
    WaitForInputIdle(Installer.hProcess, kWaitMs);
}

}  // namespace

int main(int argc, char** argv) {
    setvbuf(stdout, 0, _IONBF, 0);
    if (argc < 2) {
        fputs("usage: driver INSTALLER.exe COMMAND...\n", stderr);
        return 2;
    }
    const char* installer = argv[1];
    int i = 2;
    if (i < argc && !strcmp(argv[i], "template")) {
        for (++i; i < argc; ++i) DumpTemplate(installer, argv[i]);
        return 0;
    }
    if (i < argc && !strcmp(argv[i], "files")) {
        for (++i; i < argc; ++i) DescribeFile(argv[i]);
        return 0;
    }
    if (i < argc && !strcmp(argv[i], "version")) {
        DumpVersion(installer);
        return 0;
    }
    if (i < argc && !strcmp(argv[i], "icons")) {
        DumpIcons(installer);
        return 0;
    }
    const DWORD start = GetTickCount();
    Start(installer);
    for (; i < argc; ++i) {
        std::string c = argv[i];
        auto next = [&]() -> const char* {
            if (i + 1 >= argc) Fail("missing argument of", c.c_str());
            return argv[++i];
        };
        if (c == "wait-main") WaitFor(kMain, "main");
        else if (c == "wait-title") WaitFor(kNone, "titled", next());
        else if (c == "wait-prompt") WaitFor(kPrompt, "prompt");
        else if (c == "wait-message") WaitFor(kMessage, "message");
        else if (c == "dump") Dump();
        else if (c == "window-icons") WindowIcons();
        else if (c == "set") {
            HWND control = Control(next());
            SendMessageA(control, WM_SETTEXT, 0, (LPARAM)next());
        } else if (c == "check") {
            HWND control = Control(next());
            SendMessageA(control, BM_SETCHECK, atoi(next()) ? BST_CHECKED : BST_UNCHECKED, 0);
        } else if (c == "click") {
            const char* id = next();
            // WM_COMMAND from the button, as a click makes it; posted, never waited for.
            PostMessageA(Current, WM_COMMAND, MAKEWPARAM(atoi(id), BN_CLICKED), (LPARAM)Control(id));
        } else if (c == "click-main") {
            HWND main = FindInstallerWindow(kMain);
            if (!main) Fail("no main dialog");
            int id = atoi(next());
            PostMessageA(main, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), (LPARAM)GetDlgItem(main, id));
        } else if (c == "windows") {
            Census census = {};
            EnumWindows(CountWindow, (LPARAM)&census);
            printf("windows main=%d prompt=%d message=%d\n", census.Count[kMain],
                   census.Count[kPrompt], census.Count[kMessage]);
        } else if (c == "key") {
            int vk = atoi(next());
            HWND focus = FocusOf(Current);
            PostMessageA(focus ? focus : Current, WM_KEYDOWN, vk, 0);
            PostMessageA(focus ? focus : Current, WM_KEYUP, vk, 0xC0000000);
        } else if (c == "close") {
            PostMessageA(Current, WM_SYSCOMMAND, SC_CLOSE, 0);
        } else if (c == "shot") {
            Shot(next());
        } else if (c == "tamper") {
            const char* path = next();
            Tamper(path, next());
        } else if (c == "clock") {
            static DWORD last = start;
            DWORD now = GetTickCount();
            printf("clock %lu\n", (unsigned long)(now - last));
            last = now;
        } else if (c == "sleep") {
            Sleep(atoi(next()));
        } else if (c == "watch-file") {
            const char* path = next();
            DWORD waited = 0;
            while (GetFileAttributesA(path) == INVALID_FILE_ATTRIBUTES) {
                if (waited >= kWaitMs) Fail("timeout waiting for file", path);
                Sleep(20);
                waited += 20;
            }
            printf("file %s\n", path);
        } else if (c == "no-window") {
            DWORD ms = atoi(next());
            for (DWORD waited = 0; waited < ms; waited += 50) {
                if (FindInstallerWindow(kNone)) Fail("a window appeared");
                if (WaitForSingleObject(Installer.hProcess, 50) == WAIT_OBJECT_0) break;
            }
            printf("no-window\n");
        } else if (c == "wait-exit") {
            if (WaitForSingleObject(Installer.hProcess, kWaitMs) != WAIT_OBJECT_0)
                Fail("installer did not end");
            DWORD code = 0;
            GetExitCodeProcess(Installer.hProcess, &code);
            printf("exit %lu\n", code);
        } else {
            Fail("unknown command", c.c_str());
        }
    }
    return 0;
}
