#include "vdrive/cue_sheet.h"

#include "vdrive/cd_text_packs.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace vdrive {

namespace {

constexpr uint32_t kMaxMinutes = 99;
constexpr int kMaxIndexNumber = 99;
constexpr int kMaxNumberDigits = 2;
constexpr int kMaxMinuteDigits = 3;
constexpr int kMsfParts = 3;
constexpr int kCommandWords = 3; // FILE, TRACK and INDEX take two arguments
constexpr int kGapWords = 2;     // PREGAP and POSTGAP one
constexpr int kMaxSessionNumber = kMaxSessions;
constexpr uint32_t kDecimal = 10;
constexpr int kMaxWords = 6;     // FLAGS and its four flags
constexpr int kQuotedChars = 40; // how much of a bad word a message repeats
constexpr unsigned char kByteOrderMark[] = {0xEF, 0xBB, 0xBF};
constexpr unsigned char kByteOrderMark16Le[] = {0xFF, 0xFE};
constexpr unsigned char kByteOrderMark16Be[] = {0xFE, 0xFF};
constexpr unsigned char kDelete = 0x7F;
constexpr char kEndOfFile = 0x1A;             // Ctrl-Z, which old editors put at the end
constexpr uint32_t kUnitsOfSupplementary = 2; // a character above U+FFFF in UTF-16
constexpr size_t kUtf16Bytes = 2;
constexpr size_t kMaxUtf8PerUnit = 3;
constexpr unsigned char kUtf8Continuation = 0x80, kUtf8TwoBytes = 0xC0, kUtf8ThreeBytes = 0xE0,
                        kUtf8FourBytes = 0xF0, kUtf8PayloadMask = 0x3F;
constexpr int kUtf8PayloadBits = 6;
constexpr char32_t kHighSurrogates = 0xD800, kLowSurrogates = 0xDC00, kAboveSurrogates = 0xE000;
constexpr char32_t kSupplementary = 0x10000, kTwoByteLimit = 0x800;
constexpr int kSurrogateBits = 10;

const char* const kSkippedCommands[] = {"REM",       "CATALOG",   "ISRC",      "ARRANGER",
                                        "COMPOSER",  "DISC_ID",   "GENRE",     "MESSAGE",
                                        "SIZE_INFO", "TOC_INFO1", "TOC_INFO2", "UPC_EAN"};
const char* const kTextCommands[kCueTextFields] = {"TITLE", "PERFORMER", "SONGWRITER"};

struct ModeName {
    const char* name;
    TrackMode mode;
};
const ModeName kModes[] = {
    {"AUDIO", TrackMode::Audio},          {"MODE1/2352", TrackMode::Mode1Raw},
    {"MODE2/2352", TrackMode::Mode2Raw},  {"MODE1/2048", TrackMode::Mode1Cooked},
    {"MODE2/2336", TrackMode::Mode2Form}, {"CDI/2352", TrackMode::CdiRaw}};
// What EAC writes for a data track that it did not rip.
constexpr char kUnrippedData[] = "MODEX/2XXX";

struct FlagName {
    const char* name;
    uint8_t control;
};
// DATA is the track type's to say and SCMS has no place in CONTROL: both are taken, and pass.
const FlagName kFlags[] = {{"DCP", kControlCopyPermitted},
                           {"4CH", kControlFourChannel},
                           {"PRE", kControlPreEmphasis},
                           {"SCMS", 0},
                           {"DATA", 0}};

struct Word {
    const char* p;
    size_t n;
};

struct Line {
    Word words[kMaxWords];
    int count; // may exceed kMaxWords: the extra words are counted, not kept
    bool openQuote;
};

bool Fail(CueError* error, int line, const char* format, ...) {
    error->line = line;
    va_list args;
    va_start(args, format);
    std::vsnprintf(error->message, sizeof error->message, format, args);
    va_end(args);
    return false;
}

bool Is(const Word& w, const char* s) {
    size_t n = std::strlen(s);
    if (w.n != n) return false;
    for (size_t i = 0; i < n; i++) {
        char c = w.p[i];
        if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
        if (c != s[i]) return false;
    }
    return true;
}

int Shown(const Word& w) {
    return w.n < size_t(kQuotedChars) ? int(w.n) : kQuotedChars;
}

// Writes `c` in UTF-8; returns its bytes, 1 to 4.
size_t PutUtf8(char32_t c, char* out) {
    if (c < kUtf8Continuation) {
        out[0] = char(c);
        return 1;
    }
    size_t n = c < kTwoByteLimit ? 2 : c < kSupplementary ? 3 : 4;
    const unsigned char lead[] = {0, 0, kUtf8TwoBytes, kUtf8ThreeBytes, kUtf8FourBytes};
    for (size_t k = n - 1; k > 0; k--, c >>= kUtf8PayloadBits)
        out[k] = char(kUtf8Continuation | (c & kUtf8PayloadMask));
    out[0] = char(lead[n] | c);
    return n;
}

} // namespace

