// WNASPI32.DLL: a virtual CD drive behind the ASPI for Win32 interface. The
// devices, their discs and their faults come from the INI file named by
// TUNEDECK_VDRIVE, re-read whenever it changes; commands complete on a thread
// of the library's own, one after another, as a real adapter's would.
#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "cd/aspi.h"
#include "vdrive/cue_image.h"
#include "vdrive/drive_config.h"
#include "vdrive/scsi_target.h"
#include "vdrive/win_raii.h"

using namespace vdrive;

namespace {

constexpr char kConfigVariable[] = "TUNEDECK_VDRIVE";
constexpr int kLogLineChars = 640;
constexpr int kNotesChars = 8192;
constexpr int kCdbMax = 16;
constexpr int kHexByteChars = 3; // "BE "
constexpr BYTE kHostScsiId = 7;
constexpr BYTE kTargetsPerAdapter = kMaxTargetId + 1;
constexpr DWORD kMaxTransferBytes = 0x00100000;
constexpr char kManagerId[] = "ASPI for WIN32";
constexpr char kAdapterName[] = "VIRTUAL CD";
constexpr size_t kUniqueMaxTargetsAt = 3, kUniqueMaxTransferAt = 4;
constexpr BYTE kPeripheralTypeMask = 0x1F;
constexpr char kLineEnd[] = "\r\n";

using PostRoutine = void(__cdecl*)(SRB_ExecSCSICmd*);

struct Device {
    bool used;
    BYTE adapter, target;
    DWORD delayMs, hangMs;
    ScsiTarget scsi;
    CueImage* image;
    char imagePath[MAX_PATH];
};

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

struct Drive {
    CRITICAL_SECTION lock;
    HANDLE wake; // auto-reset: a command was queued or aborted
    HANDLE worker;
    Pending* queue;

    // which file the configuration in force came from, and when it was written
    bool stamped;
    char iniPath[MAX_PATH];
    FILETIME iniTime;
    ULONGLONG iniSize;

