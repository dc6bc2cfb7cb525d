#include "audio/wave_streamer.h"

#include "audio/pcm_format.h"

#include <string.h>

namespace {

constexpr DWORD kSlotSlack = 1000;
constexpr DWORD kUntilSourceEnds = 0xFFFFFFFF;
constexpr int kBlocksAtDevice = 2;
constexpr int kBlocksReadAhead = 2;

constexpr int kNotifyPosition = 300;
constexpr int kNotifySize = 301;
constexpr DWORD kNotifyStyle = WS_CLIPSIBLINGS | WS_CLIPCHILDREN;
constexpr int kStreamerSlot = 0;
constexpr LRESULT kNoticeHandled = 1;

constexpr char kFailedToOpenText[] = "Failed to open wavefile";
constexpr char kNoWaveFormatText[] = "Not found wave format";
constexpr char kWriteFailedText[] = "Failed to write block memory";

constexpr FOURCC kWaveForm = mmioFOURCC('W', 'A', 'V', 'E');
constexpr FOURCC kFmtChunk = mmioFOURCC('f', 'm', 't', ' ');
constexpr FOURCC kDataChunk = mmioFOURCC('d', 'a', 't', 'a');

#ifndef _WIN64
static_assert(sizeof(WAVEHDR) == 32, "the waveOut header of a block slot");
#endif

enum class WaveHeader { kPlayable, kNoWaveFormat, kUnplayable, kEmpty };

constexpr LONG kChunkHeaderSize = 2 * sizeof(DWORD); // id and size
constexpr LONG kFormTypeSize = sizeof(FOURCC);
constexpr LONG kSeekFailed = -1;

// Where the chunk after `chunk` starts: its data, and a pad byte after an odd size.
LONGLONG ChunkEnd(const MMCKINFO& chunk) {
    return (LONGLONG)chunk.dwDataOffset + chunk.cksize + (chunk.cksize & 1);
}

// Looks for chunk `id` (of form type `form`, unless 0) from `from` on, as
// mmioDescend does with MMIO_FINDCHUNK or MMIO_FINDRIFF, and leaves the file
// at its data (past the form type). The search must start before
// `parentEnd`. mmio's own search follows every size field blindly, so a size
// that wraps the 32-bit offset sends it back to a header it has already read,
// for ever; this one only goes forward, and never past `fileEnd`.
bool FindChunk(HMMIO file, FOURCC id, FOURCC form, LONGLONG from, LONGLONG parentEnd,
               LONGLONG fileEnd, MMCKINFO* chunk) {
    if (from >= parentEnd) return false;
    for (LONGLONG at = from; at + kChunkHeaderSize <= fileEnd; at = ChunkEnd(*chunk)) {
        DWORD header[2];
        if (mmioSeek(file, (LONG)at, SEEK_SET) != (LONG)at ||
            mmioRead(file, reinterpret_cast<HPSTR>(header), kChunkHeaderSize) != kChunkHeaderSize)
            return false;
        *chunk = MMCKINFO{};
        chunk->ckid = header[0];
        chunk->cksize = header[1];
        chunk->dwDataOffset = (DWORD)(at + kChunkHeaderSize);
        if (chunk->ckid != id) continue;
        if (!form) return true;
        if (mmioRead(file, reinterpret_cast<HPSTR>(&chunk->fccType), kFormTypeSize) ==
                kFormTypeSize &&
            chunk->fccType == form)
            return true;
    }
    return false;
}

// Finds the format and the data chunk of a RIFF/WAVE file and leaves the file
// at the start of the data. At most kFmtRecordSize bytes of "fmt " are read.
WaveHeader ReadWaveHeader(HMMIO file, WAVEFORMATEXTENSIBLE* format, DWORD* dataSize) {
    const LONG fileEnd = mmioSeek(file, 0, SEEK_END);
    MMCKINFO riff, chunk;
    if (fileEnd == kSeekFailed ||
        !FindChunk(file, FOURCC_RIFF, kWaveForm, 0, fileEnd, fileEnd, &riff))
        return WaveHeader::kNoWaveFormat;
    // Inside the RIFF, but on to the file's end: RIFF sizes are often wrong in
    // files that play elsewhere.
    const LONGLONG riffEnd = (LONGLONG)riff.dwDataOffset + riff.cksize;
    if (!FindChunk(file, kFmtChunk, 0, riff.dwDataOffset + kFormTypeSize, riffEnd, fileEnd, &chunk))
        return WaveHeader::kNoWaveFormat;
    memset(format, 0, sizeof *format);
    const DWORD want = chunk.cksize < kFmtRecordSize ? chunk.cksize : kFmtRecordSize;
    const LONG got = want ? mmioRead(file, reinterpret_cast<HPSTR>(format), (LONG)want) : 0;
    if (got < (LONG)kPcmFormatSize) return WaveHeader::kNoWaveFormat;
    if (!FindChunk(file, kDataChunk, 0, ChunkEnd(chunk), riffEnd, fileEnd, &chunk))
        return WaveHeader::kNoWaveFormat;
    *dataSize = chunk.cksize;
    if (!PreparePlayableFormat(format, (DWORD)got)) return WaveHeader::kUnplayable;
    return chunk.cksize ? WaveHeader::kPlayable : WaveHeader::kEmpty;
}

HWAVEOUT DeviceNumberAsHandle(UINT id) {
    return reinterpret_cast<HWAVEOUT>(static_cast<UINT_PTR>(id));
}

// Opens a file named in UTF-8 for mmio. mmio takes names in the system's code
// page, which lacks most scripts, so the file is opened by its UTF-16 name and
// handed over as a handle (a null name): mmio's own file procedure reads it and
// closes it with the stream.
HMMIO OpenWaveFile(const char* path) {
    WCHAR name[MAX_PATH];
    if (!path || !MultiByteToWideChar(CP_UTF8, 0, path, -1, name, MAX_PATH)) return nullptr;
    HANDLE handle = CreateFileW(name, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return nullptr;
    MMIOINFO info = {};
    // Kernel handles keep to 32 bits on 64-bit Windows too.
    info.adwInfo[0] = static_cast<DWORD>(reinterpret_cast<UINT_PTR>(handle));
    HMMIO file = mmioOpenA(nullptr, &info, MMIO_READ);
    if (!file) CloseHandle(handle);
    return file;
}

} // namespace

WaveStreamer::WaveStreamer(HWND owner, WORD blockSize, int bufferCount)
    : doneIndex_(0), fillIndex_(0), endFlag_(0), deviceId_(0), device_(nullptr), source_(nullptr),
      budget_(0), total_(0), owner_(owner), chunk_(blockSize), blockSize_(blockSize), slotCount_(0),
      submitIndex_(0), notify_(nullptr), slots_(), bufferCount_(bufferCount), frameBytes_(1),
      endPosted_(0), heldVolume_(0), volumeHeld_(0) {}

WaveStreamer::~WaveStreamer() {
    StopOutput();
    if (notify_) {
        HWND notify = notify_;
        notify_ = nullptr;
        SetWindowLongPtrA(notify, kStreamerSlot, 0);
        DestroyWindow(notify);
    }
}

ATOM WaveStreamer::RegisterNotifyClass(HINSTANCE instance) {
    WNDCLASSA wc = {};
    wc.lpfnWndProc = NotifyProc;
    wc.cbWndExtra = sizeof(WaveStreamer*);
    wc.hInstance = instance;
    wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
    wc.lpszClassName = kWaveNotifyClass;
    return RegisterClassA(&wc);
}

HWND WaveStreamer::CreateNotifyWindow(HWND owner, HINSTANCE instance, WaveStreamer* streamer) {
    if (!streamer) return nullptr;
    streamer->owner_ = owner;
    // Never shown: it only receives the device's notices.
    streamer->notify_ =
        CreateWindowExA(0, kWaveNotifyClass, "", kNotifyStyle, kNotifyPosition, kNotifyPosition,
                        kNotifySize, kNotifySize, owner, nullptr, instance, streamer);
    return streamer->notify_;
}

LRESULT CALLBACK WaveStreamer::NotifyProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    WaveStreamer* streamer =
        reinterpret_cast<WaveStreamer*>(GetWindowLongPtrA(hwnd, kStreamerSlot));
    switch (msg) {
        case WM_CREATE: {
            const CREATESTRUCTA* cs = reinterpret_cast<const CREATESTRUCTA*>(lParam);
            SetWindowLongPtrA(hwnd, kStreamerSlot, reinterpret_cast<LONG_PTR>(cs->lpCreateParams));
            return 0;
        }
        case WM_DESTROY:
            SetWindowLongPtrA(hwnd, kStreamerSlot, 0);
            if (streamer) streamer->OnNotifyWindowDestroyed();
            return 0;
        case MM_WOM_OPEN: return kNoticeHandled;
        case MM_WOM_CLOSE:
            if (streamer) streamer->OnDeviceClosed();
            return kNoticeHandled;
        case MM_WOM_DONE:
            if (streamer) streamer->OnBlockDone();
            return kNoticeHandled;
    }
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}