bool IsUtf8(const char* p, size_t n) {
    for (size_t i = 0; i < n;) {
        unsigned char c = (unsigned char)p[i++];
        size_t more = c < kUtf8Continuation ? 0
                      : c < kUtf8TwoBytes   ? kMaxUtf8PerUnit + 1
                      : c < kUtf8ThreeBytes ? 1
                      : c < kUtf8FourBytes  ? 2
                                            : 3;
        if (more > kMaxUtf8PerUnit) return false;
        for (; more; more--)
            if (i >= n || ((unsigned char)p[i++] & kUtf8TwoBytes) != kUtf8Continuation)
                return false;
    }
    return true;
}

namespace {

bool IsText(const char* p, size_t n) {
    for (size_t i = 0; i < n; i++) {
        unsigned char c = (unsigned char)p[i];
        if ((c < ' ' && c != '\t') || c == kDelete) return false;
    }
    return true;
}

// The UTF-16 units of a name in UTF-8; of a name in another code page, its bytes.
size_t WindowsLength(const Word& w) {
    size_t units = 0;
    for (size_t i = 0; i < w.n; i++) {
        unsigned char c = (unsigned char)w.p[i];
        if (c >= kUtf8Continuation && c < kUtf8TwoBytes) continue;
        units += c >= kUtf8FourBytes ? kUnitsOfSupplementary : 1;
    }
    return IsUtf8(w.p, w.n) ? units : w.n;
}

Line Split(const char* p, size_t n) {
    Line line = {};
    size_t i = 0;
    for (;;) {
        while (i < n && (p[i] == ' ' || p[i] == '\t')) i++;
        if (i >= n) break;
        Word w;
        if (p[i] == '"') {
            size_t close = i + 1;
            while (close < n && p[close] != '"') close++;
            if (close >= n) {
                line.openQuote = true;
                break;
            }
            w = {p + i + 1, close - i - 1};
            i = close + 1;
        } else {
            size_t end = i;
            while (end < n && p[end] != ' ' && p[end] != '\t') end++;
            w = {p + i, end - i};
            i = end;
        }
        if (line.count < kMaxWords) line.words[line.count] = w;
        line.count++;
    }
    return line;
}

bool ParseSmall(const Word& w, int* value) {
    if (w.n == 0 || w.n > size_t(kMaxNumberDigits)) return false;
    int v = 0;
    for (size_t i = 0; i < w.n; i++) {
        if (w.p[i] < '0' || w.p[i] > '9') return false;
        v = v * int(kDecimal) + (w.p[i] - '0');
    }
    *value = v;
    return true;
}

// mm:ss:ff, two digits each (the minutes may have three)
bool ParseMsf(const Word& w, uint32_t* frames) {
    uint32_t part[kMsfParts] = {};
    size_t i = 0;
    for (int k = 0; k < kMsfParts; k++) {
        int digits = 0;
        while (i < w.n && w.p[i] >= '0' && w.p[i] <= '9' && digits < kMaxMinuteDigits) {
            part[k] = part[k] * kDecimal + uint32_t(w.p[i] - '0');
            i++;
            digits++;
        }
        if (digits == 0 || (k > 0 && digits > kMaxNumberDigits)) return false;
        if (k < kMsfParts - 1 && (i >= w.n || w.p[i++] != ':')) return false;
    }
    if (i != w.n || part[0] > kMaxMinutes || part[1] >= kSecondsPerMinute ||
        part[2] >= kFramesPerSecond)
        return false;
    *frames = (part[0] * kSecondsPerMinute + part[1]) * kFramesPerSecond + part[2];
    return true;
}

struct Parser {
    CueSheet* sheet;
    CueError* error;
    int lineNo = 0;
    bool fileUsed = false; // the current FILE holds an INDEX
    bool havePos = false;
    CuePos lastPos = {};      // of the last INDEX 00 or 01: only they place anything
    CuePos lastTrackPos = {}; // of the current track's last INDEX
    int lastIndex = -1;       // highest INDEX number of the current track
    bool pregapGiven = false, postgapGiven = false; // for the current track
    int pendingSession = 0;                         // a REM SESSION waiting for its first TRACK
    int pendingSessionLine = 0;

