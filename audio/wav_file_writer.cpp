#include "audio/wav_file_writer.h"

#include <cstring>

namespace {

constexpr DWORD kRiffSizeOffset = 4;
constexpr DWORD kFormatOffset = 20;
constexpr DWORD kDataSizeOffset = 40;
constexpr DWORD kFormatChunkBytes = sizeof(PCMWAVEFORMAT);
constexpr DWORD kSizesNotCountedByRiff = 8; // "RIFF" and the size itself
constexpr char kDiskFullText[] = "Disk Full!!";
constexpr char kDiskFullCaption[] = "Wav Record";

void PutTag(BYTE* at, const char* tag) {
    memcpy(at, tag, 4);
}
void PutDword(BYTE* at, DWORD value) {
    memcpy(at, &value, sizeof value);
}

bool WriteAll(HANDLE file, const void* data, DWORD bytes, DWORD* written) {
    *written = 0;
    return WriteFile(file, data, bytes, written, nullptr) && *written == bytes;
}

} // namespace

static_assert(kFormatOffset + kFormatChunkBytes + 8 == kWavHeaderBytes, "canonical header");

WavFileWriter::~WavFileWriter() {
    if (file_ != INVALID_HANDLE_VALUE) CloseHandle(file_);
}

bool WavFileWriter::BeginFile(const char* path, const PCMWAVEFORMAT& format) {
    // The whole path or nothing: a cut path would name another file. UTF-16
    // reaches every name; the system's code page only some.
    if (!MultiByteToWideChar(CP_UTF8, 0, path, -1, path_, MAX_PATH)) return false;
    // CreateFile rather than OpenFile, which refuses paths of 128 characters
    // and more that the save dialog happily returns.
    file_ = CreateFileW(path_, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                        FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file_ == INVALID_HANDLE_VALUE) return false;
    PutTag(header_, "RIFF");
    PutDword(header_ + kRiffSizeOffset, 0);
    PutTag(header_ + 8, "WAVE");
    PutTag(header_ + 12, "fmt ");
    PutDword(header_ + 16, kFormatChunkBytes);
    memcpy(header_ + kFormatOffset, &format, kFormatChunkBytes);
    PutTag(header_ + 36, "data");
    PutDword(header_ + kDataSizeOffset, 0);
    blockAlign_ = format.wf.nBlockAlign ? format.wf.nBlockAlign : 1;
    dataBytes_ = 0;
    DWORD written;
    WriteAll(file_, header_, kWavHeaderBytes, &written);
    return true;
}

int WavFileWriter::AppendData(const void* data, DWORD bytes) {
    DWORD written;
    if (WriteAll(file_, data, bytes, &written)) {
        dataBytes_ += bytes;
        return 0;
    }
    // Only what reached the file counts, in whole sample frames, so the file
    // stays a valid (shorter) wave file.
    dataBytes_ += written - written % blockAlign_;
    MessageBoxA(nullptr, kDiskFullText, kDiskFullCaption, MB_TASKMODAL);
    FinishFile();
    return 1;
}

bool WavFileWriter::PatchData(DWORD offset, const void* data, DWORD bytes) {
    if (file_ == INVALID_HANDLE_VALUE || offset + bytes > dataBytes_) return false;
    LARGE_INTEGER at, end;
    at.QuadPart = kWavHeaderBytes + static_cast<LONGLONG>(offset);
    end.QuadPart = kWavHeaderBytes + static_cast<LONGLONG>(dataBytes_);
    DWORD written;
    bool patched = SetFilePointerEx(file_, at, nullptr, FILE_BEGIN) &&
                   WriteAll(file_, data, bytes, &written);
    return SetFilePointerEx(file_, end, nullptr, FILE_BEGIN) && patched;
}

void WavFileWriter::FinishFile() {
    if (file_ == INVALID_HANDLE_VALUE) return;
    LARGE_INTEGER end;
    end.QuadPart = kWavHeaderBytes + static_cast<LONGLONG>(dataBytes_);
    if (SetFilePointerEx(file_, end, nullptr, FILE_BEGIN)) SetEndOfFile(file_);
    // The text after the data, which RIFF pads to an even length; a text that
    // does not fit on the disk is left out.
    BYTE list[1 + kWaveInfoChunkBytes] = {};
    DWORD pad = dataBytes_ % 2;
    DWORD after = BuildInfoChunk(info_, list + pad);
    DWORD written;
    if (after) after += pad;
    if (after && !WriteAll(file_, list, after, &written)) {
        after = 0;
        if (SetFilePointerEx(file_, end, nullptr, FILE_BEGIN)) SetEndOfFile(file_);
    }
    PutDword(header_ + kRiffSizeOffset,
             dataBytes_ + after + kWavHeaderBytes - kSizesNotCountedByRiff);
    PutDword(header_ + kDataSizeOffset, dataBytes_);
    SetFilePointer(file_, 0, nullptr, FILE_BEGIN);
    WriteAll(file_, header_, kWavHeaderBytes, &written);
    CloseHandle(file_);
    file_ = INVALID_HANDLE_VALUE;
}
