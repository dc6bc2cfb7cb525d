// The wave output streamer: plays an mmio stream (the disc, or a wave file's
// data chunk) on a waveOut device through a small ring of blocks, refilled from
// the device's notices on the user-interface thread.
#pragma once
#include <windows.h>
#include <mmsystem.h>
#include <mmreg.h>

// Posted to the owner (wParam 0, lParam 0) once a playback has played out.
constexpr UINT kWaveEndMessage = 956;
static_assert(kWaveEndMessage == MM_WOM_CLOSE, "the end message shares MM_WOM_CLOSE's number");

constexpr char kWaveNotifyClass[] = "WaveChildWindow";

class WaveStreamer {
  public:
    static constexpr int kSlotCount = 5;
    static constexpr int kNoWaveDevice = -1;

    WaveStreamer(HWND owner, WORD blockSize, int bufferCount);
    virtual ~WaveStreamer();

    static ATOM RegisterNotifyClass(HINSTANCE instance);
    // Creates the hidden window that receives the device's notices for `streamer`.
    static HWND CreateNotifyWindow(HWND owner, HINSTANCE instance, WaveStreamer* streamer);
    // Index of the first output device whose product name contains `name`
    // (case-sensitive), or kNoWaveDevice.
    static int FindWaveDevice(const char* name);

    void SetDevice(UINT id) { deviceId_ = id; }
    UINT GetDevice() const { return deviceId_; }

    // Starts a playback of `length` bytes of `source` (0: until the source gives
    // no more). The streamer takes the source either way: on 1 it plays it, on
    // 0 (busy, no memory, format or device refused, nothing to read) it has
    // closed it, and a running playback plays on.
    int OpenOutput(HMMIO source, DWORD length, const WAVEFORMATEX* format);
    int OpenOutput(HMMIO source, DWORD length, const PCMWAVEFORMAT* format);
    // Hands the first blocks to the device; call right after a successful OpenOutput.
    int StartOutput();
    // Plays a RIFF/WAVE file's data chunk in the file's own format; 1 when it
    // plays. `path` is UTF-8.
    int PlayWaveFile(const char* path);
    // Replaces the number of source bytes still to be read in this playback.
    void SetRemaining(DWORD bytes);
    // Stops at once, closes the device and releases the blocks and the source.
    // 1 when no device is open afterwards.
    int StopOutput();
    // Bytes the open device has played since this playback opened; 0 when idle.
    DWORD GetPlayedBytes() const;

    // True while `source` is the stream of the current playback and still open.
    // The stream is closed when the playback stops, so a caller holding its own
    // copy must ask this before touching it (mmioSeek).
    bool IsSourceOpen(HMMIO source) const { return source && source == source_; }

    // The chosen device's volume, left in the low word, right in the high. The
    // device number is asked first; where it is refused (as under Wine), an open
    // playback answers through its handle, and a value set is kept and given to
    // every later playback. 1 with *volume set; 0 leaves *volume untouched.
    int GetVolume(DWORD* volume) const;
    // 1 when the device, or the open playback, took the value now.
    int SetVolume(DWORD volume);

    // The notice window's handlers of MM_WOM_DONE and MM_WOM_CLOSE.
    void OnBlockDone();
    void OnDeviceClosed();

  private:
    struct BlockSlot {
        BYTE* memory;
        BYTE* data;
        DWORD capacity;
        DWORD length;
        int queued; // at the device: written and not yet unprepared
        int filled; // read from the source and not yet written
        WAVEHDR header;
    };

    // kNotTaken: the source is still the caller's; kTaken: the streamer has it (closed, or
    // held until the device it could not close is stopped).
    enum class OpenResult { kOpened, kNotTaken, kTaken };
    enum class SubmitResult { kSubmitted, kNotSubmitted, kWriteFailed };

    static LRESULT CALLBACK NotifyProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

    OpenResult OpenPlayback(HMMIO source, DWORD length, const WAVEFORMATEX* format);
    int AllocateSlots();
    void ReleasePlayback();
    int ReadBlock();
    SubmitResult SubmitBlock();
    int Refill();
    int SubmitWaiting();
    int CountSlots(int BlockSlot::*flag) const;
    void PostEnd();
    void OnNotifyWindowDestroyed();
    void Warn(const char* text) const;
    DWORD WholeFrames(DWORD bytes) const { return bytes - bytes % frameBytes_; }
    int NextSlot(int index) const { return index + 1 < slotCount_ ? index + 1 : 0; }

    int doneIndex_;
    int fillIndex_;
    int endFlag_;
    UINT deviceId_;
    HWAVEOUT device_;
    HMMIO source_;
    DWORD budget_;
    DWORD total_;
    HWND owner_;
    DWORD chunk_;
    WORD blockSize_;
    int slotCount_;
    int submitIndex_;
    HWND notify_;
    BlockSlot slots_[kSlotCount];

    int bufferCount_; // kept as given; the ring always has kSlotCount slots
    WORD frameBytes_; // the playing format's block align: reads end on whole frames
    int endPosted_;   // the end message went out for this playback
    DWORD heldVolume_;
    int volumeHeld_;
};
