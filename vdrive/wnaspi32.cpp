// WNASPI32.DLL: the virtual drive's ASPI door. The devices, their discs and
// their faults are the core's (device_table.h); here the request blocks, and
// commands completing on a thread of the library's own, one after another, as
// a real adapter's would.
#include <windows.h>

#include <cstring>

#include "cd/aspi.h"
#include "vdrive/device_table.h"
#include "vdrive/platform.h"

using namespace vdrive;

namespace {

constexpr BYTE kHostScsiId = 7;
constexpr BYTE kTargetsPerAdapter = kMaxTargetId + 1;
constexpr DWORD kMaxTransferBytes = 0x00100000;
constexpr char kManagerId[] = "ASPI for WIN32";
constexpr char kAdapterName[] = "VIRTUAL CD";
constexpr size_t kUniqueMaxTargetsAt = 3, kUniqueMaxTransferAt = 4;
constexpr BYTE kPeripheralTypeMask = 0x1F;

using PostRoutine = void(__cdecl*)(SRB_ExecSCSICmd*);

// A command on its way to the worker. Flags and post routine are kept from the
// moment it was sent: once the status is written the caller owns the block.
struct Pending {
    SRB_ExecSCSICmd* srb;
    BYTE flags;
    void* post;
    DWORD sentAt, delayMs, hangMs;
    bool started, aborted;
    DWORD dueAt;
    Pending* next;
};

struct Queue {
    HANDLE wake; // auto-reset: a command was queued or aborted
    HANDLE worker;
    Pending* head;
};

Queue g_queue;

void LogExec(const SRB_ExecSCSICmd* s, BYTE status, BYTE haStat, BYTE targStat,
             const ScsiSense& sense, const char* frames) {
    LogCommand({s->SRB_HaId, s->SRB_Target, s->SRB_Lun, s->SRB_Flags, s->SRB_BufLen, s->CDBByte,
                s->SRB_CDBLen, status, haStat, targStat, sense, frames});
}

DWORD WINAPI Worker(void*);

// The worker keeps the library loaded for as long as the process runs: a
// command may still be queued when the caller frees the library.
bool StartWorker() {
    if (g_queue.worker) return true;
    if (!g_queue.wake) g_queue.wake = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    HMODULE self;
    if (!g_queue.wake || !GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                                             reinterpret_cast<LPCSTR>(&Worker), &self))
        return false;
    g_queue.worker = CreateThread(nullptr, 0, Worker, nullptr, 0, nullptr);
    if (!g_queue.worker) FreeLibrary(self);
    return g_queue.worker != nullptr;
}

void Complete(Pending* p) {
    SRB_ExecSCSICmd* s = p->srb;
    BYTE status, haStat = HASTAT_OK, targStat = STATUS_GOOD;
    ScsiSense sense = {};
    ScsiResult r = {};
    {
        Locked hold;
        RefreshedTable();
        Device* d = FindDevice(s->SRB_HaId, s->SRB_Target);
        if (p->aborted) {
            status = SS_ABORTED;
        } else if (!d || s->SRB_Lun != 0) {
            status = SS_NO_DEVICE;
        } else {
            d->scsi.Execute(s->CDBByte, s->SRB_CDBLen, s->SRB_BufPointer, s->SRB_BufLen, &r);
            if (r.status == kStatusCheckCondition) {
                status = SS_ERR;
                targStat = STATUS_CHKCOND;
                sense = r.sense;
                BYTE bytes[kSenseBytes];
                FormatSense(sense, bytes);
                size_t room =
                    s->SRB_SenseLen < sizeof s->SenseArea ? s->SRB_SenseLen : sizeof s->SenseArea;
                std::memcpy(s->SenseArea, bytes, room);
            } else if (r.overrun) {
                status = SS_ERR;
                haStat = HASTAT_DO_DU;
            } else {
                status = SS_COMP;
            }
        }
        s->SRB_HaStat = haStat;
        s->SRB_TargStat = targStat;
        LogExec(s, status, haStat, targStat, sense, r.frames);
    }
    // Everything else first: a caller may be polling the status.
    MemoryBarrier();
    *reinterpret_cast<volatile BYTE*>(&s->SRB_Status) = status;
    MemoryBarrier();
    if ((p->flags & SRB_EVENT_NOTIFY) && p->post)
        SetEvent(static_cast<HANDLE>(p->post));
    else if ((p->flags & SRB_POSTING) && p->post)
        reinterpret_cast<PostRoutine>(p->post)(s);
}

DWORD WINAPI Worker(void*) {
    for (;;) {
        Pending* done = nullptr;
        DWORD wait = INFINITE;
        {
            Locked hold;
            Pending* head = g_queue.head;
            if (head) {
                DWORD now = GetTickCount();
                if (!head->started) {
                    DWORD waited = now - head->sentAt;
                    DWORD hangLeft = head->hangMs > waited ? head->hangMs - waited : 0;
                    head->started = true;
                    head->dueAt = now + (head->delayMs > hangLeft ? head->delayMs : hangLeft);
                }
                LONG left = LONG(head->dueAt - now);
                if (head->aborted || left <= 0) {
                    done = head;
                    g_queue.head = head->next;
                } else {
                    wait = DWORD(left);
                }
            }
        }
        if (!done) {
            WaitForSingleObject(g_queue.wake, wait);
            continue;
        }
        Complete(done);
        HeapFree(GetProcessHeap(), 0, done);
    }
}

DWORD Refuse(SRB_ExecSCSICmd* s, BYTE status) {
    s->SRB_Status = status;
    LogExec(s, status, HASTAT_OK, STATUS_GOOD, ScsiSense(), nullptr);
    return status;
}