    bool configured;
    BYTE supportStatus;
    int adapters;
    SendResult sendResult;
    char logPath[MAX_PATH];
    Device devices[kMaxDevices];
};

Drive g_drive;

class Locked {
  public:
    Locked() { EnterCriticalSection(&g_drive.lock); }
    ~Locked() { LeaveCriticalSection(&g_drive.lock); }
    Locked(const Locked&) = delete;
    Locked& operator=(const Locked&) = delete;
};

void WriteLog(const char* line) {
    char text[kLogLineChars + sizeof kLineEnd];
    int n = std::snprintf(text, sizeof text, "%s%s", line, kLineEnd);
    if (n < 0) return;
    if (n >= int(sizeof text)) n = int(sizeof text) - 1;
    if (!g_drive.logPath[0]) {
        OutputDebugStringA(text);
        return;
    }
    FileHandle f(CreateFileA(g_drive.logPath, FILE_APPEND_DATA, kShareAll, nullptr, OPEN_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!f.Valid()) return;
    DWORD put;
    SetFilePointer(f.Get(), 0, nullptr, FILE_END);
    WriteFile(f.Get(), text, DWORD(n), &put, nullptr);
}

void Logf(const char* format, ...) {
    char line[kLogLineChars];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    WriteLog(line);
}

void LogExec(const SRB_ExecSCSICmd* s, BYTE status, BYTE haStat, BYTE targStat,
             const ScsiSense& sense) {
    char cdb[kCdbMax * kHexByteChars + 1] = "";
    int len = s->SRB_CDBLen < kCdbMax ? s->SRB_CDBLen : kCdbMax;
    for (int i = 0; i < len; i++)
        std::snprintf(cdb + i * kHexByteChars, sizeof cdb - size_t(i) * kHexByteChars, "%02X ",
                      s->CDBByte[i]);
    if (len) cdb[len * kHexByteChars - 1] = 0; // no space after the last byte
    Logf("ha=%u target=%u lun=%u flags=%02X buflen=%lu cdb=%s status=%02X hastat=%02X "
         "targstat=%02X sense=%X/%02X/%02X",
         s->SRB_HaId, s->SRB_Target, s->SRB_Lun, s->SRB_Flags, (unsigned long)s->SRB_BufLen, cdb,
         status, haStat, targStat, sense.key, sense.asc, sense.ascq);
}

Device* FindDevice(BYTE adapter, BYTE target) {
    for (Device& d : g_drive.devices)
        if (d.used && d.adapter == adapter && d.target == target) return &d;
    return nullptr;
}

void ReleaseDevice(Device& d) {
    d.scsi.SetMedium(nullptr, nullptr);
    delete d.image;
    d.image = nullptr;
    d.imagePath[0] = 0;
    d.used = false;
}

void Unconfigure() {
    for (Device& d : g_drive.devices)
        if (d.used) ReleaseDevice(d);
    g_drive.configured = false;
    g_drive.adapters = 0;
    g_drive.sendResult = SendResult::Pending;
    g_drive.logPath[0] = 0;
}

// The keys hold afresh: a disc counts as inserted when its path changed or the
// tray closed over it; an unchanged image is not read again.
void ApplyDevice(Device& d, const DeviceConfig& c) {
    d.delayMs = c.delayMs;
    d.hangMs = c.hangMs;
    d.scsi.SetDeviceType(c.type);
    d.scsi.SetUnitAttention(c.unitAttention);
    d.scsi.SetReadErrors(c.readErrors, c.readErrorCount);

    bool wasReady = d.scsi.Ready();
    bool closing = d.scsi.TrayOpen() && !c.trayOpen;
    bool reload = lstrcmpiA(d.imagePath, c.image) != 0 || !d.image || closing;
    if (reload) {
        d.scsi.SetMedium(nullptr, nullptr);
        delete d.image;
        d.image = nullptr;
        lstrcpynA(d.imagePath, c.image, MAX_PATH);
        if (c.image[0]) {
            char error[kImageErrorChars];
            d.image = CueImage::Load(c.image, error, sizeof error);
            if (!d.image) Logf("image %s: %s", c.image, error);
        }
        if (d.image) d.scsi.SetMedium(&d.image->Layout(), d.image);
    }
    d.scsi.SetTray(c.trayOpen);
    if (d.scsi.Ready() && (!wasReady || reload)) d.scsi.NoteMediumInserted();
}

struct Notes {
    char text[kNotesChars];
    size_t used;
};

void CollectNote(void* ctx, const char* line) {
    Notes* notes = static_cast<Notes*>(ctx);
    size_t n = std::strlen(line);
    if (notes->used + n + 2 > sizeof notes->text) return;
    std::memcpy(notes->text + notes->used, line, n);
    notes->used += n;
    notes->text[notes->used++] = '\n';
    notes->text[notes->used] = 0;
}

void Apply(const DriveConfig& cfg, const Notes& notes) {
    g_drive.configured = true;
    g_drive.supportStatus = cfg.supportStatus;
    g_drive.adapters = cfg.adapters;
    g_drive.sendResult = cfg.sendResult;
    lstrcpynA(g_drive.logPath, cfg.log, MAX_PATH);
    for (const char* p = notes.text; *p;) {
        const char* end = std::strchr(p, '\n');
        Logf("ini %s %.*s", g_drive.iniPath, int(end - p), p);
        p = end + 1;
    }

    for (Device& d : g_drive.devices) {
        bool kept = false;
        for (int i = 0; i < cfg.deviceCount && d.used && !kept; i++)
            kept = cfg.devices[i].adapter == d.adapter && cfg.devices[i].target == d.target;
        if (d.used && !kept) ReleaseDevice(d);
    }
    for (int i = 0; i < cfg.deviceCount; i++) {
        const DeviceConfig& c = cfg.devices[i];
        Device* d = FindDevice(c.adapter, c.target);
        for (int k = 0; !d && k < kMaxDevices; k++) {
            Device& slot = g_drive.devices[k];
            if (slot.used) continue;
            slot.scsi = ScsiTarget();
            slot.used = true;
            slot.adapter = c.adapter;
            slot.target = c.target;
            d = &slot;
        }
        if (d) ApplyDevice(*d, c);
    }
}

// Takes up the INI file when it is new or has changed; the lock is held.
void Refresh() {
    char path[MAX_PATH];
    DWORD n = GetEnvironmentVariableA(kConfigVariable, path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) path[0] = 0;
    WIN32_FILE_ATTRIBUTE_DATA a = {};
    bool exists = path[0] && GetFileAttributesExA(path, GetFileExInfoStandard, &a) &&
                  !(a.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
    ULONGLONG size = ULONGLONG(a.nFileSizeHigh) << 32 | a.nFileSizeLow;
    if (g_drive.stamped && lstrcmpiA(path, g_drive.iniPath) == 0 && size == g_drive.iniSize &&
        CompareFileTime(&a.ftLastWriteTime, &g_drive.iniTime) == 0)
        return;
    g_drive.stamped = true;
    lstrcpynA(g_drive.iniPath, path, MAX_PATH);
    g_drive.iniTime = a.ftLastWriteTime;
    g_drive.iniSize = size;
    if (!exists) {
        if (path[0]) Logf("vdrive: %s names no file, so there are no adapters", kConfigVariable);
        Unconfigure();
        return;
    }
    HeapBlock cfgBlock(sizeof(DriveConfig));
    HeapBlock notesBlock(sizeof(Notes));
    DriveConfig* cfg = cfgBlock.As<DriveConfig>();
    Notes* notes = notesBlock.As<Notes>();
    if (notes) {
        notes->used = 0;
        notes->text[0] = 0;
    }
    if (!cfg || !notes || !LoadDriveConfig(path, cfg, CollectNote, notes)) {
        g_drive.stamped = false; // keep what holds and try again at the next call
        return;
    }
    Apply(*cfg, *notes);
}

DWORD WINAPI Worker(void*);

// The worker keeps the library loaded for as long as the process runs: a
// command may still be queued when the caller frees the library.
bool StartWorker() {
    if (g_drive.worker) return true;
    if (!g_drive.wake) g_drive.wake = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    HMODULE self;
    if (!g_drive.wake || !GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                                             reinterpret_cast<LPCSTR>(&Worker), &self))
        return false;
    g_drive.worker = CreateThread(nullptr, 0, Worker, nullptr, 0, nullptr);
    if (!g_drive.worker) FreeLibrary(self);
    return g_drive.worker != nullptr;
}

void Complete(Pending* p) {
    SRB_ExecSCSICmd* s = p->srb;
    BYTE status, haStat = HASTAT_OK, targStat = STATUS_GOOD;
    ScsiSense sense = {};
    {
        Locked hold;
        Refresh();
        Device* d = FindDevice(s->SRB_HaId, s->SRB_Target);
        if (p->aborted) {
            status = SS_ABORTED;
        } else if (!d || s->SRB_Lun != 0) {
            status = SS_NO_DEVICE;
        } else {
            ScsiResult r;
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
        LogExec(s, status, haStat, targStat, sense);
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
            Pending* head = g_drive.queue;
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
                    g_drive.queue = head->next;
                } else {
                    wait = DWORD(left);
                }
            }
        }
        if (!done) {
            WaitForSingleObject(g_drive.wake, wait);
            continue;
        }
        Complete(done);
        HeapFree(GetProcessHeap(), 0, done);
    }
}