int WaveStreamer::FindWaveDevice(const char* name) {
    if (!name) return kNoWaveDevice;
    const UINT count = waveOutGetNumDevs();
    for (UINT i = 0; i < count; i++) {
        WAVEOUTCAPSA caps = {};
        if (waveOutGetDevCapsA(i, &caps, sizeof caps) != MMSYSERR_NOERROR) continue;
        caps.szPname[MAXPNAMELEN - 1] = '\0';
        if (strstr(caps.szPname, name)) return (int)i;
    }
    return kNoWaveDevice;
}

int WaveStreamer::OpenOutput(HMMIO source, DWORD length, const WAVEFORMATEX* format) {
    OpenResult result = OpenPlayback(source, length, format);
    // The caller handed the stream over either way, so a refused one is closed here.
    if (result == OpenResult::kNotTaken) mmioClose(source, 0);
    return result == OpenResult::kOpened;
}

int WaveStreamer::OpenOutput(HMMIO source, DWORD length, const PCMWAVEFORMAT* format) {
    // Widened with no extra bytes, so nothing past the 16-byte record is read.
    WAVEFORMATEX wide = {};
    memcpy(&wide, format, sizeof *format);
    return OpenOutput(source, length, &wide);
}

WaveStreamer::OpenResult WaveStreamer::OpenPlayback(HMMIO source, DWORD length,
                                                    const WAVEFORMATEX* format) {
    if (device_) return OpenResult::kNotTaken;
    total_ = length ? length : kUntilSourceEnds;
    if (!AllocateSlots()) return OpenResult::kNotTaken;
    source_ = source;
    // Whole frames must fit a block, and a device whose notices nobody hears
    // would never come back for more.
    const bool playable = notify_ && IsPlayablePcm(format) && format->nBlockAlign <= blockSize_;
    HWAVEOUT device = nullptr;
    if (!playable || waveOutOpen(&device, deviceId_, format, reinterpret_cast<DWORD_PTR>(notify_),
                                 0, CALLBACK_WINDOW) != MMSYSERR_NOERROR) {
        ReleasePlayback();
        budget_ = 0;
        return OpenResult::kTaken;
    }
    device_ = device;
    if (volumeHeld_) waveOutSetVolume(device_, heldVolume_);
    frameBytes_ = format->nBlockAlign;
    chunk_ = WholeFrames(blockSize_);
    budget_ = WholeFrames(total_);
    submitIndex_ = fillIndex_ = doneIndex_ = 0;
    endFlag_ = 0;
    endPosted_ = 0;
    const int prefilled = budget_ != 0 && ReadBlock();
    if (prefilled && budget_ != 0) ReadBlock();
    if (!prefilled) {
        if (waveOutClose(device_) == MMSYSERR_NOERROR) {
            device_ = nullptr;
            ReleasePlayback();
        }
        return OpenResult::kTaken;
    }
    return OpenResult::kOpened;
}