    CueTrack* Track() {
        return sheet->trackCount ? &sheet->tracks[sheet->trackCount - 1] : nullptr;
    }

    bool CheckArgs(const Line& l, int want, const char* usage) {
        if (l.count == want) return true;
        return Fail(error, lineNo, "expected %s", usage);
    }

    bool FinishFile() {
        if (sheet->fileCount == 0 || fileUsed) return true;
        int f = sheet->fileCount - 1;
        return Fail(error, sheet->fileLines[f], "FILE \"%s\" holds no INDEX", sheet->files[f]);
    }

    bool FinishTrack() {
        const CueTrack* t = Track();
        if (!t || t->hasStart) return true;
        return Fail(error, t->line, "track %02d has no INDEX 01", t->number);
    }

    bool FinishSession() {
        if (!pendingSession) return true;
        return Fail(error, pendingSessionLine, "REM SESSION %02d has no TRACK", pendingSession);
    }

    bool OnFile(const Line& l) {
        if (!CheckArgs(l, kCommandWords, "FILE \"name\" BINARY or FILE \"name\" WAVE"))
            return false;
        const Word& name = l.words[1];
        const Word& type = l.words[2];
        if (name.n == 0) return Fail(error, lineNo, "FILE has an empty name");
        if (WindowsLength(name) >= size_t(kMaxCueName) || name.n >= size_t(kMaxCueNameBytes))
            return Fail(error, lineNo, "FILE name is too long");
        FileType fileType;
        if (Is(type, "BINARY"))
            fileType = FileType::Binary;
        else if (Is(type, "WAVE"))
            fileType = FileType::Wave;
        else
            return Fail(error, lineNo, "file type '%.*s' is not supported (BINARY or WAVE)",
                        Shown(type), type.p);
        if (!FinishFile()) return false;
        if (sheet->fileCount >= kMaxCueFiles) return Fail(error, lineNo, "too many FILEs");
        int f = sheet->fileCount++;
        std::memcpy(sheet->files[f], name.p, name.n);
        sheet->files[f][name.n] = 0;
        sheet->fileTypes[f] = fileType;
        sheet->fileLines[f] = lineNo;
        fileUsed = false;
        return true;
    }

