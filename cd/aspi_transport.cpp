#include "cd/aspi_transport.h"

#include "cd/passthrough_transport.h"

#include <cstring>

namespace {

constexpr DWORD kStatusPollLimit = 0xFFFFFF;
constexpr char kAspiLibrary[] = "WNASPI32.DLL";
constexpr char kDoneEventName[] = "ASPIDoneEvent";

GetASPI32SupportInfoFn g_supportInfo;
SendASPI32CommandFn g_sendCommand;

bool LoadAspi() {
    static bool tried;
    if (!tried) {
        tried = true;
        HMODULE aspi = LoadLibraryA(kAspiLibrary);
        if (aspi) {
            g_supportInfo = reinterpret_cast<GetASPI32SupportInfoFn>(
                reinterpret_cast<void*>(GetProcAddress(aspi, MAKEINTRESOURCEA(1))));
            g_sendCommand = reinterpret_cast<SendASPI32CommandFn>(
                reinterpret_cast<void*>(GetProcAddress(aspi, MAKEINTRESOURCEA(2))));
        }
    }
    return g_supportInfo && g_sendCommand;
}

// The copy of a block that ASPI actually works on, with its own data buffer and
// event. It is reused from command to command; one that timed out is set aside
// until ASPI completes it, and only then freed, since ASPI may still write it.
struct InFlight {
    SRB_ExecSCSICmd srb;
    BYTE* data;
    DWORD capacity;
    HANDLE event;
    InFlight* next;
};

InFlight* g_spare;     // ready for the next command
InFlight* g_abandoned; // timed out, still owned by ASPI
HANDLE g_eventSlot;    // the current command's completion event, if any

BYTE ReadStatus(const InFlight* f) {
    return *static_cast<volatile const BYTE*>(&f->srb.SRB_Status);
}

void FreeInFlight(InFlight* f) {
    if (f->event) CloseHandle(f->event);
    HeapFree(GetProcessHeap(), 0, f->data);
    HeapFree(GetProcessHeap(), 0, f);
}

void ReapAbandoned() {
    InFlight** link = &g_abandoned;
    while (*link) {
        InFlight* f = *link;
        if (ReadStatus(f) != SS_PENDING) {
            *link = f->next;
            FreeInFlight(f);
        } else {
            link = &f->next;
        }
    }
}

InFlight* TakeInFlight(DWORD dataBytes) {
    InFlight* f = g_spare;
    if (!f) {
        f = static_cast<InFlight*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof *f));
        if (!f) return nullptr;
    }
    g_spare = nullptr;
    if (dataBytes > f->capacity) {
        BYTE* grown =
            static_cast<BYTE*>(f->data ? HeapReAlloc(GetProcessHeap(), 0, f->data, dataBytes)
                                       : HeapAlloc(GetProcessHeap(), 0, dataBytes));
        if (!grown) {
            g_spare = f;
            return nullptr;
        }
        f->data = grown;
        f->capacity = dataBytes;
    }
    return f;
}

// Waits for the status byte to leave SS_PENDING. The event may be shared with a
// command that timed out earlier (same name), so a wake-up alone proves nothing.
void WaitForCompletion(InFlight* f, HANDLE event) {
    if (event) {
        DWORD start = GetTickCount();
        for (;;) {
            DWORD elapsed = GetTickCount() - start;
            if (ReadStatus(f) != SS_PENDING || elapsed >= kSrbTimeoutMs) break;
            WaitForSingleObject(event, kSrbTimeoutMs - elapsed);
            if (ReadStatus(f) == SS_PENDING) ResetEvent(event);
        }
        return;
    }
    for (DWORD i = 0; i < kStatusPollLimit && ReadStatus(f) == SS_PENDING; i++) {
    }
}

void CopyResults(SRB_ExecSCSICmd* block, const InFlight* f) {
    MemoryBarrier(); // ASPI wrote the results before the status we saw
    block->SRB_HaStat = f->srb.SRB_HaStat;
    block->SRB_TargStat = f->srb.SRB_TargStat;
    memcpy(block->SenseArea, f->srb.SenseArea, sizeof block->SenseArea);
    if (block->SRB_BufLen && block->SRB_BufPointer)
        memcpy(block->SRB_BufPointer, f->data, block->SRB_BufLen);
    block->SRB_Status = f->srb.SRB_Status;
}

} // namespace

void __cdecl SrbPostRoutine(SRB_ExecSCSICmd*) {
    if (g_eventSlot) SetEvent(g_eventSlot);
}

bool RunSrb(SRB_ExecSCSICmd* block) {
    if (PassThroughSelected()) return PassThroughRunSrb(block);
    block->SRB_Status = SS_PENDING;
    if (!LoadAspi()) return false;
    ReapAbandoned();
    InFlight* f = TakeInFlight(block->SRB_BufLen);
    if (!f) return false;

    if (!g_eventSlot) {
        g_eventSlot = CreateEventA(nullptr, TRUE, FALSE, kDoneEventName);
        // Still open for a command that timed out: it may be signalled already.
        if (g_eventSlot && GetLastError() == ERROR_ALREADY_EXISTS) ResetEvent(g_eventSlot);
    }
    if (g_eventSlot) block->SRB_PostProc = g_eventSlot;

    f->srb = *block;
    f->srb.SRB_BufPointer = block->SRB_BufLen ? f->data : nullptr;
    if (block->SRB_BufLen && block->SRB_BufPointer)
        memcpy(f->data, block->SRB_BufPointer, block->SRB_BufLen);

    if (g_sendCommand(&f->srb) != SS_PENDING) {
        // Refused at once (even "done at once" is not a completion we waited
        // for): the event stays in the slot for the next command.
        g_spare = f;
        return false;
    }

    HANDLE event = g_eventSlot;
    g_eventSlot = nullptr;
    WaitForCompletion(f, event);
    if (ReadStatus(f) == SS_PENDING) {
        // ASPI still owns the copy, its buffer and its event.
        f->event = event;
        f->next = g_abandoned;
        g_abandoned = f;
        return false;
    }
    if (event) {
        ResetEvent(event);
        CloseHandle(event);
    }
    CopyResults(block, f);
    g_spare = f;
    return block->SRB_Status == SS_COMP;
}

int GetHostAdapterCount() {
    if (PassThroughSelected()) return PassThroughAdapterCount();
    if (!LoadAspi()) return 0;
    DWORD info = g_supportInfo();
    int count = LOBYTE(LOWORD(info));
    return count != 0 && HIBYTE(LOWORD(info)) == SS_COMP ? count : 0;
}