int WaveStreamer::AllocateSlots() {
    const DWORD bytes = (DWORD)blockSize_ + kSlotSlack;
    HANDLE heap = GetProcessHeap();
    slotCount_ = 0;
    for (BlockSlot& slot : slots_) {
        BYTE* memory = static_cast<BYTE*>(HeapAlloc(heap, HEAP_ZERO_MEMORY, bytes));
        if (!memory) break;
        slot = BlockSlot{};
        slot.memory = memory;
        slot.data = memory;
        slot.capacity = blockSize_;
        slotCount_++;
    }
    return slotCount_;
}

void WaveStreamer::ReleasePlayback() {
    HANDLE heap = GetProcessHeap();
    for (int i = 0; i < slotCount_; i++) {
        if (slots_[i].memory) HeapFree(heap, 0, slots_[i].memory);
        slots_[i] = BlockSlot{};
    }
    slotCount_ = 0;
    if (source_) {
        HMMIO source = source_;
        source_ = nullptr;
        mmioClose(source, 0);
    }
}

int WaveStreamer::StartOutput() {
    if (!device_ || endPosted_) return 0;
    if (!Refill()) return 0;
    // With nothing at the device no notice would ever come back.
    if (CountSlots(&BlockSlot::queued) == 0) {
        PostEnd();
        return 0;
    }
    return 1;
}

