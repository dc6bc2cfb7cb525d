#include "app/save_name.h"

#include "app/file_dialog.h"

namespace {

constexpr char kNameFormat[] = "%02d %s.wav";
constexpr char kNotInNames[] = "\\/:*?\"<>|";
constexpr char kReplacement = '_';
constexpr unsigned char kFirstPrintable = 32;
constexpr int kNameChars = 128; // "NN " and ".wav" around a title of at most 95 bytes
constexpr int kNameBytes = 3 * kNameChars;

bool FitsAName(char c) {
    if (static_cast<unsigned char>(c) < kFirstPrintable) return false;
    for (const char* p = kNotInNames; *p; p++)
        if (*p == c) return false;
    return true;
}

} // namespace

void ProposeSaveName(const char* lastPath, int track, const char* title, char* out, int size) {
    lstrcpynA(out, lastPath, size);
    if (!title[0]) return;
    // The folder: up to and with the last separator, as the dialog splits it.
    int folder = 0;
    for (int i = 0; lastPath[i]; i++)
        if (lastPath[i] == '\\' || lastPath[i] == ':') folder = i + 1;
    // The title comes in the ANSI code page; the path is UTF-8, whose bytes
    // past ASCII never look like a separator.
    char numbered[kNameChars];
    WCHAR wide[kNameChars];
    char name[kNameBytes];
    wsprintfA(numbered, kNameFormat, track, title);
    int bytes = MultiByteToWideChar(CP_ACP, 0, numbered, -1, wide, kNameChars)
                    ? WideCharToMultiByte(CP_UTF8, 0, wide, -1, name, sizeof name, nullptr, nullptr)
                    : 0;
    if (!bytes || bytes + folder > size || bytes + folder > kDialogPathChars) return;
    for (char* p = name; *p; p++)
        if (!FitsAName(*p)) *p = kReplacement;
    lstrcpynA(out + folder, name, size - folder);
}
