// Tavlore, the sample product that the demo and the end-to-end tests install. When started
// it adds to started.txt in its own folder that folder and the command line it was given, so
// that a test can see that the installer started it, from where, how, and how many times.
#include <windows.h>

#include <stdio.h>
#include <string.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    char folder[MAX_PATH + 1] = "";
    DWORD length = GetModuleFileNameA(0, folder, MAX_PATH);
    folder[length] = 0;
    char* slash = strrchr(folder, '\\');
    if (slash) *slash = 0;

    char marker[MAX_PATH + 16];
    snprintf(marker, sizeof marker, "%s\\started.txt", folder);
    FILE* out = fopen(marker, "a");
    if (!out) return 1;
    fprintf(out, "folder=%s\ncommand=%s\n", folder, GetCommandLineA());
    fclose(out);
    return 0;
}
