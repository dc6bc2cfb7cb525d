#include "app/save_name.h"

#include "app/file_dialog.h"

namespace {

constexpr char kNameFormat[] = "%02d %s.wav";
constexpr char kNotInNames[] = "\\/:*?\"<>|";
constexpr char kReplacement = '_';
constexpr unsigned char kFirstPrintable = 32;

bool FitsAName(char c) {
    if (static_cast<unsigned char>(c) < kFirstPrintable) return false;
    for (const char* p = kNotInNames; *p; p++)
        if (*p == c) return false;
    return true;
}

} // namespace

void ProposeSaveName(const char* lastPath, int track, const char* title, char* out, int size) {
    if (size > kDialogPathChars) size = kDialogPathChars;
    lstrcpynA(out, lastPath, size);
    if (!title[0]) return;
    // The folder: up to and with the last separator, as the dialog splits it.
    int folder = 0;
    for (int i = 0; lastPath[i]; i++)
        if (lastPath[i] == '\\' || lastPath[i] == ':') folder = i + 1;
    char name[kDialogPathChars];
    if (wsprintfA(name, kNameFormat, track, title) + folder >= size) return;
    // Bytes of a double-byte character pass whole: a trail byte may look like a '\'.
    for (char* p = name; *p; p++) {
        if (IsDBCSLeadByte(static_cast<BYTE>(*p)) && p[1]) {
            p++;
            continue;
        }
        if (!FitsAName(*p)) *p = kReplacement;
    }
    lstrcpynA(out + folder, name, size - folder);
}