int WaveStreamer::PlayWaveFile(const char* path) {
    if (device_) return 0;
    HMMIO file = OpenWaveFile(path);
    if (!file) {
        Warn(kFailedToOpenText);
        return 0;
    }
    WAVEFORMATEXTENSIBLE format;
    DWORD dataSize = 0;
    const WaveHeader header = ReadWaveHeader(file, &format, &dataSize);
    if (header != WaveHeader::kPlayable) {
        // An unplayable or empty file is left to the caller's own message.
        mmioClose(file, 0);
        if (header == WaveHeader::kNoWaveFormat) Warn(kNoWaveFormatText);
        return 0;
    }
    switch (OpenPlayback(file, dataSize, &format.Format)) {
        case OpenResult::kOpened: StartOutput(); return 1;
        case OpenResult::kNotTaken: mmioClose(file, 0); return 0;
        case OpenResult::kTaken: return 0;
    }
    return 0;
}

void WaveStreamer::SetRemaining(DWORD bytes) {
    budget_ = WholeFrames(bytes);
    // A spent budget only paused the reads; new bytes resume them until the end is posted.
    if (device_ && !endPosted_) endFlag_ = 0;
}

int WaveStreamer::StopOutput() {
    if (!device_) return 1;
    endFlag_ = 1;
    waveOutReset(device_);
    for (int i = 0; i < slotCount_; i++) {
        BlockSlot& slot = slots_[i];
        if (slot.queued &&
            waveOutUnprepareHeader(device_, &slot.header, sizeof slot.header) == MMSYSERR_NOERROR)
            slot.queued = 0;
    }
    if (waveOutClose(device_) != MMSYSERR_NOERROR) return 0;
    device_ = nullptr;
    // Reset handed every block back and the device is gone: release now, so
    // that the close notice, which may arrive after a newer playback has
    // opened, finds nothing of this one left to free.
    ReleasePlayback();
    return 1;
}

DWORD WaveStreamer::GetPlayedBytes() const {
    if (!device_) return 0;
    MMTIME time = {};
    time.wType = TIME_BYTES;
    if (waveOutGetPosition(device_, &time, sizeof time) != MMSYSERR_NOERROR) return 0;
    if (time.wType == TIME_BYTES) return time.u.cb;
    if (time.wType == TIME_SAMPLES) return time.u.sample * frameBytes_;
    return 0;
}

// Wine's winmm refuses a device number in the volume calls and keeps the volume
// per open handle, back at full with every open. So where the number is
// refused, an open playback answers through its handle, and a value set is
// held and given to each playback this streamer opens.
int WaveStreamer::GetVolume(DWORD* volume) const {
    DWORD value = 0;
    if (waveOutGetVolume(DeviceNumberAsHandle(deviceId_), &value) == MMSYSERR_NOERROR ||
        (device_ && waveOutGetVolume(device_, &value) == MMSYSERR_NOERROR)) {
        *volume = value;
        return 1;
    }
    if (!volumeHeld_) return 0;
    *volume = heldVolume_;
    return 1;
}

int WaveStreamer::SetVolume(DWORD volume) {
    if (waveOutSetVolume(DeviceNumberAsHandle(deviceId_), volume) == MMSYSERR_NOERROR) {
        volumeHeld_ = 0;
        return 1;
    }
    heldVolume_ = volume;
    volumeHeld_ = 1;
    return device_ && waveOutSetVolume(device_, volume) == MMSYSERR_NOERROR;
}

