// The baseline for start-up, memory and size: the least a Win32 window program
// does. It registers a class, creates one 300x80 popup where the deck sits,
// paints it from stock objects and runs a message loop until it is closed.
#include <windows.h>

namespace {

constexpr char kMinimalClass[] = "TunedeckBenchMinimalWindow";
constexpr int kX = 10;
constexpr int kY = 10;
constexpr int kWidth = 300;
constexpr int kHeight = 80;
constexpr int kInset = 8;

void OnPaint(HWND hwnd) {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(hwnd, &ps);
    RECT face;
    GetClientRect(hwnd, &face);
    FillRect(dc, &face, static_cast<HBRUSH>(GetStockObject(DKGRAY_BRUSH)));
    InflateRect(&face, -kInset, -kInset);
    FillRect(dc, &face, static_cast<HBRUSH>(GetStockObject(LTGRAY_BRUSH)));
    EndPaint(hwnd, &ps);
}

LRESULT CALLBACK MinimalProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
        case WM_PAINT: OnPaint(hwnd); return 0;
        case WM_DESTROY: PostQuitMessage(0); return 0;
    }
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}

} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int show) {
    WNDCLASSA wc = {};
    wc.lpfnWndProc = MinimalProc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    wc.lpszClassName = kMinimalClass;
    if (!RegisterClassA(&wc)) return 1;
    HWND hwnd = CreateWindowExA(0, kMinimalClass, kMinimalClass, WS_POPUP | WS_VISIBLE | WS_BORDER,
                                kX, kY, kWidth, kHeight, nullptr, nullptr, instance, nullptr);
    if (!hwnd) return 1;
    ShowWindow(hwnd, show);
    UpdateWindow(hwnd);
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return static_cast<int>(msg.wParam);
}