DWORD Refuse(SRB_ExecSCSICmd* s, BYTE status) {
    s->SRB_Status = status;
    LogExec(s, status, HASTAT_OK, STATUS_GOOD, ScsiSense());
    return status;
}

DWORD ExecScsiCmd(SRB_ExecSCSICmd* s) {
    if (s->SRB_HaId >= g_drive.adapters) return Refuse(s, SS_INVALID_HA);
    switch (g_drive.sendResult) {
        case SendResult::Pending: break;
        case SendResult::Comp: return Refuse(s, SS_COMP);
        case SendResult::Error: return Refuse(s, SS_ERR);
        case SendResult::Invalid: return Refuse(s, SS_INVALID_SRB);
    }
    if (s->SRB_CDBLen == 0 || s->SRB_CDBLen > kCdbMax || (s->SRB_BufLen && !s->SRB_BufPointer))
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
    Pending** tail = &g_drive.queue;
    while (*tail) tail = &(*tail)->next;
    *tail = p;
    SetEvent(g_drive.wake);
    return SS_PENDING;
}

DWORD HaInquiry(SRB_HAInquiry* s) {
    s->HA_Count = BYTE(g_drive.adapters);
    BYTE status = SS_COMP;
    if (s->SRB_HaId >= g_drive.adapters) {
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
    if (s->SRB_HaId >= g_drive.adapters)
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
    if (s->SRB_HaId >= g_drive.adapters) {
        status = SS_INVALID_HA;
    } else {
        for (Pending** pp = &g_drive.queue; *pp && !found; pp = &(*pp)->next) {
            Pending* p = *pp;
            if (p->srb != s->SRB_ToAbort || p->aborted) continue;
            found = true;
            p->aborted = true;
            *pp = p->next;
            p->next = g_drive.queue;
            g_drive.queue = p;
        }
        if (found) SetEvent(g_drive.wake);
    }
    s->SRB_Status = status;
    Logf("abort ha=%u found=%d status=%02X", s->SRB_HaId, found ? 1 : 0, status);
    return status;
}

} // namespace

extern "C" DWORD __cdecl GetASPI32SupportInfo() {
    Locked hold;
    Refresh();
    if (!g_drive.configured) return MAKEWORD(0, SS_NO_ADAPTERS);
    return MAKEWORD(BYTE(g_drive.adapters), g_drive.supportStatus);
}

extern "C" DWORD __cdecl SendASPI32Command(void* srb) {
    if (!srb) return SS_INVALID_SRB;
    Locked hold;
    Refresh();
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
        InitializeCriticalSection(&g_drive.lock);
    } else if (reason == DLL_PROCESS_DETACH && !reserved) {
        // Only reached when no command was ever queued: the worker pins the library.
        Unconfigure();
        if (g_drive.wake) CloseHandle(g_drive.wake);
        DeleteCriticalSection(&g_drive.lock);
    }
    return TRUE;
}
