#include "fake_scsi_port.h"

#include "cd/passthrough_transport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstring>

namespace td_test {

namespace {

constexpr ULONG_PTR kHandleBase = 0x7D000; // fake handles: base + drive letter
constexpr char kDevicePrefix[] = "\\\\.\\";
constexpr DWORD kMsPerSecond = 1000;
constexpr ULONG kMaxTransfer = 0x10000;
constexpr DWORD kAccess = GENERIC_READ | GENERIC_WRITE, kShare = FILE_SHARE_READ | FILE_SHARE_WRITE;

FakeScsiPort* g_port;

FakeCdRom* DeviceOf(HANDLE h) {
    ULONG_PTR v = reinterpret_cast<ULONG_PTR>(h);
    if (v <= kHandleBase || v > kHandleBase + 'Z') return nullptr;
    return g_port->Find(char(v - kHandleBase));
}

BOOL Fail(DWORD error) {
    SetLastError(error);
    return FALSE;
}

UINT WINAPI DriveType(LPCSTR root) {
    char c = char(toupper(root[0]));
    if (g_port->Find(c)) return DRIVE_CDROM;
    return g_port->fixedLetters.find(c) != std::string::npos ? DRIVE_FIXED : DRIVE_NO_ROOT_DIR;
}

DWORD WINAPI LogicalDrives() {
    DWORD mask = 0;
    for (char root[] = "A:\\"; root[0] <= 'Z'; root[0]++)
        if (DriveType(root) != DRIVE_NO_ROOT_DIR) mask |= 1u << (root[0] - 'A');
    return mask;
}

HANDLE WINAPI OpenDevice(LPCSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES, DWORD how,
                         DWORD, HANDLE) {
    g_port->opened.push_back(path);
    size_t prefix = sizeof kDevicePrefix - 1;
    FakeCdRom* d = std::strncmp(path, kDevicePrefix, prefix) == 0 && std::strlen(path) == prefix + 2
                       ? g_port->Find(path[prefix])
                       : nullptr;
    if (!d || !d->opens || how != OPEN_EXISTING || access != kAccess || share != kShare) {
        SetLastError(d ? ERROR_ACCESS_DENIED : ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    return reinterpret_cast<HANDLE>(kHandleBase + ULONG_PTR(d->letter));
}

BOOL WINAPI CloseDevice(HANDLE h) {
    ULONG_PTR v = reinterpret_cast<ULONG_PTR>(h);
    g_port->closed.push_back(char(v - kHandleBase));
    return TRUE;
}

BOOL PassThrough(FakeCdRom& d, void* in, DWORD inBytes, void* out, DWORD outBytes,
                 DWORD* returned) {
    if (!in || !out || inBytes < sizeof(SCSI_PASS_THROUGH_DIRECT) ||
        outBytes < sizeof(SCSI_PASS_THROUGH_DIRECT))
        return Fail(ERROR_INVALID_PARAMETER);
    // The system buffer of a METHOD_BUFFERED call: in, worked on, copied out.
    Bytes io(static_cast<BYTE*>(in), static_cast<BYTE*>(in) + inBytes);
    auto& s = *reinterpret_cast<SCSI_PASS_THROUGH_DIRECT*>(io.data());
    ULONG_PTR buffer = reinterpret_cast<ULONG_PTR>(s.DataBuffer);
    if (s.Length != sizeof s || s.CdbLength == 0 || s.CdbLength > sizeof s.Cdb ||
        s.DataIn > SCSI_IOCTL_DATA_UNSPECIFIED ||
        (s.DataTransferLength && (!buffer || s.DataIn == SCSI_IOCTL_DATA_UNSPECIFIED)) ||
        (buffer & d.alignmentMask) || s.SenseInfoOffset + s.SenseInfoLength > inBytes)
        return Fail(ERROR_INVALID_PARAMETER);

    PassThroughCall c = {
        d.letter, d.address.PortNumber, d.address.TargetId, s, Bytes(s.Cdb, s.Cdb + s.CdbLength),
        -1};
    DWORD error = d.fails ? ERROR_IO_DEVICE : 0;
    if (d.hangMs >= s.TimeOutValue * kMsPerSecond) error = ERROR_SEM_TIMEOUT;
    if (error) {
        g_port->calls.push_back(c);
        return Fail(error);
    }
    Sleep(d.hangMs);

    bool reads = s.DataIn == SCSI_IOCTL_DATA_IN;
    vdrive::ScsiResult r;
    d.scsi.Execute(s.Cdb, s.CdbLength, reads ? static_cast<uint8_t*>(s.DataBuffer) : nullptr,
                   reads ? s.DataTransferLength : 0, &r);
    s.ScsiStatus = r.status;
    c.scsiStatus = r.status;
    s.DataTransferLength = r.transferred;
    if (r.status == vdrive::kStatusCheckCondition) {
        uint8_t sense[vdrive::kSenseBytes];
        vdrive::FormatSense(r.sense, sense);
        s.SenseInfoLength = UCHAR(std::min<size_t>(s.SenseInfoLength, sizeof sense));
        std::memcpy(io.data() + s.SenseInfoOffset, sense, s.SenseInfoLength);
    } else {
        s.SenseInfoLength = 0;
    }
    g_port->calls.push_back(c);
    std::memcpy(out, io.data(), std::min(inBytes, outBytes));
    *returned = sizeof s;
    return TRUE;
}

BOOL WINAPI Control(HANDLE h, DWORD code, LPVOID in, DWORD inBytes, LPVOID out, DWORD outBytes,
                    LPDWORD returned, LPOVERLAPPED) {
    FakeCdRom* d = DeviceOf(h);
    if (!d) return Fail(ERROR_DEVICE_NOT_CONNECTED);
    *returned = 0;
    switch (code) {
        case IOCTL_SCSI_PASS_THROUGH_DIRECT:
            return PassThrough(*d, in, inBytes, out, outBytes, returned);
        case IOCTL_SCSI_GET_ADDRESS:
            if (!d->answersAddress) return Fail(ERROR_INVALID_FUNCTION);
            if (outBytes < sizeof d->address) return Fail(ERROR_INSUFFICIENT_BUFFER);
            std::memcpy(out, &d->address, sizeof d->address);
            *returned = sizeof d->address;
            return TRUE;
        case IOCTL_SCSI_GET_CAPABILITIES: {
            IO_SCSI_CAPABILITIES caps = {};
            if (outBytes < sizeof caps) return Fail(ERROR_INSUFFICIENT_BUFFER);
            caps.Length = sizeof caps;
            caps.MaximumTransferLength = kMaxTransfer;
            caps.AlignmentMask = d->alignmentMask;
            std::memcpy(out, &caps, sizeof caps);
            *returned = sizeof caps;
            return TRUE;
        }
        default: return Fail(ERROR_INVALID_FUNCTION);
    }
}

const PassThroughIo kFakeIo = {LogicalDrives, DriveType, OpenDevice, Control, CloseDevice};

} // namespace

void FakeCdRom::Load(const std::string& cuePath) {
    scsi.SetMedium(nullptr, nullptr);
    image_.reset();
    disc = cuePath;
    if (cuePath.empty()) return;
    char error[vdrive::kImageErrorChars];
    image_.reset(vdrive::CueImage::Load(cuePath.c_str(), error, sizeof error));
    if (image_) scsi.SetMedium(&image_->Layout(), image_.get());
    EXPECT_TRUE(image_) << cuePath << ": " << error;
}

FakeScsiPort::FakeScsiPort() {
    g_port = this;
    SetPassThroughIo(&kFakeIo);
}

FakeScsiPort::~FakeScsiPort() {
    SetPassThroughIo(nullptr);
    g_port = nullptr;
}

FakeCdRom& FakeScsiPort::Add(char letter, int port, int target) {
    FakeCdRom& d = devices_.emplace_back();
    d.letter = letter;
    d.address.PortNumber = UCHAR(port);
    d.address.TargetId = UCHAR(target);
    return d;
}

FakeCdRom* FakeScsiPort::Find(char letter) {
    for (FakeCdRom& d : devices_)
        if (d.letter == letter) return &d;
    return nullptr;
}

} // namespace td_test