    bool OnTrack(const Line& l) {
        if (!CheckArgs(l, kCommandWords, "TRACK nn AUDIO, MODE1/2352 or another type"))
            return false;
        if (sheet->fileCount == 0) return Fail(error, lineNo, "TRACK before any FILE");
        int number;
        const Word& n = l.words[1];
        if (!ParseSmall(n, &number) || number < 1)
            return Fail(error, lineNo, "track number '%.*s' is not 01 to 99", Shown(n), n.p);
        const Word& type = l.words[2];
        const ModeName* mode = nullptr;
        for (const ModeName& m : kModes)
            if (Is(type, m.name)) mode = &m;
        if (Is(type, kUnrippedData))
            return Fail(error, lineNo, "track type '%.*s': a data track the ripper did not rip",
                        Shown(type), type.p);
        if (!mode)
            return Fail(error, lineNo,
                        "track type '%.*s' is not supported (AUDIO, MODE1/2352, MODE2/2352, "
                        "MODE1/2048, MODE2/2336 or CDI/2352)",
                        Shown(type), type.p);
        if (!FinishTrack()) return false;
        const CueTrack* prev = Track();
        if (prev && number != prev->number + 1)
            return Fail(error, lineNo, "track %02d follows track %02d", number, prev->number);
        CueTrack* t = &sheet->tracks[sheet->trackCount++];
        *t = CueTrack();
        t->number = number;
        t->line = lineNo;
        t->session = pendingSession ? pendingSession : prev ? prev->session : 1;
        t->mode = mode->mode;
        lastIndex = -1;
        pregapGiven = postgapGiven = false;
        pendingSession = 0;
        return true;
    }

    bool OnSession(const Line& l) {
        if (!CheckArgs(l, kCommandWords, "REM SESSION nn")) return false;
        int number;
        const Word& n = l.words[2];
        if (!ParseSmall(n, &number) || number < 1 || number > kMaxSessionNumber)
            return Fail(error, lineNo, "session number '%.*s' is not 01 to 99", Shown(n), n.p);
        if (pendingSession)
            return Fail(error, lineNo, "REM SESSION %02d follows REM SESSION %02d with no TRACK",
                        number, pendingSession);
        int next = Track() ? Track()->session + 1 : 1;
        if (number != next)
            return Fail(error, lineNo, "REM SESSION %02d: the next session is %02d", number, next);
        pendingSession = number;
        pendingSessionLine = lineNo;
        return true;
    }

    // PREGAP before the track's INDEX lines, POSTGAP after them, each once.
    bool OnGap(const Line& l, bool pre) {
        const char* name = pre ? "PREGAP" : "POSTGAP";
        if (l.count != kGapWords) return Fail(error, lineNo, "expected %s mm:ss:ff", name);
        CueTrack* t = Track();
        if (!t) return Fail(error, lineNo, "%s before any TRACK", name);
        uint32_t frames;
        const Word& at = l.words[1];
        if (!ParseMsf(at, &frames))
            return Fail(error, lineNo, "'%.*s' is not a time mm:ss:ff (ss below 60, ff below 75)",
                        Shown(at), at.p);
        bool& given = pre ? pregapGiven : postgapGiven;
        if (given) return Fail(error, lineNo, "a second %s for track %02d", name, t->number);
        if (pre && lastIndex >= 0)
            return Fail(error, lineNo, "PREGAP after an INDEX of track %02d", t->number);
        if (!pre && !t->hasStart)
            return Fail(error, lineNo, "POSTGAP before INDEX 01 of track %02d", t->number);
        given = true;
        (pre ? t->pregapSilence : t->postgapSilence) = frames;
        return true;
    }

    // The disc's text before the first TRACK, a track's after it. A text too
    // long is cut; one in several words without quotes keeps its first.
    bool OnText(const Line& l, int field) {
        if (l.count < 2) return Fail(error, lineNo, "expected %s \"text\"", kTextCommands[field]);
        const Word& w = l.words[1];
        char* text = sheet->texts[Track() ? Track()->number : 0][field];
        size_t n = w.n < size_t(kCueTextChars) ? w.n : size_t(kCueTextChars) - 1;
        std::memcpy(text, w.p, n);
        text[n] = 0;
        return true;
    }

