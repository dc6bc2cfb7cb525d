// The program: registers the window classes, builds the deck and its children
// in their order, and runs the message loop. It takes no options.
#include "app/deck.h"
#include "app/status_display.h"
#include "app/volume.h"
#include "audio/wave_streamer.h"
#include "controls/gauge.h"
#include "controls/skin.h"
#include "controls/slider.h"

#include <cstdlib>
#include <ctime>
#include <new>

namespace {

constexpr int kNoDeckExitCode = 1;
constexpr char kKernel[] = "kernel32.dll";
using SetDllDirectoryFn = BOOL(WINAPI*)(LPCSTR);

// WNASPI32.DLL is loaded by name: a DLL of that name in the folder the program
// is started from must not run inside it. An empty DLL directory takes the
// current folder out of the search; the program's folder and the system's
// stay. Systems before XP SP1 lack the call and keep their search.
void KeepCurrentFolderOutOfDllSearch() {
    auto setDllDirectory = reinterpret_cast<SetDllDirectoryFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA(kKernel), "SetDllDirectoryA")));
    if (setDllDirectory) setDllDirectory("");
}

// The sliders live as long as the process.
HWND CreateSlider(HINSTANCE instance, HWND deck, int id, int x, const char* name,
                  VScrollControl** slider) {
    *slider = new (std::nothrow) VScrollControl(instance);
    if (!*slider) return nullptr;
    (*slider)->self = *slider;
    RECT r = ScaledChildRect(x, kSliderY, kSliderWidth, kSliderHeight, SkinScale());
    HWND created = (*slider)->Create(deck, id, r.left, r.top);
    if (created) SetWindowTextA(created, name);
    return created;
}

void SetSliderRange(HWND slider) {
    SendMessageA(slider, SCROLL_SETMIN, kSliderRangeMin, 0);
    SendMessageA(slider, SCROLL_SETMAX, kSliderRangeMax, 0);
}

int RunMessageLoop(HWND deck) {
    MSG msg = {};
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
        // A key pressed while a button of the deck has the focus is the deck's:
        // a focused button would take Space as a click of its own.
        if ((msg.message == WM_KEYDOWN || msg.message == WM_KEYUP) && IsChild(deck, msg.hwnd))
            msg.hwnd = deck;
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return static_cast<int>(msg.wParam);
}

} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR, int show) {
    // Only a 16-bit platform passes a previous instance; there it brings that deck forward.
    if (previous) {
        HWND running = FindWindowA(kDeckClass, nullptr);
        if (running) {
            BringWindowToTop(running);
            ShowWindow(running, SW_SHOWNORMAL);
            return 1;
        }
    }
    KeepCurrentFolderOutOfDllSearch();
    SetSkinModule(instance);
    if (!previous) {
        RegisterDeckClass(instance);
        WaveStreamer::RegisterNotifyClass(instance);
    }
    RegisterGaugeClass(instance);

    // The deck's creation builds the streamer, the buttons and the tick, and opens the first disc.
    HWND deck = CreateDeck(instance);
    DeckRecord* rec = DeckOf(deck);
    if (!rec) return kNoDeckExitCode;
    rec->leftSliderWnd = CreateSlider(instance, deck, kLeftSliderId, kLeftSliderX,
                                      kLeftSliderLabel.name, &rec->leftSlider);
    rec->rightSliderWnd = CreateSlider(instance, deck, kRightSliderId, kRightSliderX,
                                       kRightSliderLabel.name, &rec->rightSlider);
    rec->status = CreateStatusDisplay(deck, instance);
    // The deck painted itself before the display existed (each slider snapshots
    // it first), so the display learns the play mode here.
    ShowPlayMode(rec->status, rec->playMode);
    SetSliderRange(rec->leftSliderWnd);
    SetSliderRange(rec->rightSliderWnd);
    SendMessageA(rec->leftSliderWnd, SCROLL_SETPOS, kLeftSliderStart, 0);
    SendMessageA(rec->rightSliderWnd, SCROLL_SETPOS, kRightSliderStart, 0);
    ShowWindow(deck, show);
    UpdateWindow(deck);

    std::srand(static_cast<unsigned>(std::time(nullptr)));
    return RunMessageLoop(deck);
}
