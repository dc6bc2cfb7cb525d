#include "app/file_dialog.h"

#include "app/deck.h"

#include <commdlg.h>

#include <cstddef>

namespace {

constexpr DWORD kDialogFlags =
    OFN_HIDEREADONLY | OFN_NOCHANGEDIR | OFN_PATHMUSTEXIST | OFN_NOTESTFILECREATE;
constexpr DWORD kFirstFilter = 1;
constexpr int kTitleChars = 64;

#if defined(__i386__)
// OPENFILENAME_SIZE_VERSION_400W: the record up to the fields Windows 2000 added.
static_assert(offsetof(OPENFILENAMEW, pvReserved) == 76,
              "the dialog record of the 32-bit platform");
#endif
static_assert(kDialogPathChars < kLastPathChars, "a chosen path fits the last path");

constexpr char kCommonDialogs[] = "comdlg32.dll";
using GetOpenFileNameFn = BOOL(WINAPI*)(LPOPENFILENAMEW);
using CommDlgExtendedErrorFn = DWORD(WINAPI*)();

// The common dialogs bring the shell and its friends with them: they are
// loaded when a dialog is first wanted, not at every start of the program.
struct CommonDialogs {
    GetOpenFileNameFn getOpenFileName;
    CommDlgExtendedErrorFn extendedError;
};

bool LoadCommonDialogs(CommonDialogs* dialogs) {
    static HMODULE module;
    if (!module) module = LoadLibraryA(kCommonDialogs);
    if (!module) return false;
    dialogs->getOpenFileName = reinterpret_cast<GetOpenFileNameFn>(
        reinterpret_cast<void*>(GetProcAddress(module, "GetOpenFileNameW")));
    dialogs->extendedError = reinterpret_cast<CommDlgExtendedErrorFn>(
        reinterpret_cast<void*>(GetProcAddress(module, "CommDlgExtendedError")));
    return dialogs->getOpenFileName && dialogs->extendedError;
}

// The current directory, put back when the dialog is over (the dialog may move it).
class SavedDirectory {
  public:
    SavedDirectory() {
        DWORD n = GetCurrentDirectoryW(MAX_PATH, dir_);
        saved_ = n > 0 && n < MAX_PATH;
    }
    ~SavedDirectory() {
        if (saved_) SetCurrentDirectoryW(dir_);
    }
    SavedDirectory(const SavedDirectory&) = delete;
    SavedDirectory& operator=(const SavedDirectory&) = delete;

  private:
    WCHAR dir_[MAX_PATH];
    bool saved_;
};

} // namespace

void SplitDialogPath(const WCHAR* path, DialogStart* start) {
    start->fileName[0] = start->initialDir[0] = L'\0';
    if (!path) return;
    int separator = -1;
    for (int i = 0; path[i]; i++)
        if (path[i] == L'\\' || path[i] == L':') separator = i;
    lstrcpynW(start->fileName, path + separator + 1, kDialogPathChars);
    // The folder drops its last character, the separator itself: "C:\" gives "C:".
    if (separator > 0) {
        int chars = separator < kDialogPathChars ? separator : kDialogPathChars - 1;
        lstrcpynW(start->initialDir, path, chars + 1);
    }
}

const char* FileDialog(HWND owner, const WCHAR* filter, char* path, const char* title) {
    CommonDialogs dialogs;
    if (!LoadCommonDialogs(&dialogs)) return nullptr;
    SavedDirectory savedDirectory;
    WCHAR last[kLastPathChars], wideTitle[kTitleChars];
    if (!MultiByteToWideChar(CP_UTF8, 0, path, -1, last, kLastPathChars)) last[0] = L'\0';
    if (!MultiByteToWideChar(CP_UTF8, 0, title, -1, wideTitle, kTitleChars)) wideTitle[0] = L'\0';
    DialogStart start;
    SplitDialogPath(last, &start);
    WCHAR fileTitle[kDialogPathChars] = {};
    OPENFILENAMEW ofn = {};
    ofn.lStructSize = OPENFILENAME_SIZE_VERSION_400W;
    ofn.hwndOwner = owner;
    ofn.lpstrFilter = filter;
    ofn.nFilterIndex = kFirstFilter;
    ofn.lpstrFile = start.fileName;
    ofn.nMaxFile = kDialogPathChars;
    ofn.lpstrFileTitle = fileTitle;
    ofn.nMaxFileTitle = kDialogPathChars;
    ofn.lpstrInitialDir = start.initialDir;
    ofn.lpstrTitle = wideTitle;
    ofn.Flags = kDialogFlags;
    // Both uses are open dialogs: without OFN_FILEMUSTEXIST a new name is accepted too.
    if (!dialogs.getOpenFileName(&ofn)) {
        dialogs.extendedError();
        return nullptr;
    }
    WideCharToMultiByte(CP_UTF8, 0, start.fileName, -1, path, kLastPathSize, nullptr, nullptr);
    return path;
}