    bool OnTextFile(const Line& l) {
        if (!CheckArgs(l, kGapWords, "CDTEXTFILE \"name\"")) return false;
        const Word& name = l.words[1];
        if (name.n == 0 || WindowsLength(name) >= size_t(kMaxCueName) ||
            name.n >= size_t(kMaxCueNameBytes))
            return Fail(error, lineNo, "CDTEXTFILE names no file it can open");
        std::memcpy(sheet->cdTextFile, name.p, name.n);
        sheet->cdTextFile[name.n] = 0;
        sheet->cdTextFileLine = lineNo;
        return true;
    }

    bool OnFlags(const Line& l) {
        CueTrack* t = Track();
        if (!t) return Fail(error, lineNo, "FLAGS before any TRACK");
        if (lastIndex >= 0)
            return Fail(error, lineNo, "FLAGS after an INDEX of track %02d", t->number);
        if (l.count > kMaxWords)
            return Fail(error, lineNo, "expected FLAGS and at most four flags");
        for (int i = 1; i < l.count; i++) {
            const FlagName* flag = nullptr;
            for (const FlagName& f : kFlags)
                if (Is(l.words[i], f.name)) flag = &f;
            if (!flag)
                return Fail(error, lineNo, "unknown flag '%.*s' (DCP, 4CH, PRE or SCMS)",
                            Shown(l.words[i]), l.words[i].p);
            t->control |= flag->control;
        }
        return true;
    }

    bool OnIndex(const Line& l) {
        if (!CheckArgs(l, kCommandWords, "INDEX nn mm:ss:ff")) return false;
        CueTrack* t = Track();
        if (!t) return Fail(error, lineNo, "INDEX before any TRACK");
        int number;
        uint32_t frame;
        const Word& n = l.words[1];
        const Word& at = l.words[2];
        if (!ParseSmall(n, &number) || number > kMaxIndexNumber)
            return Fail(error, lineNo, "index number '%.*s' is not 00 to 99", Shown(n), n.p);
        if (!ParseMsf(at, &frame))
            return Fail(error, lineNo, "'%.*s' is not a time mm:ss:ff (ss below 60, ff below 75)",
                        Shown(at), at.p);
        if (number <= lastIndex)
            return Fail(error, lineNo, "INDEX %02d follows INDEX %02d", number, lastIndex);
        if (number > 1 && !t->hasStart)
            return Fail(error, lineNo, "INDEX %02d before INDEX 01", number);
        if (postgapGiven) return Fail(error, lineNo, "INDEX %02d after POSTGAP", number);
        // INDEX 02 and up mark places within their track, and may share a
        // frame with the next track's INDEX 00.
        CuePos pos = {sheet->fileCount - 1, frame};
        bool places = number <= 1;
        const CuePos& before = places ? lastPos : lastTrackPos;
        if ((places ? havePos : lastIndex >= 0) && pos.file == before.file && frame <= before.frame)
            return Fail(error, lineNo, "INDEX %02d at %.*s does not come after the one before it",
                        number, Shown(at), at.p);
        if (number == 0) {
            t->hasPregap = true;
            t->pregap = pos;
        } else if (number == 1) {
            t->hasStart = true;
            t->start = pos;
        }
        lastIndex = number;
        lastTrackPos = pos;
        if (places) lastPos = pos, havePos = true;
        fileUsed = true;
        return true;
    }

