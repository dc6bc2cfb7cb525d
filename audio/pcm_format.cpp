#include "audio/pcm_format.h"

#include <string.h>

namespace {

struct CapabilityFormat {
    DWORD flag;
    WORD channels;
    DWORD rate;
    WORD bits;
};

// The whole mapping: 0 stands for 8192 Hz, not 8000.
constexpr CapabilityFormat kCapabilityFormats[] = {
    {0, 1, 8192, 8},
    {WAVE_FORMAT_1M08, 1, 11025, 8},
    {WAVE_FORMAT_1S08, 2, 11025, 8},
    {WAVE_FORMAT_1M16, 1, 11025, 16},
    {WAVE_FORMAT_1S16, 2, 11025, 16},
    {WAVE_FORMAT_2M08, 1, 22050, 8},
    {WAVE_FORMAT_2S08, 2, 22050, 8},
    {WAVE_FORMAT_2M16, 1, 22050, 16},
    {WAVE_FORMAT_2S16, 2, 22050, 16},
    {WAVE_FORMAT_4M08, 1, 44100, 8},
    {WAVE_FORMAT_4S08, 2, 44100, 8},
    {WAVE_FORMAT_4M16, 1, 44100, 16},
    {WAVE_FORMAT_4S16, 2, 44100, 16},
};

constexpr WORD kBitsPerByte = 8;
constexpr WORD kMaxSampleBits = 32;
// As many channels as a channel mask can name speakers, and the fastest rate
// any converter offers. Wine's audio corrupts its heap when asked for a few
// dozen channels or an absurd rate, even as it refuses them.
constexpr WORD kMaxChannels = 18;
constexpr DWORD kMaxSampleRate = 768000;
// The extensible part after WAVEFORMATEX: valid bits, channel mask, sub-format.
constexpr WORD kExtensibleExtraSize = sizeof(WAVEFORMATEXTENSIBLE) - sizeof(WAVEFORMATEX);
// Beyond stereo the channel mask decides the speaker layout, so it is kept.
constexpr WORD kMaxPlainChannels = 2;
// KSDATAFORMAT_SUBTYPE_PCM, spelled out so nothing needs ksuser.
constexpr GUID kSubtypePcm = {
    0x00000001, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};

static_assert(sizeof(PCMWAVEFORMAT) == 16, "PCMWAVEFORMAT is the 16-byte record");
static_assert(sizeof(WAVEFORMATEXTENSIBLE) == 40, "room for WAVE_FORMAT_EXTENSIBLE");

} // namespace

int MakePcmFormat(DWORD flag, PCMWAVEFORMAT* format) {
    for (const CapabilityFormat& f : kCapabilityFormats) {
        if (f.flag != flag) continue;
        WORD align = (WORD)(f.channels * f.bits / kBitsPerByte);
        format->wf.wFormatTag = WAVE_FORMAT_PCM;
        format->wf.nChannels = f.channels;
        format->wf.nSamplesPerSec = f.rate;
        format->wf.nAvgBytesPerSec = f.rate * align;
        format->wf.nBlockAlign = align;
        format->wBitsPerSample = f.bits;
        return 1;
    }
    memset(format, 0, sizeof *format);
    return 0;
}

int IsPlayablePcm(const WAVEFORMATEX* format) {
    const WORD bits = format->wBitsPerSample;
    if (format->wFormatTag == WAVE_FORMAT_EXTENSIBLE) {
        if (format->cbSize < kExtensibleExtraSize) return 0;
        const WAVEFORMATEXTENSIBLE* ext = reinterpret_cast<const WAVEFORMATEXTENSIBLE*>(format);
        if (memcmp(&ext->SubFormat, &kSubtypePcm, sizeof kSubtypePcm) != 0) return 0;
        if (ext->Samples.wValidBitsPerSample > bits) return 0;
    } else if (format->wFormatTag != WAVE_FORMAT_PCM) {
        return 0;
    }
    if (format->nChannels == 0 || format->nChannels > kMaxChannels) return 0;
    if (format->nSamplesPerSec == 0 || format->nSamplesPerSec > kMaxSampleRate) return 0;
    if (bits == 0 || bits > kMaxSampleBits || bits % kBitsPerByte != 0) return 0;
    return (DWORD)format->nBlockAlign == (DWORD)format->nChannels * bits / kBitsPerByte;
}

int PreparePlayableFormat(WAVEFORMATEXTENSIBLE* record, DWORD size) {
    WAVEFORMATEX& f = record->Format;
    if (size < kPcmFormatSize) return 0;
    // Plain PCM has no extra bytes, whatever a longer chunk claims.
    if (f.wFormatTag == WAVE_FORMAT_PCM) f.cbSize = 0;
    if (f.wFormatTag == WAVE_FORMAT_EXTENSIBLE && size < kFmtRecordSize) return 0;
    if (!IsPlayablePcm(&f)) return 0;
    f.nAvgBytesPerSec = f.nSamplesPerSec * f.nBlockAlign;
    if (f.wFormatTag != WAVE_FORMAT_EXTENSIBLE) return 1;
    // The device must not read past the record, however long the chunk was.
    f.cbSize = kExtensibleExtraSize;
    const WORD valid = record->Samples.wValidBitsPerSample;
    // Wine remaps extensible mono to other layouts; plain PCM plays as written.
    if (f.nChannels <= kMaxPlainChannels && (valid == 0 || valid == f.wBitsPerSample)) {
        memset(reinterpret_cast<BYTE*>(record) + sizeof(WAVEFORMATEX), 0, kExtensibleExtraSize);
        f.wFormatTag = WAVE_FORMAT_PCM;
        f.cbSize = 0;
    }
    return 1;
}
