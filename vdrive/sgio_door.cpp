// The virtual drive's second door: a Linux library that Wine's processes load
// with LD_PRELOAD, presenting the stand-in device files of
// TUNEDECK_VDRIVE_DEVICES as SCSI CD-ROM drives. Wine's own pass-through code
// (IOCTL_SCSI_PASS_THROUGH_DIRECT, IOCTL_SCSI_GET_ADDRESS) then meets the same
// devices, INI and log as WNASPI32.DLL: the wineserver opens the device file
// and hands the program the descriptor, which fstat and ioctl recognise by its
// device and inode. The n-th stand-in is the INI's n-th [device]; one with no
// device behind it answers nothing. Every other descriptor goes to the system.
#include <dlfcn.h>
#include <pthread.h>
#include <scsi/sg.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <time.h>

#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>

#include "vdrive/device_table.h"
#include "vdrive/platform.h"

using namespace vdrive;

namespace {

constexpr char kDevicesVariable[] = "TUNEDECK_VDRIVE_DEVICES";
constexpr char kDeviceSeparator = ':';
constexpr int kMaxStandIns = 26; // a drive letter each
constexpr size_t kDevicePathBytes = 1024;
constexpr unsigned kScsiCdRomMajor = 11; // Wine takes only such a block device as SCSI

// What Linux puts in and takes from an SG_IO request.
constexpr unsigned long kGetIdLun = 0x5382; // SCSI_IOCTL_GET_IDLUN
constexpr int kInterfaceScsi = 'S';
constexpr unsigned short kDidTimeOut = 0x03, kDidError = 0x07;
constexpr unsigned short kDriverSense = 0x08, kDriverTimeout = 0x06;
constexpr unsigned kDefaultTimeoutMs = 60000; // the block layer's, for a time-out of 0
constexpr unsigned kIdTargetShift = 0, kIdChannelShift = 16, kIdHostShift = 24, kIdFieldMask = 0xFF;
// Wine's IOCTL_SCSI_GET_ADDRESS reports the channel plus two as the port (and
// the host as the path): a channel two below the INI's adapter puts the device
// at that adapter, where WNASPI32.DLL has it too.
constexpr unsigned kWinePortFromChannel = 2;

// As the ASPI door logs them.
constexpr uint8_t kSrbDirIn = 0x08, kSrbDirOut = 0x10;
constexpr uint8_t kSsComp = 0x01, kSsErr = 0x04;
constexpr uint8_t kHaStatTimeout = 0x0B, kHaStatOverrun = 0x12;
constexpr long kNsPerMs = 1000000, kMsPerSecond = 1000;

using FstatFn = int (*)(int, struct stat*);
using IoctlFn = int (*)(int, unsigned long, ...);

// The C library's own functions, behind ours. The 32-bit build takes the
// 64-bit time interface, as Wine's ntdll.so does, and so its names.
#ifdef __LP64__
constexpr char kFstatName[] = "fstat", kIoctlName[] = "ioctl";
#else
constexpr char kFstatName[] = "__fstat64_time64", kIoctlName[] = "__ioctl_time64";
#endif

struct StandIn {
    dev_t device;
    ino_t inode;
};

struct StandIns {
    FstatFn fstat;
    IoctlFn ioctl;
    int count;
    StandIn files[kMaxStandIns];
    // A drive takes one command at a time: the others wait their turn.
    pthread_mutex_t busy[kMaxStandIns];
};

StandIns g_standIns;
pthread_once_t g_once = PTHREAD_ONCE_INIT;

void FindStandIns() {
    for (pthread_mutex_t& m : g_standIns.busy) pthread_mutex_init(&m, nullptr);
    g_standIns.fstat = reinterpret_cast<FstatFn>(dlsym(RTLD_NEXT, kFstatName));
    g_standIns.ioctl = reinterpret_cast<IoctlFn>(dlsym(RTLD_NEXT, kIoctlName));
    const char* list = std::getenv(kDevicesVariable);
    for (const char* p = list; p && *p && g_standIns.count < kMaxStandIns;) {
        const char* end = std::strchr(p, kDeviceSeparator);
        size_t n = end ? size_t(end - p) : std::strlen(p);
        char path[kDevicePathBytes];
        StandIn& s = g_standIns.files[g_standIns.count++];
        struct stat st;
        if (n < sizeof path) {
            std::memcpy(path, p, n);
            path[n] = 0;
            if (stat(path, &st) == 0) s = {st.st_dev, st.st_ino};
        }
        p += n + (end ? 1 : 0);
    }
}

const StandIns& Setup() {
    pthread_once(&g_once, FindStandIns);
    return g_standIns;
}

// Which stand-in a file is, from 0; -1 for any other.
int StandInOf(const struct stat& st) {
    const StandIns& s = Setup();
    for (int i = 0; i < s.count; i++)
        if (s.files[i].inode && s.files[i].device == st.st_dev && s.files[i].inode == st.st_ino)
            return i;
    return -1;
}

int StandInOfFd(int fd) {
    const StandIns& s = Setup();
    if (!s.count || !s.fstat) return -1;
    struct stat st;
    int saved = errno;
    int index = s.fstat(fd, &st) == 0 ? StandInOf(st) : -1;
    errno = saved;
    return index;
}

int Fail(int error) {
    errno = error;
    return -1;
}

void SleepMs(unsigned ms) {
    timespec left = {time_t(ms / kMsPerSecond), long(ms % kMsPerSecond) * kNsPerMs};
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

uint8_t SrbDirection(int direction) {
    if (direction == SG_DXFER_FROM_DEV || direction == SG_DXFER_TO_FROM_DEV) return kSrbDirIn;
    return direction == SG_DXFER_TO_DEV ? kSrbDirOut : 0;
}

unsigned long NowMs() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (unsigned long)(now.tv_sec) * kMsPerSecond + (unsigned long)(now.tv_nsec / kNsPerMs);
}

// How long the device still takes over a command sent `waited` ms ago that it
// starts now, or -1 with no device: as over ASPI, a hang counts from the sending.
long WaitFor(int index, unsigned long waited) {
    Locked hold;
    RefreshedTable();
    const Device* d = DeviceInOrder(index);
    if (!d) return -1;
    unsigned long hangLeft = d->hangMs > waited ? d->hangMs - waited : 0;
    return long(d->delayMs > hangLeft ? d->delayMs : hangLeft);
}

// The command ran out of time: nothing came back, as the kernel reports it.
void TimedOut(sg_io_hdr_t* h, int index) {
    h->status = 0;
    h->host_status = kDidTimeOut;
    h->driver_status = kDriverTimeout;
    h->resid = int(h->dxfer_len);
    h->info |= SG_INFO_CHECK;
    Locked hold;
    if (const Device* d = DeviceInOrder(index))
        LogCommand({d->adapter, d->target, 0, SrbDirection(h->dxfer_direction), h->dxfer_len,
                    h->cmdp, h->cmd_len, kSsErr, kHaStatTimeout, kStatusGood, ScsiSense(),
                    nullptr});
}

int Execute(sg_io_hdr_t* h, int index) {
    Locked hold;
    RefreshedTable();
    Device* d = DeviceInOrder(index);
    if (!d) return Fail(ENXIO);
    bool reads = SrbDirection(h->dxfer_direction) == kSrbDirIn;
    ScsiResult r;
    d->scsi.Execute(h->cmdp, h->cmd_len, reads ? static_cast<uint8_t*>(h->dxferp) : nullptr,
                    reads ? h->dxfer_len : 0, &r);
    h->status = r.status;
    h->masked_status = uint8_t(r.status >> 1);
    h->resid = reads ? int(h->dxfer_len - r.transferred) : 0;
    uint8_t haStat = 0;
    if (r.status == kStatusCheckCondition) {
        uint8_t sense[kSenseBytes];
        FormatSense(r.sense, sense);
        h->sb_len_wr = uint8_t(h->mx_sb_len < kSenseBytes ? h->mx_sb_len : kSenseBytes);
        if (h->sbp) std::memcpy(h->sbp, sense, h->sb_len_wr);
        h->driver_status = kDriverSense;
        h->info |= SG_INFO_CHECK;
    } else if (r.overrun) {
        h->host_status = kDidError; // the adapter cut the transfer short
        h->info |= SG_INFO_CHECK;
        haStat = kHaStatOverrun;
    }
    bool good = r.status == kStatusGood && !r.overrun;
    LogCommand({d->adapter, d->target, 0, SrbDirection(h->dxfer_direction), h->dxfer_len, h->cmdp,
                h->cmd_len, good ? kSsComp : kSsErr, haStat, r.status, r.sense, r.frames});
    return 0;
}

// Runs one command on the device; the kernel's time-out counts from when the
// device takes it up.
int RunInTurn(sg_io_hdr_t* h, int index, unsigned long sentAt) {
    long wait = WaitFor(index, NowMs() - sentAt);
    if (wait < 0) return Fail(ENXIO);
    unsigned timeout = h->timeout ? h->timeout : kDefaultTimeoutMs;
    if (static_cast<unsigned long>(wait) >= timeout) {
        SleepMs(timeout);
        TimedOut(h, index);
    } else {
        SleepMs(unsigned(wait));
        if (Execute(h, index) != 0) return -1;
    }
    h->duration = unsigned(NowMs() - sentAt);
    return 0;
}

int SgIo(sg_io_hdr_t* h, int index) {
    if (!h || h->interface_id != kInterfaceScsi) return Fail(EINVAL);
    if (h->cmd_len == 0 || h->cmd_len > kMaxCdbBytes || !h->cmdp) return Fail(EINVAL);
    if (h->dxfer_len && h->dxfer_direction != SG_DXFER_NONE && !h->dxferp) return Fail(EFAULT);
    h->status = h->masked_status = h->msg_status = h->sb_len_wr = 0;
    h->host_status = h->driver_status = 0;
    h->resid = 0;
    h->info = 0;
    unsigned long sentAt = NowMs();
    pthread_mutex_t* busy = &g_standIns.busy[index];
    pthread_mutex_lock(busy);
    int result = RunInTurn(h, index, sentAt);
    pthread_mutex_unlock(busy);
    return result;
}

// What the kernel tells of a SCSI device's place: target, LUN 0, channel, host.
int GetIdLun(int* idLun, int index) {
    Locked hold;
    RefreshedTable();
    const Device* d = DeviceInOrder(index);
    if (!d) return Fail(ENXIO);
    unsigned channel = unsigned(d->adapter - kWinePortFromChannel) & kIdFieldMask;
    idLun[0] = int(unsigned(d->target) << kIdTargetShift | channel << kIdChannelShift |
                   unsigned(d->adapter) << kIdHostShift);
    idLun[1] = d->adapter;
    return 0;
}

} // namespace