    bool OnLine(const char* p, size_t n) {
        if (!IsText(p, n)) return Fail(error, lineNo, "not a line of text");
        Line l = Split(p, n);
        if (l.openQuote) return Fail(error, lineNo, "a quote is not closed");
        if (l.count == 0) return true;
        const Word& cmd = l.words[0];
        if (Is(cmd, "REM") && l.count > 1 && Is(l.words[1], "SESSION")) return OnSession(l);
        for (const char* skip : kSkippedCommands)
            if (Is(cmd, skip)) return true;
        if (Is(cmd, "FILE")) return OnFile(l);
        if (Is(cmd, "TRACK")) return OnTrack(l);
        if (Is(cmd, "INDEX")) return OnIndex(l);
        if (Is(cmd, "PREGAP")) return OnGap(l, true);
        if (Is(cmd, "POSTGAP")) return OnGap(l, false);
        if (Is(cmd, "FLAGS")) return OnFlags(l);
        if (Is(cmd, "CDTEXTFILE")) return OnTextFile(l);
        for (int field = 0; field < kCueTextFields; field++)
            if (Is(cmd, kTextCommands[field])) return OnText(l, field);
        return Fail(error, lineNo, "unknown command '%.*s'", Shown(cmd), cmd.p);
    }
};

} // namespace

uint32_t SectorBytesOf(TrackMode mode) {
    switch (mode) {
        case TrackMode::Mode1Cooked: return 2048;
        case TrackMode::Mode2Form: return 2336;
        default: return kSectorBytes;
    }
}

size_t Utf8BytesOfSheet(const char* text, size_t length) {
    bool utf16 = length >= sizeof kByteOrderMark16Le &&
                 (std::memcmp(text, kByteOrderMark16Le, sizeof kByteOrderMark16Le) == 0 ||
                  std::memcmp(text, kByteOrderMark16Be, sizeof kByteOrderMark16Be) == 0);
    return utf16 ? length / kUtf16Bytes * kMaxUtf8PerUnit : 0;
}

size_t Utf16SheetToUtf8(const char* text, size_t length, char* out) {
    const unsigned char* in = reinterpret_cast<const unsigned char*>(text);
    bool little = std::memcmp(in, kByteOrderMark16Le, sizeof kByteOrderMark16Le) == 0;
    auto unit = [&](size_t i) {
        return little ? char32_t(in[i] | in[i + 1] << 8) : char32_t(in[i] << 8 | in[i + 1]);
    };
    size_t n = 0;
    for (size_t i = kUtf16Bytes; i + 1 < length; i += kUtf16Bytes) {
        char32_t c = unit(i);
        // A pair of surrogates is one character; one alone passes as it is.
        char32_t next = i + 3 < length ? unit(i + kUtf16Bytes) : 0;
        if (c >= kHighSurrogates && c < kLowSurrogates && next >= kLowSurrogates &&
            next < kAboveSurrogates) {
            c = kSupplementary + ((c - kHighSurrogates) << kSurrogateBits) +
                (next - kLowSurrogates);
            i += kUtf16Bytes;
        }
        n += PutUtf8(c, out + n);
    }
    return n;
}

bool ParseCueSheet(const char* text, size_t length, CueSheet* sheet, CueError* error) {
    sheet->fileCount = 0;
    sheet->trackCount = 0;
    std::memset(sheet->texts, 0, sizeof sheet->texts);
    sheet->cdTextFile[0] = 0;
    error->line = 0;
    error->message[0] = 0;
    Parser parser;
    parser.sheet = sheet;
    parser.error = error;
    size_t i = 0;
    if (length >= sizeof kByteOrderMark &&
        std::memcmp(text, kByteOrderMark, sizeof kByteOrderMark) == 0)
        i = sizeof kByteOrderMark;
    while (length > i && text[length - 1] == kEndOfFile) length--;
    while (i < length) {
        size_t end = i;
        while (end < length && text[end] != '\n' && text[end] != '\r') end++;
        parser.lineNo++;
        if (!parser.OnLine(text + i, end - i)) return false;
        // CRLF ends one line; CR alone (old Macs) and LF alone end one each.
        i = end + (end + 1 < length && text[end] == '\r' && text[end + 1] == '\n' ? 2 : 1);
    }
    if (sheet->trackCount == 0) return Fail(error, 0, "no TRACK in the sheet");
    return parser.FinishTrack() && parser.FinishFile() && parser.FinishSession();
}

