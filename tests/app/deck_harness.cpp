#include "deck_harness.h"

#include "tools/disc/frame_pattern.h"

#include <dlgs.h>

#include <cstdio>
#include <cstdlib>

namespace deck_test {

namespace {

constexpr char kDeckClass[] = "Velmora Tunedeck 1.5";
constexpr char kDialogClass[] = "#32770";
constexpr char kProgram[] = "tunedeck.exe";
constexpr int kMessageTextId = 0xFFFF;
constexpr int kDeckWidth = 300, kDeckHeight = 80;
constexpr DWORD kClickGapMs = 100;

// Where the deck's children sit, in deck pixels (client point + 1).
struct ButtonSpot {
    int x, y;
    const char* bitmap;
};
constexpr ButtonSpot kButtons[] = {
    {52, 7, "IDB_PLIST"},   {76, 53, "IDB_PLAY"},    {97, 53, "IDB_PAUSE"},
    {118, 53, "IDB_STOP"},  {142, 53, "IDB_LTSKIP"}, {163, 53, "IDB_LSKIP"},
    {184, 53, "IDB_RSKIP"}, {205, 53, "IDB_RTSKIP"}, {226, 53, "IDB_EJECT"},
    {250, 53, "IDB_PMODE"}, {274, 53, "IDWAV_REC"},  {274, 28, "IDB_ICON"},
    {274, 7, "IDB_POWER"},
};
constexpr int kButtonCount = sizeof kButtons / sizeof kButtons[0];
constexpr int kButtonSize = 20;
constexpr int kSliderDeckY = 7;
constexpr int kLeftSliderDeckX = 8, kRightSliderDeckX = 29;
constexpr int kSliderWidth = 17, kSliderHeight = 66;
constexpr int kThumbLeft = 2, kThumbWidth = 13, kThumbHeight = 17;

// The status display's client origin in deck pixels, and its pieces.
constexpr int kStatusDeckX = 77, kStatusDeckY = 9;
constexpr int kLineX = 5, kLineY = 3, kLineChars = 17;
constexpr int kMapCell = 8, kMapCellHeight = 10, kMapColumns = 20, kMapChars = 95;
constexpr int kDigitsY = 16, kDigitWidth = 14, kDigitHeight = 21, kDigitCells = 12;
constexpr int kTrackNumberX[] = {22, 37, 52};
constexpr int kTimeX[] = {67, 82, 97, 112, 127};
constexpr char kDigitGlyphs[] = "0123456789:-";
constexpr int kIconX = 5, kIconY = 19, kIconWidth = 11, kIconHeight = 13, kIconCells = 5;
constexpr int kModeX = 148, kModeWidth = 41, kModeHeight = 11, kModeUnlit = 3;
constexpr int kModeY[] = {1, 13, 25};

int ScreenX(int deckX) {
    return kDeckScreenX + deckX;
}
int ScreenY(int deckY) {
    return kDeckScreenY + deckY;
}

ScreenGrab GrabDeck() {
    return GrabScreen(kDeckScreenX, kDeckScreenY, kDeckWidth, kDeckHeight);
}

std::string WindowText(HWND hwnd) {
    char text[512] = {};
    GetWindowTextA(hwnd, text, sizeof text);
    return text;
}

std::string ClassOf(HWND hwnd) {
    char name[64] = {};
    GetClassNameA(hwnd, name, sizeof name);
    return name;
}

std::vector<HWND> Descendants(HWND parent) {
    std::vector<HWND> found;
    EnumChildWindows(
        parent,
        [](HWND hwnd, LPARAM list) {
            reinterpret_cast<std::vector<HWND>*>(list)->push_back(hwnd);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&found));
    return found;
}

// Which cell of a strip of `cells` cells (each w x h, side by side) shows at (sx, sy).
int CellShown(const ScreenGrab& grab, int sx, int sy, const char* strip, int cells, int width,
              int height) {
    for (int k = 0; k < cells; k++)
        if (ShowsCell(grab, sx, sy, strip, k * width, 0, width, height)) return k;
    return -1;
}

int StatusX(int x) {
    return ScreenX(kStatusDeckX + x);
}
int StatusY(int y) {
    return ScreenY(kStatusDeckY + y);
}

std::string ReadDigits(const ScreenGrab& grab, const int* xs, int count) {
    std::string text;
    for (int i = 0; i < count; i++) {
        int cell = CellShown(grab, StatusX(xs[i]), StatusY(kDigitsY), "IDL_NUM", kDigitCells,
                             kDigitWidth, kDigitHeight);
        text += cell < 0 ? '?' : kDigitGlyphs[cell];
    }
    return text;
}

std::string UnixMarker() {
    static int serial = 0;
    char name[96];
    std::snprintf(name, sizeof name, "/tmp/deck-test-%lu-%d.done", GetCurrentProcessId(), ++serial);
    return name;
}

} // namespace

ScreenGrab GrabScreen(int x, int y, int width, int height) {
    ScreenGrab g;
    g.x = x;
    g.y = y;
    g.width = width;
    g.height = height;
    BITMAPINFO bi = {};
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = width;
    bi.bmiHeader.biHeight = -height;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    HDC screen = GetDC(nullptr);
    HBITMAP dib = CreateDIBSection(screen, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    HDC mem = CreateCompatibleDC(screen);
    HGDIOBJ old = SelectObject(mem, dib);
    BitBlt(mem, 0, 0, width, height, screen, x, y, SRCCOPY);
    GdiFlush();
    const DWORD* p = static_cast<const DWORD*>(bits);
    g.pixels.resize(size_t(width) * height);
    for (size_t i = 0; i < g.pixels.size(); i++)
        g.pixels[i] = RGB((p[i] >> 16) & 0xFF, (p[i] >> 8) & 0xFF, p[i] & 0xFF);
    SelectObject(mem, old);
    DeleteDC(mem);
    DeleteObject(dib);
    ReleaseDC(nullptr, screen);
    return g;
}

COLORREF SkinPixel(const char* name, int x, int y) {
    HMODULE module = GetModuleHandleA(nullptr);
    HRSRC found = FindResourceA(module, name, RT_BITMAP);
    HGLOBAL loaded = found ? LoadResource(module, found) : nullptr;
    auto* h = loaded ? static_cast<const BITMAPINFOHEADER*>(LockResource(loaded)) : nullptr;
    if (!h || x < 0 || y < 0 || x >= h->biWidth || y >= h->biHeight) return CLR_INVALID;
    const RGBQUAD* table =
        reinterpret_cast<const RGBQUAD*>(reinterpret_cast<const BYTE*>(h) + h->biSize);
    const BYTE* bits = reinterpret_cast<const BYTE*>(table + 16);
    int stride = (h->biWidth * 4 + 31) / 32 * 4;
    BYTE pair = bits[size_t(h->biHeight - 1 - y) * stride + x / 2];
    const RGBQUAD& c = table[x % 2 ? pair & 0x0F : pair >> 4];
    return RGB(c.rgbRed, c.rgbGreen, c.rgbBlue);
}

bool ShowsCell(const ScreenGrab& grab, int screenX, int screenY, const char* name, int cellX,
               int cellY, int width, int height) {
    if (screenX < grab.x || screenY < grab.y || screenX + width > grab.x + grab.width ||
        screenY + height > grab.y + grab.height)
        return false;
    for (int y = 0; y < height; y++)
        for (int x = 0; x < width; x++)
            if (grab.At(screenX + x, screenY + y) != SkinPixel(name, cellX + x, cellY + y))
                return false;
    return true;
}

std::vector<PatternSpan> PatternSpans(const Bytes& played) {
    std::vector<PatternSpan> spans;
    size_t at = 0;
    while (at + td_disc::kStereoBytes <= played.size()) {
        td_disc::PatternPos pos;
        size_t run = td_disc::PatternRun(played.data() + at, played.size() - at, &pos);
        if (run == 0) {
            at += td_disc::kStereoBytes;
            continue;
        }
        // A run that goes on where the last one stopped (silence between) is the same run.
        uint64_t startByte = uint64_t(pos.lba) * td_disc::kFrameBytes + pos.offset;
        if (!spans.empty()) {
            PatternSpan& last = spans.back();
            uint64_t lastEnd = uint64_t(last.lba) * td_disc::kFrameBytes + last.offset + last.bytes;
            if (lastEnd == startByte) {
                last.bytes += run;
                at += run;
                continue;
            }
        }
        spans.push_back({pos.lba, pos.offset, run, at});
        at += run;
    }
    return spans;
}

void ChannelLevels(const Bytes& played, const Bytes& original, double* left, double* right) {
    double sum[2][2] = {};
    size_t n = played.size() < original.size() ? played.size() : original.size();
    for (size_t i = 0; i + 4 <= n; i += 4)
        for (int ch = 0; ch < 2; ch++) {
            sum[0][ch] += std::abs(*reinterpret_cast<const int16_t*>(&played[i + 2 * ch]));
            sum[1][ch] += std::abs(*reinterpret_cast<const int16_t*>(&original[i + 2 * ch]));
        }
    *left = sum[1][0] > 0 ? sum[0][0] / sum[1][0] : 0;
    *right = sum[1][1] > 0 ? sum[0][1] / sum[1][1] : 0;
}

bool RunUnixCommand(const std::string& commandLine, DWORD timeoutMs) {
    // Wine cannot wait on a Linux process, so the command leaves a mark when done.
    std::string marker = UnixMarker();
    std::string windowsMarker = td_test::FromUnixPath(marker);
    DeleteFileA(windowsMarker.c_str());
    std::string line = "/bin/sh -c \"" + commandLine + "; touch " + marker + "\"";
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
        return false;
    if (pi.hProcess) CloseHandle(pi.hProcess);
    if (pi.hThread) CloseHandle(pi.hThread);
    bool done = WaitUntil(
        [&] { return GetFileAttributesA(windowsMarker.c_str()) != INVALID_FILE_ATTRIBUTES; },
        timeoutMs);
    DeleteFileA(windowsMarker.c_str());
    return done;
}

DeckProcess::~DeckProcess() {
    if (process_.hProcess) {
        if (Running()) {
            TerminateProcess(process_.hProcess, 1);
            WaitForSingleObject(process_.hProcess, 5000);
        }
        CloseHandle(process_.hProcess);
        CloseHandle(process_.hThread);
    }
    if (job_) CloseHandle(job_);
}

bool DeckProcess::Start(DWORD timeoutMs) {
    char self[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, self, sizeof self);
    std::string path(self, n);
    path = path.substr(0, path.find_last_of('\\') + 1) + kProgram;
    std::string line = "\"" + path + "\"";
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    if (!CreateProcessA(path.c_str(), &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                        &process_))
        return false;
    job_ = CreateJobObjectA(nullptr, nullptr);
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    if (job_ &&
        SetInformationJobObject(job_, JobObjectExtendedLimitInformation, &limits, sizeof limits))
        AssignProcessToJobObject(job_, process_.hProcess);
    bool up = WaitUntil(
        [&] {
            for (HWND hwnd : TopLevelWindows())
                if (ClassOf(hwnd) == kDeckClass && IsWindowVisible(hwnd)) deck_ = hwnd;
            // Painted: the exit button's face and a state icon cell are on screen.
            return deck_ && Faces()[12] == '+' && StateIcon() >= 0;
        },
        timeoutMs);
    return up;
}

bool DeckProcess::Running() const {
    return process_.hProcess && WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT;
}

bool DeckProcess::WaitForExit(DWORD timeoutMs, DWORD* exitCode) {
    if (!WaitUntil([&] { return !Running(); }, timeoutMs)) return false;
    if (exitCode) GetExitCodeProcess(process_.hProcess, exitCode);
    return true;
}

bool DeckProcess::Quit(DWORD timeoutMs, DWORD* exitCode) {
    return ClickButton(kButtonCount - 1) && WaitForExit(timeoutMs, exitCode);
}

std::vector<HWND> DeckProcess::TopLevelWindows() const {
    struct Search {
        DWORD pid;
        std::vector<HWND> found;
    } search = {process_.dwProcessId, {}};
    EnumWindows(
        [](HWND hwnd, LPARAM param) {
            auto* s = reinterpret_cast<Search*>(param);
            DWORD pid = 0;
            GetWindowThreadProcessId(hwnd, &pid);
            if (pid == s->pid) s->found.push_back(hwnd);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

bool DeckProcess::Pointer(const std::string& xdotoolArgs) {
    DWORD apart = GetDoubleClickTime() + kClickGapMs;
    if (lastPointer_) WaitUntil([&] { return GetTickCount() - lastPointer_ > apart; }, apart);
    bool done = RunUnixCommand("xdotool " + xdotoolArgs);
    lastPointer_ = GetTickCount();
    return done;
}

bool DeckProcess::Click(int deckX, int deckY) {
    char args[128];
    std::snprintf(args, sizeof args, "mousemove %d %d click 1", ScreenX(deckX), ScreenY(deckY));
    return Pointer(args);
}

bool DeckProcess::ClickButton(int id) {
    const ButtonSpot& b = kButtons[id];
    return Click(b.x + kButtonSize / 2, b.y + kButtonSize / 2);
}

bool DeckProcess::DoubleClickButton(int id) {
    const ButtonSpot& b = kButtons[id];
    char args[128];
    std::snprintf(args, sizeof args, "mousemove %d %d click --repeat 2 --delay 60 1",
                  ScreenX(b.x + kButtonSize / 2), ScreenY(b.y + kButtonSize / 2));
    return Pointer(args);
}

bool DeckProcess::Drag(int deckX, int deckY, int toDeckX, int toDeckY) {
    int midX = (deckX + toDeckX) / 2, midY = (deckY + toDeckY) / 2;
    char args[256];
    std::snprintf(args, sizeof args,
                  "mousemove %d %d mousedown 1 sleep 0.2 mousemove %d %d sleep 0.1 "
                  "mousemove %d %d sleep 0.2 mouseup 1",
                  ScreenX(deckX), ScreenY(deckY), ScreenX(midX), ScreenY(midY), ScreenX(toDeckX),
                  ScreenY(toDeckY));
    return Pointer(args);
}

bool DeckProcess::DragSlider(int sliderId, int row) {
    int x = (sliderId == 100 ? kLeftSliderDeckX : kRightSliderDeckX) + kSliderWidth / 2;
    int start = row > kSliderHeight / 2 ? row - 5 : row + 5;
    char args[256];
    std::snprintf(args, sizeof args,
                  "mousemove %d %d mousedown 1 sleep 0.1 mousemove %d %d sleep 0.1 "
                  "mousemove %d %d sleep 0.1 mouseup 1",
                  ScreenX(x), ScreenY(kSliderDeckY + start), ScreenX(x),
                  ScreenY(kSliderDeckY + (start + row) / 2), ScreenX(x),
                  ScreenY(kSliderDeckY + row));
    return Pointer(args);
}

std::string DeckProcess::Faces() const {
    ScreenGrab grab = GrabDeck();
    std::string faces;
    for (const ButtonSpot& b : kButtons) {
        int sx = ScreenX(b.x), sy = ScreenY(b.y);
        if (ShowsCell(grab, sx, sy, b.bitmap, 0, 0, kButtonSize, kButtonSize))
            faces += '+';
        else if (ShowsCell(grab, sx, sy, b.bitmap, 0, 2 * kButtonSize, kButtonSize, kButtonSize))
            faces += '-';
        else if (ShowsCell(grab, sx, sy, b.bitmap, 0, kButtonSize, kButtonSize, kButtonSize))
            faces += '*';
        else
            faces += '?';
    }
    return faces;
}

bool DeckProcess::WaitForFaces(const std::string& faces, DWORD timeoutMs) const {
    return WaitUntil([&] { return Faces() == faces; }, timeoutMs);
}

std::string DeckProcess::TrackLine() const {
    ScreenGrab grab = GrabDeck();
    std::string line;
    for (int i = 0; i < kLineChars; i++) {
        int sx = StatusX(kLineX + i * kMapCell), sy = StatusY(kLineY);
        char c = '?';
        for (int k = 0; k < kMapChars; k++)
            if (ShowsCell(grab, sx, sy, "IDL_MAP", k % kMapColumns * kMapCell,
                          k / kMapColumns * kMapCellHeight, kMapCell, kMapCellHeight)) {
                c = char(' ' + k);
                break;
            }
        line += c;
    }
    return line;
}

std::string DeckProcess::TrackNumber() const {
    return ReadDigits(GrabDeck(), kTrackNumberX, 3);
}

std::string DeckProcess::Time() const {
    return ReadDigits(GrabDeck(), kTimeX, 5);
}

int DeckProcess::StateIcon() const {
    return CellShown(GrabDeck(), StatusX(kIconX), StatusY(kIconY), "ID_CUR_MODE", kIconCells,
                     kIconWidth, kIconHeight);
}

int DeckProcess::LitMode() const {
    ScreenGrab grab = GrabDeck();
    int lit = -1;
    for (int m = 0; m < 3; m++) {
        int cell = CellShown(grab, StatusX(kModeX), StatusY(kModeY[m]), "IDL_MODE", 6, kModeWidth,
                             kModeHeight);
        if (cell == m)
            lit = lit == -1 ? m : -2;
        else if (cell != m + kModeUnlit)
            return -2;
    }
    return lit;
}

int DeckProcess::SliderThumbTop(int sliderId) const {
    int x = ScreenX(sliderId == 100 ? kLeftSliderDeckX : kRightSliderDeckX) + kThumbLeft;
    ScreenGrab grab = GrabDeck();
    for (int top = 0; top + kThumbHeight <= kSliderHeight; top++)
        if (ShowsCell(grab, x, ScreenY(kSliderDeckY) + top, "ID_MIX_CUR", 0, 0, kThumbWidth,
                      kThumbHeight))
            return top;
    return -100;
}

std::vector<HWND> DeckProcess::Dialogs() const {
    std::vector<HWND> dialogs;
    for (HWND hwnd : TopLevelWindows())
        if (ClassOf(hwnd) == kDialogClass && IsWindowVisible(hwnd)) dialogs.push_back(hwnd);
    return dialogs;
}

bool DeckProcess::Answers(DWORD timeoutMs) const {
    DWORD_PTR result = 0;
    return deck_ && SendMessageTimeoutA(deck_, WM_NULL, 0, 0, SMTO_NORMAL, timeoutMs, &result);
}

HWND DeckProcess::FileDialogShown(const std::string& title) const {
    for (HWND hwnd : Dialogs())
        if (WindowText(hwnd) == title) return hwnd;
    return nullptr;
}

bool DeckProcess::CancelFile(const std::string& title, DWORD timeoutMs) {
    HWND dialog = nullptr;
    if (!WaitUntil([&] { return (dialog = FileDialogShown(title)) != nullptr; }, timeoutMs))
        return false;
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDCANCEL)));
    return WaitUntil([&] { return !IsWindow(dialog) || !IsWindowVisible(dialog); }, timeoutMs);
}

bool DeckProcess::ChooseFile(const std::string& title, const std::string& path, DWORD timeoutMs) {
    HWND dialog = nullptr;
    if (!WaitUntil([&] { return (dialog = FileDialogShown(title)) != nullptr; }, timeoutMs))
        return false;
    // The name box: edt1, or the edit inside the name combo box (cmb13).
    HWND edit = nullptr;
    for (HWND child : Descendants(dialog)) {
        if (ClassOf(child) != "Edit") continue;
        int id = GetDlgCtrlID(child), parentId = GetDlgCtrlID(GetParent(child));
        if (id == edt1 || parentId == cmb13 || !edit) edit = child;
    }
    if (!edit) return false;
    SendMessageA(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(path.c_str()));
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDOK)));
    return WaitUntil([&] { return !IsWindow(dialog) || !IsWindowVisible(dialog); }, timeoutMs);
}

bool DeckProcess::IsMessageBox(HWND dialog) const {
    if (!GetDlgItem(dialog, kMessageTextId)) return false;
    // A box comes from the system's own template, the program's dialogs from its module.
    return GetWindowLongPtrA(dialog, GWLP_HINSTANCE) != GetWindowLongPtrA(deck_, GWLP_HINSTANCE);
}

bool DeckProcess::TakeMessageBox(Box* box, DWORD timeoutMs) {
    HWND found = nullptr;
    if (!WaitUntil(
            [&] {
                for (HWND hwnd : Dialogs())
                    if (IsMessageBox(hwnd)) found = hwnd;
                return found != nullptr;
            },
            timeoutMs))
        return false;
    box->caption = WindowText(found);
    box->text = WindowText(GetDlgItem(found, kMessageTextId));
    PostMessageA(found, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    return WaitUntil([&] { return !IsWindow(found) || !IsWindowVisible(found); }, timeoutMs);
}

} // namespace deck_test
