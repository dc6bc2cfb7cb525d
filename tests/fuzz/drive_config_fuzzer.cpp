// The virtual drive's INI text, however wrong: whatever the parser keeps must
// be within the limits the drive relies on, and every note it makes must be a
// line of its own size. Input: the INI text.
#include "fuzz_check.h"
#include "vdrive/drive_config.h"

#include <cstring>
#include <memory>
#include <string>

using namespace vdrive;

namespace {

constexpr size_t kMaxNoteChars = 320; // what the drive's log takes per line
constexpr uint32_t kMaxWaitMs = 3600000;
constexpr int kMaxAdapters = 255;
constexpr uint8_t kTypes[] = {kDeviceCdRom, kDeviceCdRomQualified, kDeviceDisk};

void CheckNote(void* ctx, const char* line) {
    size_t n = strnlen(line, kMaxNoteChars);
    FUZZ_CHECK(n < kMaxNoteChars);
    FUZZ_CHECK(std::strncmp(line, "line ", std::strlen("line ")) == 0);
    ++*static_cast<int*>(ctx);
}

bool Terminated(const char* path) {
    return strnlen(path, kMaxConfigPath) < kMaxConfigPath;
}

void CheckConfig(const DriveConfig& c) {
    FUZZ_CHECK(c.deviceCount >= 0 && c.deviceCount <= kMaxDevices);
    FUZZ_CHECK(c.adapters >= 0 && c.adapters <= kMaxAdapters);
    FUZZ_CHECK(Terminated(c.log));
    for (int i = 0; i < c.deviceCount; i++) {
        const DeviceConfig& d = c.devices[i];
        FUZZ_CHECK(d.adapter <= kMaxAdapterId && d.target <= kMaxTargetId);
        for (int j = 0; j < i; j++)
            FUZZ_CHECK(c.devices[j].adapter != d.adapter || c.devices[j].target != d.target);
        FUZZ_CHECK(std::memchr(kTypes, d.type, sizeof kTypes) != nullptr);
        FUZZ_CHECK(Terminated(d.image));
        FUZZ_CHECK(d.readErrorCount >= 0 && d.readErrorCount <= kMaxReadErrorRanges);
        for (int r = 0; r < d.readErrorCount; r++)
            FUZZ_CHECK(d.readErrors[r].first <= d.readErrors[r].last);
        FUZZ_CHECK(d.delayMs <= kMaxWaitMs && d.hangMs <= kMaxWaitMs);
    }
}

void Parse(const char* text, size_t size, const char* dir) {
    std::unique_ptr<DriveConfig> config(new DriveConfig());
    int notes = 0;
    ParseDriveConfig(text, size, dir, config.get(), CheckNote, &notes);
    CheckConfig(*config);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The text's own copy, exactly its size, so a read past it is caught.
    std::unique_ptr<char[]> text(new char[size ? size : 1]);
    if (size) std::memcpy(text.get(), data, size);
    Parse(text.get(), size, "C:\\drive");
    Parse(text.get(), size, "");
    // A folder that leaves no room for any relative path.
    static const std::string longDir(kMaxConfigPath - 1, 'd');
    Parse(text.get(), size, longDir.c_str());
    return 0;
}