namespace {

CuePos FirstIndex(const CueTrack& t) {
    return t.hasPregap ? t.pregap : t.start;
}

struct FileWalk {
    uint32_t frames;
    uint64_t bytes;
};

// Walks FILE f's sectors from its start up to frame `upTo` or the last whole
// sector in `bytes`, whichever comes first. Each sector has the size of its
// track's, the track that owns it from its first INDEX on; before the first
// track that begins in f, of the track the FILE line came in.
FileWalk WalkFile(const CueSheet& sheet, int f, uint64_t bytes, uint32_t upTo) {
    int owner = 0;
    for (int t = 0; t < sheet.trackCount; t++)
        if (FirstIndex(sheet.tracks[t]).file < f) owner = t;
    uint32_t size = SectorBytesOf(sheet.tracks[owner].mode);
    FileWalk w = {0, 0};
    for (int t = 0; t <= sheet.trackCount; t++) {
        uint32_t end = upTo;
        if (t < sheet.trackCount) {
            CuePos p = FirstIndex(sheet.tracks[t]);
            if (p.file != f) continue;
            end = p.frame < upTo ? p.frame : upTo;
        }
        uint64_t whole = (bytes - w.bytes) / size;
        uint32_t n = end - w.frames < whole ? end - w.frames : uint32_t(whole);
        w.frames += n;
        w.bytes += uint64_t(n) * size;
        if (w.frames < end || end == upTo) break;
        size = SectorBytesOf(sheet.tracks[t].mode);
    }
    return w;
}

// Lays the disc out extent by extent: the FILEs' frames one after another
// ("recorded" frames, counted across the FILEs), with gaps put between them.
struct DiscBuilder {
    DiscLayout* layout;
    const CueSheet& sheet;
    const uint32_t* fileStart; // of each FILE in recorded frames, and past the last
    CueError* error;
    uint64_t disc = 0;     // the next sector
    uint32_t recorded = 0; // the next recorded frame

    bool Add(ExtentKind kind, uint32_t frames, int file = -1, uint32_t fileFrame = 0) {
        if (frames == 0) return true;
        if (disc + frames > kMaxDiscSectors || layout->extentCount >= kMaxExtents)
            return Fail(error, 0, "the disc is too large");
        uint64_t fileByte =
            file < 0 ? 0 : WalkFile(sheet, file, layout->fileBytes[file], fileFrame).bytes;
        layout->extents[layout->extentCount++] = {uint32_t(disc), frames,    kind,
                                                  file,           fileFrame, fileByte};
        disc += frames;
        return true;
    }

    // The recorded frames up to `end`, a piece for each FILE they lie in.
    bool AddRecorded(uint32_t end) {
        for (int f = 0; recorded < end; f++) {
            if (recorded >= fileStart[f + 1]) continue;
            uint32_t upTo = end < fileStart[f + 1] ? end : fileStart[f + 1];
            if (!Add(ExtentKind::File, upTo - recorded, f, recorded - fileStart[f])) return false;
            recorded = upTo;
        }
        return true;
    }
};

} // namespace