DWORD ExecScsiCmd(SRB_ExecSCSICmd* s) {
    if (s->SRB_HaId >= Table().adapters) return Refuse(s, SS_INVALID_HA);
    switch (Table().sendResult) {
        case SendResult::Pending: break;
        case SendResult::Comp: return Refuse(s, SS_COMP);
        case SendResult::Error: return Refuse(s, SS_ERR);
        case SendResult::Invalid: return Refuse(s, SS_INVALID_SRB);
    }
    if (s->SRB_CDBLen == 0 || s->SRB_CDBLen > kMaxCdbBytes || (s->SRB_BufLen && !s->SRB_BufPointer))
        return Refuse(s, SS_INVALID_SRB);
    Pending* p =
        static_cast<Pending*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(Pending)));
    if (!p || !StartWorker()) {
        if (p) HeapFree(GetProcessHeap(), 0, p);
        return Refuse(s, SS_ERR);
    }
    const Device* d = FindDevice(s->SRB_HaId, s->SRB_Target);
    p->srb = s;
    p->flags = s->SRB_Flags;
    p->post = s->SRB_PostProc;
    p->sentAt = GetTickCount();
    p->delayMs = d ? d->delayMs : 0;
    p->hangMs = d ? d->hangMs : 0;
    s->SRB_Status = SS_PENDING;
    Pending** tail = &g_queue.head;
    while (*tail) tail = &(*tail)->next;
    *tail = p;
    SetEvent(g_queue.wake);
    return SS_PENDING;
}

DWORD HaInquiry(SRB_HAInquiry* s) {
    s->HA_Count = BYTE(Table().adapters);
    BYTE status = SS_COMP;
    if (s->SRB_HaId >= Table().adapters) {
        status = SS_INVALID_HA;
    } else {
        s->HA_SCSI_ID = kHostScsiId;
        std::memset(s->HA_ManagerId, ' ', sizeof s->HA_ManagerId);
        std::memcpy(s->HA_ManagerId, kManagerId, sizeof kManagerId - 1);
        std::memset(s->HA_Identifier, ' ', sizeof s->HA_Identifier);
        std::memcpy(s->HA_Identifier, kAdapterName, sizeof kAdapterName - 1);
        std::memset(s->HA_Unique, 0, sizeof s->HA_Unique);
        s->HA_Unique[kUniqueMaxTargetsAt] = kTargetsPerAdapter;
        std::memcpy(s->HA_Unique + kUniqueMaxTransferAt, &kMaxTransferBytes,
                    sizeof kMaxTransferBytes);
    }
    s->SRB_Status = status;
    Logf("ha-inquiry ha=%u count=%u status=%02X", s->SRB_HaId, s->HA_Count, status);
    return status;
}

DWORD GetDevType(SRB_GDEVBlock* s) {
    const Device* d = FindDevice(s->SRB_HaId, s->SRB_Target);
    BYTE status = SS_COMP;
    if (s->SRB_HaId >= Table().adapters)
        status = SS_INVALID_HA;
    else if (!d || s->SRB_Lun != 0)
        status = SS_NO_DEVICE;
    else
        s->SRB_DeviceType = d->scsi.DeviceType() & kPeripheralTypeMask;
    s->SRB_Status = status;
    Logf("dev-type ha=%u target=%u lun=%u status=%02X", s->SRB_HaId, s->SRB_Target, s->SRB_Lun,
         status);
    return status;
}

// A command still queued completes as aborted, ahead of the others; one that
// has already run is left as it ended.
DWORD AbortSrb(SRB_Abort* s) {
    BYTE status = SS_COMP;
    bool found = false;
    if (s->SRB_HaId >= Table().adapters) {
        status = SS_INVALID_HA;
    } else {
        for (Pending** pp = &g_queue.head; *pp && !found; pp = &(*pp)->next) {
            Pending* p = *pp;
            if (p->srb != s->SRB_ToAbort || p->aborted) continue;
            found = true;
            p->aborted = true;
            *pp = p->next;
            p->next = g_queue.head;
            g_queue.head = p;
        }
        if (found) SetEvent(g_queue.wake);
    }
    s->SRB_Status = status;
    Logf("abort ha=%u found=%d status=%02X", s->SRB_HaId, found ? 1 : 0, status);
    return status;
}

} // namespace

extern "C" DWORD __cdecl GetASPI32SupportInfo() {
    Locked hold;
    const DeviceTable& t = RefreshedTable();
    if (!t.configured) return MAKEWORD(0, SS_NO_ADAPTERS);
    return MAKEWORD(BYTE(t.adapters), t.supportStatus);
}

extern "C" DWORD __cdecl SendASPI32Command(void* srb) {
    if (!srb) return SS_INVALID_SRB;
    Locked hold;
    RefreshedTable();
    BYTE* header = static_cast<BYTE*>(srb);
    switch (header[0]) {
        case SC_HA_INQUIRY: return HaInquiry(static_cast<SRB_HAInquiry*>(srb));
        case SC_GET_DEV_TYPE: return GetDevType(static_cast<SRB_GDEVBlock*>(srb));
        case SC_EXEC_SCSI_CMD: return ExecScsiCmd(static_cast<SRB_ExecSCSICmd*>(srb));
        case SC_ABORT_SRB: return AbortSrb(static_cast<SRB_Abort*>(srb));
        default: break;
    }
    header[1] = SS_INVALID_SRB;
    Logf("srb cmd=%02X status=%02X", header[0], SS_INVALID_SRB);
    return SS_INVALID_SRB;
}

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_ATTACH) {
        DisableThreadLibraryCalls(instance);
    } else if (reason == DLL_PROCESS_DETACH && !reserved) {
        // Only reached when no command was ever queued: the worker pins the library.
        Unconfigure();
        if (g_queue.wake) CloseHandle(g_queue.wake);
    }
    return TRUE;
}