void WaveStreamer::OnBlockDone() {
    if (!device_) return;
    // Blocks come back in the order written; the header tells whether one is
    // really back, so a notice left over from a stopped playback frees nothing
    // of this one, and a late notice finds its block already handled.
    int returned = 0;
    for (;;) {
        BlockSlot& slot = slots_[doneIndex_];
        if (!slot.queued || !(slot.header.dwFlags & WHDR_DONE)) break;
        waveOutUnprepareHeader(device_, &slot.header, sizeof slot.header);
        slot.queued = 0;
        doneIndex_ = NextSlot(doneIndex_);
        returned++;
    }
    if (!returned || endPosted_) return;
    if (!Refill()) return;
    // The end is posted only once every block read has come back from the device.
    if (CountSlots(&BlockSlot::queued) == 0) PostEnd();
}

// Each playback is released as soon as its device closes (StopOutput, a failed
// start), so this notice has nothing left to free.
void WaveStreamer::OnDeviceClosed() {}

void WaveStreamer::OnNotifyWindowDestroyed() {
    // No notice can reach us any more, so the playback could never go on.
    notify_ = nullptr;
    StopOutput();
}

int WaveStreamer::ReadBlock() {
    if (budget_ == 0) {
        endFlag_ = 1;
        return 0;
    }
    BlockSlot& slot = slots_[fillIndex_];
    if (slot.queued || slot.filled) return 0;
    const DWORD want = budget_ < chunk_ ? budget_ : chunk_;
    const LONG got = mmioRead(source_, reinterpret_cast<HPSTR>(slot.data), (LONG)want);
    // Nothing (or an error) keeps the budget for the next try.
    if (got <= 0) return 0;
    const DWORD read = (DWORD)got < want ? (DWORD)got : want;
    budget_ -= read;
    // A short read (a file cut short) plays what came, in whole frames.
    slot.length = WholeFrames(read);
    if (slot.length == 0) return 0;
    slot.filled = 1;
    fillIndex_ = NextSlot(fillIndex_);
    return 1;
}

WaveStreamer::SubmitResult WaveStreamer::SubmitBlock() {
    BlockSlot& slot = slots_[submitIndex_];
    // Only a block read since it last played; anything else holds old audio.
    if (!slot.filled) return SubmitResult::kNotSubmitted;
    WAVEHDR& header = slot.header;
    header = WAVEHDR{};
    header.lpData = reinterpret_cast<LPSTR>(slot.data);
    header.dwBufferLength = slot.length;
    if (waveOutPrepareHeader(device_, &header, sizeof header) != MMSYSERR_NOERROR)
        return SubmitResult::kNotSubmitted;
    if (waveOutWrite(device_, &header, sizeof header) != MMSYSERR_NOERROR) {
        waveOutUnprepareHeader(device_, &header, sizeof header);
        PostEnd();
        // The box runs a message loop in which the owner may stop us, so
        // nothing is touched after it.
        Warn(kWriteFailedText);
        return SubmitResult::kWriteFailed;
    }
    slot.filled = 0;
    slot.queued = 1;
    submitIndex_ = NextSlot(submitIndex_);
    return SubmitResult::kSubmitted;
}

int WaveStreamer::SubmitWaiting() {
    while (CountSlots(&BlockSlot::queued) < kBlocksAtDevice) {
        const SubmitResult result = SubmitBlock();
        if (result == SubmitResult::kWriteFailed) return 0;
        if (result == SubmitResult::kNotSubmitted) break;
    }
    return 1;
}

int WaveStreamer::Refill() {
    if (!SubmitWaiting()) return 0;
    while (!endFlag_ && CountSlots(&BlockSlot::filled) < kBlocksReadAhead && ReadBlock()) {
    }
    return SubmitWaiting();
}

int WaveStreamer::CountSlots(int BlockSlot::*flag) const {
    int count = 0;
    for (int i = 0; i < slotCount_; i++) count += slots_[i].*flag ? 1 : 0;
    return count;
}

void WaveStreamer::PostEnd() {
    endFlag_ = 1;
    if (endPosted_) return;
    endPosted_ = 1;
    PostMessageA(owner_, kWaveEndMessage, 0, 0);
}

void WaveStreamer::Warn(const char* text) const {
    MessageBoxA(owner_, text, nullptr, MB_ICONWARNING);
}