bool LayOutDisc(const CueSheet& sheet, const uint64_t* fileBytes, DiscLayout* layout,
                CueError* error) {
    error->line = 0;
    error->message[0] = 0;
    layout->fileCount = sheet.fileCount;
    layout->extentCount = 0;
    uint32_t fileStart[kMaxCueFiles + 1] = {};
    uint64_t total = 0;
    for (int f = 0; f < sheet.fileCount; f++) {
        uint64_t bytes = fileBytes[f];
        layout->fileBytes[f] = bytes;
        if (bytes == 0)
            return Fail(error, sheet.fileLines[f], "FILE \"%s\" is empty", sheet.files[f]);
        // A WAVE's samples need not fill the last frame: the rest is silence.
        // Bytes past a BIN's last whole sector are no frame, and no harm.
        FileWalk w = WalkFile(sheet, f, bytes, UINT32_MAX);
        total += w.frames + (w.bytes < bytes && sheet.fileTypes[f] == FileType::Wave);
        if (total > kMaxDiscSectors)
            return Fail(error, sheet.fileLines[f], "FILE \"%s\" makes the disc too large",
                        sheet.files[f]);
        fileStart[f + 1] = uint32_t(total);
    }
    // Where each track's pregap and INDEX 01 lie among the recorded frames.
    uint32_t recorded[kMaxTracks][2];
    for (int t = 0; t < sheet.trackCount; t++) {
        const CueTrack& ct = sheet.tracks[t];
        CuePos where[2] = {ct.hasPregap ? ct.pregap : ct.start, ct.start};
        for (int k = 0; k < 2; k++) {
            int f = where[k].file;
            if (where[k].frame >= fileStart[f + 1] - fileStart[f])
                return Fail(error, ct.line, "track %02d: INDEX %02d lies past the end of \"%s\"",
                            ct.number, k == 0 && ct.hasPregap ? 0 : 1, sheet.files[f]);
            recorded[t][k] = fileStart[f] + where[k].frame;
        }
    }

    DiscBuilder b = {layout, sheet, fileStart, error};
    layout->trackCount = sheet.trackCount;
    for (int t = 0; t < sheet.trackCount; t++) {
        const CueTrack& ct = sheet.tracks[t];
        if (!b.AddRecorded(recorded[t][0])) return false;
        if (t > 0) {
            if (!b.Add(ExtentKind::Silence, sheet.tracks[t - 1].postgapSilence)) return false;
            // A later session: the gap up to its first track's own pregap,
            // which stands for the standard one as far as it goes.
            uint32_t ownPregap = ct.pregapSilence + (recorded[t][1] - recorded[t][0]);
            bool second = ct.session == 2;
            uint32_t unreadable =
                (second ? kFirstSessionLeadOutFrames : kLaterSessionLeadOutFrames) +
                kSessionLeadInFrames;
            if (ownPregap < kStandardPregapFrames) unreadable += kStandardPregapFrames - ownPregap;
            if (ct.session != sheet.tracks[t - 1].session &&
                !b.Add(ExtentKind::Unreadable, unreadable))
                return false;
        }
        DiscTrack& dt = layout->tracks[t];
        dt.number = ct.number;
        dt.mode = ct.mode;
        dt.control = ct.control;
        dt.session = ct.session;
        dt.pregapStart = uint32_t(b.disc);
        if (!b.Add(ExtentKind::Silence, ct.pregapSilence) || !b.AddRecorded(recorded[t][1]))
            return false;
        dt.start = uint32_t(b.disc);
    }
    if (!b.AddRecorded(fileStart[sheet.fileCount]) ||
        !b.Add(ExtentKind::Silence, sheet.tracks[sheet.trackCount - 1].postgapSilence))
        return false;
    layout->leadOut = uint32_t(b.disc);
    layout->sessionCount = sheet.tracks[sheet.trackCount - 1].session;
    BuildCdTextPacks(sheet, layout);
    return true;
}

int ExtentIndexOf(const DiscLayout& layout, uint32_t lba) {
    int low = 0, high = layout.extentCount - 1;
    while (low < high) {
        int mid = (low + high + 1) / 2;
        if (layout.extents[mid].start <= lba)
            low = mid;
        else
            high = mid - 1;
    }
    return low;
}

int TrackIndexOf(const DiscLayout& layout, uint32_t lba) {
    if (lba >= layout.leadOut || layout.trackCount == 0) return -1;
    int t = layout.trackCount - 1;
    while (t > 0 && lba < layout.tracks[t].start) t--;
    return t;
}

int RecordedTrackIndexOf(const DiscLayout& layout, uint32_t lba) {
    if (lba >= layout.leadOut || layout.trackCount == 0) return -1;
    int t = layout.trackCount - 1;
    while (t > 0 && lba < layout.tracks[t].pregapStart) t--;
    return t;
}

} // namespace vdrive