#define TD_EXPORTED __attribute__((visibility("default")))

// A stand-in is a SCSI CD-ROM block device, its minor number its place.
TD_EXPORTED int fstat(int fd, struct stat* st) noexcept {
    const StandIns& s = Setup();
    if (!s.fstat) return Fail(ENOSYS);
    int result = s.fstat(fd, st);
    int index = result == 0 ? StandInOf(*st) : -1;
    if (index >= 0) {
        st->st_mode = S_IFBLK | (st->st_mode & ~S_IFMT);
        st->st_rdev = makedev(kScsiCdRomMajor, unsigned(index));
    }
    return result;
}

TD_EXPORTED int ioctl(int fd, unsigned long request, ...) noexcept {
    va_list args;
    va_start(args, request);
    void* arg = va_arg(args, void*);
    va_end(args);
    const StandIns& s = Setup();
    int index = StandInOfFd(fd);
    if (index < 0) return s.ioctl ? s.ioctl(fd, request, arg) : Fail(ENOSYS);
    switch (request) {
        case SG_IO: return SgIo(static_cast<sg_io_hdr_t*>(arg), index);
        case kGetIdLun: return GetIdLun(static_cast<int*>(arg), index);
        default: return Fail(ENOTTY); // Wine's mount manager asks for the TOC header, for one
    }
}
