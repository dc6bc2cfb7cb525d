#include "deck_harness.h"

#include "support/message_boxes.h"
#include "support/skin_pixels.h"

#include <dlgs.h>
#include <winternl.h>

#include <cstdarg>
#include <cstdio>

namespace deck_test {

namespace {

constexpr char kDeckClass[] = "Velmora Tunedeck 1.5";
constexpr char kDialogClass[] = "#32770";
constexpr char kProgram[] = "tunedeck.exe";
constexpr DWORD kPointerMs = 10000;
constexpr DWORD kDialogMs = 15000;
constexpr DWORD kExitMs = 10000;
constexpr DWORD kEndMs = 5000;
constexpr DWORD kAnswerMs = 1000;
constexpr DWORD kClickGapMs = 100;
constexpr int kDeckWidth = 300, kDeckHeight = 80;

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
constexpr int kExitButton = sizeof kButtons / sizeof kButtons[0] - 1;
constexpr int kButtonSize = 20;
constexpr int kSliderDeckY = 7;
constexpr int kLeftSliderId = 100;
constexpr int kLeftSliderDeckX = 8, kRightSliderDeckX = 29;
constexpr int kSliderWidth = 17, kSliderHeight = 66;
constexpr int kThumbLeft = 2, kThumbWidth = 13, kThumbHeight = 17;
constexpr int kNoThumb = -100;
constexpr int kSliderPressOffset = 5;

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
constexpr int kModes = 3;

// The deck as the X server shows it, pixel (x, y) of the deck at At(x, y):
// the top-left device pixel of its block at the deck's scale.
struct DeckGrab {
    std::vector<COLORREF> pixels;
    int scale;
    COLORREF At(int x, int y) const {
        return pixels[size_t(y * scale) * kDeckWidth * scale + size_t(x * scale)];
    }
};

DeckGrab GrabDeck(int scale) {
    const int width = kDeckWidth * scale, height = kDeckHeight * scale;
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
    BitBlt(mem, 0, 0, width, height, screen, kDeckScreenX, kDeckScreenY, SRCCOPY);
    GdiFlush();
    DeckGrab g = {{}, scale};
    const DWORD* p = static_cast<const DWORD*>(bits);
    for (size_t i = 0; i < size_t(width) * height; i++)
        g.pixels.push_back(RGB((p[i] >> 16) & 0xFF, (p[i] >> 8) & 0xFF, p[i] & 0xFF));
    SelectObject(mem, old);
    DeleteDC(mem);
    DeleteObject(dib);
    ReleaseDC(nullptr, screen);
    return g;
}

bool ShowsCell(const DeckGrab& grab, int deckX, int deckY, const char* name, int cellX, int cellY,
               int width, int height) {
    if (deckX < 0 || deckY < 0 || deckX + width > kDeckWidth || deckY + height > kDeckHeight)
        return false;
    for (int y = 0; y < height; y++)
        for (int x = 0; x < width; x++)
            if (grab.At(deckX + x, deckY + y) != td_test::SkinPixel(name, cellX + x, cellY + y))
                return false;
    return true;
}

// Which cell of a strip of `cells` cells (each w x h, side by side) shows at
// (x, y) of the status display, -1 none.
int CellShown(const DeckGrab& grab, int x, int y, const char* strip, int cells, int width,
              int height) {
    for (int k = 0; k < cells; k++)
        if (ShowsCell(grab, kStatusDeckX + x, kStatusDeckY + y, strip, k * width, 0, width, height))
            return k;
    return -1;
}

std::string ReadDigits(const DeckGrab& grab, const int* xs, int count) {
    std::string text;
    for (int i = 0; i < count; i++) {
        int cell =
            CellShown(grab, xs[i], kDigitsY, "IDL_NUM", kDigitCells, kDigitWidth, kDigitHeight);
        text += cell < 0 ? '?' : kDigitGlyphs[cell];
    }
    return text;
}

std::string ClassOf(HWND hwnd) {
    char name[64] = {};
    GetClassNameA(hwnd, name, sizeof name);
    return name;
}

int SliderDeckX(int sliderId) {
    return sliderId == kLeftSliderId ? kLeftSliderDeckX : kRightSliderDeckX;
}

bool Closed(HWND window) {
    return WaitUntil([&] { return !IsWindow(window) || !IsWindowVisible(window); }, kDialogMs);
}

// Wine 8's table (include/ntgdi.h): GDI_SHARED_MEMORY, an array of
// MAX_GDI_HANDLES entries, each {UINT64 Object; ULONG Owner; USHORT Unique;
// UCHAR Type; UCHAR Flags; UINT64 UserPointer}; Type is 0 while an entry is free.
constexpr size_t kMaxGdiHandles = 16384;
struct GdiHandleEntry {
    UINT64 object;
    ULONG owner;
    USHORT unique;
    UCHAR type;
    UCHAR flags;
    UINT64 userPointer;
};
static_assert(sizeof(GdiHandleEntry) == 24, "Wine's GDI_HANDLE_ENTRY");
constexpr size_t kPeb64GdiTableOffset = 0xF8;
#ifndef _WIN64
constexpr size_t kPeb32GdiTableOffset = 0x94;
constexpr size_t kPeb64BelowPeb32 = 0x1000; // a WoW64 process's 64-bit PEB is the page below
#endif

// The table's address, from the PEB whose GDI the process uses: under WoW64
// that is the 64-bit one, and the 32-bit PEB's field stays empty.
UINT64 GdiTableAddress(HANDLE process) {
    PROCESS_BASIC_INFORMATION basic = {};
    if (NtQueryInformationProcess(process, ProcessBasicInformation, &basic, sizeof basic, nullptr))
        return 0;
    const BYTE* peb = reinterpret_cast<const BYTE*>(basic.PebBaseAddress);
    UINT64 table = 0;
#ifndef _WIN64
    BOOL wow64 = FALSE;
    if (!IsWow64Process(process, &wow64) || !wow64) {
        DWORD table32 = 0;
        ReadProcessMemory(process, peb + kPeb32GdiTableOffset, &table32, sizeof table32, nullptr);
        return table32;
    }
    peb -= kPeb64BelowPeb32;
#endif
    ReadProcessMemory(process, peb + kPeb64GdiTableOffset, &table, sizeof table, nullptr);
    return table;
}

int GdiObjectCount(HANDLE process) {
    std::vector<GdiHandleEntry> entries(kMaxGdiHandles);
    const UINT64 table = GdiTableAddress(process);
    if (!table || !ReadProcessMemory(process, reinterpret_cast<const void*>(UINT_PTR(table)),
                                     entries.data(), entries.size() * sizeof entries[0], nullptr))
        return -1;
    int live = 0;
    for (const GdiHandleEntry& e : entries) live += e.type != 0;
    return live;
}

// Committed private memory, region by region: heaps, stacks, allocations.
SIZE_T PrivateCommit(HANDLE process) {
    SIZE_T total = 0;
    MEMORY_BASIC_INFORMATION region;
    const BYTE* at = nullptr;
    while (VirtualQueryEx(process, at, &region, sizeof region) == sizeof region) {
        if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE) total += region.RegionSize;
        const BYTE* next = static_cast<const BYTE*>(region.BaseAddress) + region.RegionSize;
        if (next <= at) break;
        at = next;
    }
    return total;
}

struct WindowSearch {
    DWORD pid;
    std::vector<HWND> found;
};

// Enumeration callbacks are __stdcall on i686, which no lambda converts to.
BOOL CALLBACK AddWindowOfProcess(HWND hwnd, LPARAM param) {
    auto* s = reinterpret_cast<WindowSearch*>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    if (pid == s->pid) s->found.push_back(hwnd);
    return TRUE;
}

// The edit inside the file dialog's name combo box (cmb13).
BOOL CALLBACK FindNameEdit(HWND child, LPARAM found) {
    if (ClassOf(child) != "Edit" || GetDlgCtrlID(GetParent(child)) != cmb13) return TRUE;
    *reinterpret_cast<HWND*>(found) = child;
    return FALSE;
}

// The name box: the edit inside the name combo box, or edt1.
HWND NameEdit(HWND dialog) {
    HWND edit = GetDlgItem(dialog, edt1);
    EnumChildWindows(dialog, FindNameEdit, reinterpret_cast<LPARAM>(&edit));
    return edit;
}

// The windows of a process: its top-level ones, or all, with their descendants.
std::vector<HWND> WindowsOf(DWORD processId, bool all = false) {
    WindowSearch search = {processId, {}};
    if (all)
        EnumChildWindows(GetDesktopWindow(), AddWindowOfProcess, reinterpret_cast<LPARAM>(&search));
    else
        EnumWindows(AddWindowOfProcess, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

} // namespace

ProcessCounters ReadCounters(HANDLE process, DWORD processId) {
    ProcessCounters c;
    c.gdiObjects = GdiObjectCount(process);
    c.windows = int(WindowsOf(processId, true).size());
    c.privateBytes = PrivateCommit(process);
    return c;
}

std::string Describe(const ProcessCounters& c) {
    char text[160];
    std::snprintf(text, sizeof text, "GDI objects %d, windows %d, private %zu KiB", c.gdiObjects,
                  c.windows, size_t(c.privateBytes / 1024));
    return text;
}

DeckProcess::~DeckProcess() {
    End();
}

void DeckProcess::End() {
    if (process_.hProcess) {
        if (Running()) {
            TerminateProcess(process_.hProcess, 1);
            WaitForSingleObject(process_.hProcess, kEndMs);
        }
        CloseHandle(process_.hProcess);
        CloseHandle(process_.hThread);
    }
    if (job_) CloseHandle(job_);
    process_ = {};
    job_ = nullptr;
    deck_ = nullptr;
}

bool DeckProcess::Start(DWORD timeoutMs) {
    // Now and then Wine fails to start a program, or starts one that never
    // shows a window: once more then, on the record.
    std::string failed = StartOnce(timeoutMs);
    if (failed.empty()) return true;
    End();
    td_test::NoteStartedAgain(failed);
    failed = StartOnce(timeoutMs);
    if (failed.empty()) return true;
    std::fprintf(stderr, "%s\n", failed.c_str());
    return false;
}

std::string DeckProcess::StartOnce(DWORD timeoutMs) {
    char self[MAX_PATH];
    std::string path(self, GetModuleFileNameA(nullptr, self, sizeof self));
    path = path.substr(0, path.find_last_of('\\') + 1) + kProgram;
    std::string line = "\"" + path + "\"";
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    if (!CreateProcessA(path.c_str(), &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                        &process_))
        return std::string(kProgram) + " could not be started (error " +
               std::to_string(GetLastError()) + ")";
    job_ = CreateJobObjectA(nullptr, nullptr);
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    if (job_ &&
        SetInformationJobObject(job_, JobObjectExtendedLimitInformation, &limits, sizeof limits))
        AssignProcessToJobObject(job_, process_.hProcess);
    if (WaitUntil(
            [&] {
                for (HWND hwnd : WindowsOf(ProcessId()))
                    if (ClassOf(hwnd) == kDeckClass && IsWindowVisible(hwnd)) deck_ = hwnd;
                // Painted: the exit button's face and a state icon cell are on screen.
                return deck_ && Faces()[kExitButton] == '+' && StateIcon() >= 0;
            },
            timeoutMs))
        return std::string();
    DWORD code = 0;
    GetExitCodeProcess(process_.hProcess, &code);
    return std::string(kProgram) + " did not come up in " + std::to_string(timeoutMs) +
           " ms: " + (Running() ? "still running" : "ended with status " + std::to_string(code)) +
           ", its window " +
           (!deck_               ? "never shown"
            : Answers(kAnswerMs) ? "answering"
                                 : "not answering") +
           ", faces " + Faces();
}

bool DeckProcess::Running() const {
    return process_.hProcess && WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT;
}

bool DeckProcess::Answers(DWORD timeoutMs) const {
    DWORD_PTR result = 0;
    return deck_ && SendMessageTimeoutA(deck_, WM_NULL, 0, 0, SMTO_NORMAL, timeoutMs, &result);
}

bool DeckProcess::Quit(DWORD* exitCode) {
    if (!ClickButton(kExitButton) || !WaitUntil([&] { return !Running(); }, kExitMs)) return false;
    return GetExitCodeProcess(process_.hProcess, exitCode) != 0;
}

bool DeckProcess::Pointer(const char* format, ...) {
    char args[256];
    va_list list;
    va_start(list, format);
    std::vsnprintf(args, sizeof args, format, list);
    va_end(list);
    DWORD apart = GetDoubleClickTime() + kClickGapMs;
    if (lastPointer_) WaitUntil([&] { return GetTickCount() - lastPointer_ > apart; }, apart);
    bool done = td_test::RunLinuxCommand(std::string("xdotool ") + args, kPointerMs) == 0;
    lastPointer_ = GetTickCount();
    return done;
}

bool DeckProcess::Click(int deckX, int deckY, int clicks) {
    return Pointer("mousemove %d %d click --repeat %d --delay 60 1", kDeckScreenX + deckX * scale_,
                   kDeckScreenY + deckY * scale_, clicks);
}

bool DeckProcess::ClickButton(int id, int clicks) {
    return Click(kButtons[id].x + kButtonSize / 2, kButtons[id].y + kButtonSize / 2, clicks);
}

bool DeckProcess::Drag(int deckX, int deckY, int toDeckX, int toDeckY) {
    int x = kDeckScreenX + deckX * scale_, y = kDeckScreenY + deckY * scale_;
    int toX = kDeckScreenX + toDeckX * scale_, toY = kDeckScreenY + toDeckY * scale_;
    return Pointer("mousemove %d %d mousedown 1 sleep 0.2 mousemove %d %d sleep 0.1 "
                   "mousemove %d %d sleep 0.2 mouseup 1",
                   x, y, (x + toX) / 2, (y + toY) / 2, toX, toY);
}

bool DeckProcess::DragSlider(int sliderId, int row) {
    int x = SliderDeckX(sliderId) + kSliderWidth / 2;
    int start = row > kSliderHeight / 2 ? row - kSliderPressOffset : row + kSliderPressOffset;
    return Drag(x, kSliderDeckY + start, x, kSliderDeckY + row);
}

bool DeckProcess::Keys(const std::string& keys) {
    bool typed = td_test::RunLinuxCommand("xdotool key --delay 100 " + keys, kPointerMs) == 0;
    return typed && Answers();
}

bool DeckProcess::Hover(int id) {
    return HoverAt(kButtons[id].x + kButtonSize / 2, kButtons[id].y + kButtonSize / 2);
}

bool DeckProcess::HoverAt(int x, int y) {
    // Two moves: the first brings the pointer over the deck, the second rests it.
    return Pointer("mousemove %d %d sleep 0.1 mousemove %d %d", kDeckScreenX + (x - 3) * scale_,
                   kDeckScreenY + (y - 3) * scale_, kDeckScreenX + x * scale_,
                   kDeckScreenY + y * scale_);
}

HWND DeckProcess::Tooltip() const {
    for (HWND hwnd : WindowsOf(ProcessId()))
        if (ClassOf(hwnd) == "tooltips_class32" && IsWindowVisible(hwnd)) return hwnd;
    return nullptr;
}

std::vector<COLORREF> DeckProcess::Shot() const {
    return GrabDeck(scale_).pixels;
}

std::string DeckProcess::Faces() const {
    DeckGrab grab = GrabDeck(scale_);
    std::string faces;
    for (const ButtonSpot& b : kButtons) {
        const char shown[] = "+*-"; // the bitmap's cells from the top: normal, pressed, disabled
        char face = '?';
        for (int cell : {0, 2, 1})
            if (face == '?' && ShowsCell(grab, b.x, b.y, b.bitmap, 0, cell * kButtonSize,
                                         kButtonSize, kButtonSize))
                face = shown[cell];
        faces += face;
    }
    return faces;
}

::testing::AssertionResult DeckProcess::WaitForFaces(const char* faces, DWORD timeoutMs) const {
    return WaitForAnyFaces({faces}, timeoutMs);
}

::testing::AssertionResult DeckProcess::WaitForAnyFaces(std::initializer_list<const char*> faces,
                                                        DWORD timeoutMs) const {
    std::string shown;
    bool found = WaitUntil(
        [&] {
            shown = Faces();
            for (const char* f : faces)
                if (shown == f) return true;
            return false;
        },
        timeoutMs);
    if (found) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << "the buttons show " << shown << ", not " << *faces.begin();
}

bool DeckProcess::ShowsSkin(int deckX, int deckY, const char* bitmap, int cellX, int cellY,
                            int width, int height) const {
    return ShowsCell(GrabDeck(scale_), deckX, deckY, bitmap, cellX, cellY, width, height);
}

std::string DeckProcess::TrackLine() const {
    DeckGrab grab = GrabDeck(scale_);
    std::string line;
    for (int i = 0; i < kLineChars; i++) {
        char c = '?';
        for (int k = 0; k < kMapChars && c == '?'; k++)
            if (ShowsCell(grab, kStatusDeckX + kLineX + i * kMapCell, kStatusDeckY + kLineY,
                          "IDL_MAP", k % kMapColumns * kMapCell, k / kMapColumns * kMapCellHeight,
                          kMapCell, kMapCellHeight))
                c = char(' ' + k);
        line += c;
    }
    return line;
}

std::string DeckProcess::TrackNumber() const {
    return ReadDigits(GrabDeck(scale_), kTrackNumberX,
                      sizeof kTrackNumberX / sizeof kTrackNumberX[0]);
}

std::string DeckProcess::Time() const {
    return ReadDigits(GrabDeck(scale_), kTimeX, sizeof kTimeX / sizeof kTimeX[0]);
}

int DeckProcess::StateIcon() const {
    return CellShown(GrabDeck(scale_), kIconX, kIconY, "ID_CUR_MODE", kIconCells, kIconWidth,
                     kIconHeight);
}

int DeckProcess::LitMode() const {
    DeckGrab grab = GrabDeck(scale_);
    int lit = -1;
    for (int m = 0; m < kModes; m++) {
        int cell =
            CellShown(grab, kModeX, kModeY[m], "IDL_MODE", 2 * kModes, kModeWidth, kModeHeight);
        if (cell == m)
            lit = lit == -1 ? m : -2;
        else if (cell != m + kModeUnlit)
            return -2;
    }
    return lit;
}

int DeckProcess::SliderThumbTop(int sliderId) const {
    DeckGrab grab = GrabDeck(scale_);
    for (int top = 0; top + kThumbHeight <= kSliderHeight; top++)
        if (ShowsCell(grab, SliderDeckX(sliderId) + kThumbLeft, kSliderDeckY + top, "ID_MIX_CUR", 0,
                      0, kThumbWidth, kThumbHeight))
            return top;
    return kNoThumb;
}

std::vector<HWND> DeckProcess::Dialogs() const {
    std::vector<HWND> dialogs;
    for (HWND hwnd : WindowsOf(ProcessId()))
        if (ClassOf(hwnd) == kDialogClass && IsWindowVisible(hwnd)) dialogs.push_back(hwnd);
    return dialogs;
}

HWND DeckProcess::Dialog(const std::string& title) const {
    for (HWND hwnd : Dialogs())
        if (td_test::WindowText(hwnd).compare(0, title.size(), title) == 0) return hwnd;
    return nullptr;
}

std::string SentText(HWND hwnd) {
    constexpr UINT kAnswerMs = 2000;
    char text[512] = {};
    SendMessageTimeoutA(hwnd, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text), SMTO_NORMAL,
                        kAnswerMs, nullptr);
    return text;
}

std::string DeckProcess::ProposedName(const std::string& title) {
    HWND dialog = nullptr;
    if (!WaitUntil([&] { return (dialog = Dialog(title)) != nullptr; }, kDialogMs))
        return "(no dialog)";
    return SentText(NameEdit(dialog));
}

bool DeckProcess::ChooseFile(const std::string& title, const std::string& path) {
    HWND dialog = nullptr;
    if (!WaitUntil([&] { return (dialog = Dialog(title)) != nullptr; }, kDialogMs)) return false;
    int button = IDCANCEL;
    if (!path.empty()) {
        HWND edit = NameEdit(dialog);
        if (!edit) return false;
        std::wstring typed = td_test::Wide(path);
        SendMessageW(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(typed.c_str()));
        button = IDOK;
    }
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog, button)));
    return Closed(dialog);
}

HWND DeckProcess::MessageBoxShown() const {
    HINSTANCE program = reinterpret_cast<HINSTANCE>(GetWindowLongPtrA(deck_, GWLP_HINSTANCE));
    for (HWND hwnd : Dialogs())
        if (td_test::IsMessageBox(hwnd, program)) return hwnd;
    return nullptr;
}

bool DeckProcess::TakeMessageBox(Box* box, DWORD timeoutMs) {
    HWND found = nullptr;
    if (!WaitUntil([&] { return (found = MessageBoxShown()) != nullptr; }, timeoutMs)) return false;
    box->caption = td_test::WindowText(found);
    box->text = td_test::MessageBoxText(found);
    PostMessageA(found, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    return Closed(found);
}

} // namespace deck_test
