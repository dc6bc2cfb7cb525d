#include "process_counters.h"

#include <psapi.h>
#include <winternl.h>

#include <cstdio>
#include <vector>

namespace deck_test {

namespace {

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

#ifdef _WIN64
constexpr size_t kPebGdiTableOffset = 0xF8;
#else
constexpr size_t kPebGdiTableOffset = 0x94;
#endif

bool ReadRemote(HANDLE process, const void* at, void* into, size_t bytes) {
    SIZE_T got = 0;
    return ReadProcessMemory(process, at, into, bytes, &got) && got == bytes;
}

BOOL CALLBACK CountChild(HWND, LPARAM count) {
    ++*reinterpret_cast<int*>(count);
    return TRUE;
}

struct WindowSearch {
    DWORD processId;
    int count;
};

BOOL CALLBACK CountTopLevel(HWND hwnd, LPARAM param) {
    auto* search = reinterpret_cast<WindowSearch*>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    if (pid != search->processId) return TRUE;
    search->count++;
    EnumChildWindows(hwnd, CountChild, reinterpret_cast<LPARAM>(&search->count));
    return TRUE;
}

} // namespace

int GdiObjectCount(HANDLE process) {
    PROCESS_BASIC_INFORMATION basic = {};
    ULONG size = 0;
    if (NtQueryInformationProcess(process, ProcessBasicInformation, &basic, sizeof basic, &size) !=
            0 ||
        !basic.PebBaseAddress)
        return -1;
    void* table = nullptr;
    if (!ReadRemote(process,
                    reinterpret_cast<const BYTE*>(basic.PebBaseAddress) + kPebGdiTableOffset,
                    &table, sizeof table) ||
        !table)
        return -1;
    std::vector<GdiHandleEntry> entries(kMaxGdiHandles);
    if (!ReadRemote(process, table, entries.data(), entries.size() * sizeof entries[0])) return -1;
    int live = 0;
    for (const GdiHandleEntry& e : entries) live += e.type != 0;
    return live;
}

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

int WindowCount(DWORD processId) {
    WindowSearch search = {processId, 0};
    EnumWindows(CountTopLevel, reinterpret_cast<LPARAM>(&search));
    return search.count;
}

ProcessCounters ReadCounters(HANDLE process, DWORD processId) {
    ProcessCounters c;
    c.gdiObjects = GdiObjectCount(process);
    c.windows = WindowCount(processId);
    c.privateBytes = PrivateCommit(process);
    PROCESS_MEMORY_COUNTERS memory = {};
    memory.cb = sizeof memory;
    if (GetProcessMemoryInfo(process, &memory, sizeof memory)) c.workingSet = memory.WorkingSetSize;
    return c;
}

std::string Describe(const ProcessCounters& c) {
    char text[160];
    std::snprintf(text, sizeof text,
                  "GDI objects %d, windows %d, private %zu KiB, working set %zu KiB", c.gdiObjects,
                  c.windows, c.privateBytes / 1024, c.workingSet / 1024);
    return text;
}

} // namespace deck_test
