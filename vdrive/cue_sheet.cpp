#include "vdrive/cue_sheet.h"

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
constexpr int kMaxWords = 4;
constexpr int kQuotedChars = 40; // how much of a bad word a message repeats
constexpr unsigned char kByteOrderMark[] = {0xEF, 0xBB, 0xBF};
constexpr unsigned char kDelete = 0x7F;

const char* const kSkippedCommands[] = {"REM",  "CATALOG",   "CDTEXTFILE", "FLAGS",
                                        "ISRC", "PERFORMER", "SONGWRITER", "TITLE"};

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

bool IsText(const char* p, size_t n) {
    for (size_t i = 0; i < n; i++) {
        unsigned char c = (unsigned char)p[i];
        if ((c < ' ' && c != '\t') || c == kDelete) return false;
    }
    return true;
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
    CuePos lastPos = {};
    int lastIndex = -1; // highest INDEX number of the current track
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
        if (name.n >= size_t(kMaxCueName)) return Fail(error, lineNo, "FILE name is too long");
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
        if (!CheckArgs(l, kCommandWords, "TRACK nn AUDIO, MODE1/2352 or MODE2/2352")) return false;
        if (sheet->fileCount == 0) return Fail(error, lineNo, "TRACK before any FILE");
        int number;
        const Word& n = l.words[1];
        if (!ParseSmall(n, &number) || number < 1)
            return Fail(error, lineNo, "track number '%.*s' is not 01 to 99", Shown(n), n.p);
        TrackMode mode;
        const Word& type = l.words[2];
        if (Is(type, "AUDIO"))
            mode = TrackMode::Audio;
        else if (Is(type, "MODE1/2352"))
            mode = TrackMode::Mode1Raw;
        else if (Is(type, "MODE2/2352"))
            mode = TrackMode::Mode2Raw;
        else
            return Fail(error, lineNo,
                        "track type '%.*s' is not supported (AUDIO, MODE1/2352 or MODE2/2352)",
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
        t->mode = mode;
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
        CuePos pos = {sheet->fileCount - 1, frame};
        if (havePos && pos.file == lastPos.file && frame <= lastPos.frame)
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
        lastPos = pos;
        havePos = true;
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
        return Fail(error, lineNo, "unknown command '%.*s'", Shown(cmd), cmd.p);
    }
};

} // namespace

bool ParseCueSheet(const char* text, size_t length, CueSheet* sheet, CueError* error) {
    sheet->fileCount = 0;
    sheet->trackCount = 0;
    error->line = 0;
    error->message[0] = 0;
    Parser parser;
    parser.sheet = sheet;
    parser.error = error;
    size_t i = 0;
    if (length >= sizeof kByteOrderMark &&
        std::memcmp(text, kByteOrderMark, sizeof kByteOrderMark) == 0)
        i = sizeof kByteOrderMark;
    while (i < length) {
        size_t end = i;
        while (end < length && text[end] != '\n') end++;
        size_t n = end - i;
        if (n > 0 && text[i + n - 1] == '\r') n--;
        parser.lineNo++;
        if (!parser.OnLine(text + i, n)) return false;
        i = end + 1;
    }
    if (sheet->trackCount == 0) return Fail(error, 0, "no TRACK in the sheet");
    return parser.FinishTrack() && parser.FinishFile() && parser.FinishSession();
}

namespace {

// Lays the disc out extent by extent: the FILEs' frames one after another
// ("recorded" frames, counted across the FILEs), with gaps put between them.
struct DiscBuilder {
    DiscLayout* layout;
    const uint32_t* fileStart; // of each FILE in recorded frames, and past the last
    CueError* error;
    uint64_t disc = 0;     // the next sector
    uint32_t recorded = 0; // the next recorded frame

    bool Add(ExtentKind kind, uint32_t frames, int file = -1, uint32_t fileFrame = 0) {
        if (frames == 0) return true;
        if (disc + frames > kMaxDiscSectors || layout->extentCount >= kMaxExtents)
            return Fail(error, 0, "the disc is too large");
        layout->extents[layout->extentCount++] = {uint32_t(disc), frames, kind, file, fileFrame};
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
        if (bytes % kSectorBytes && sheet.fileTypes[f] == FileType::Binary)
            return Fail(
                error, sheet.fileLines[f],
                "FILE \"%s\" is not a whole number of 2352-byte sectors (%u bytes left over)",
                sheet.files[f], unsigned(bytes % kSectorBytes));
        total += (bytes + kSectorBytes - 1) / kSectorBytes;
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

    DiscBuilder b = {layout, fileStart, error};
    layout->trackCount = sheet.trackCount;
    for (int t = 0; t < sheet.trackCount; t++) {
        const CueTrack& ct = sheet.tracks[t];
        if (!b.AddRecorded(recorded[t][0])) return false;
        if (t > 0) {
            if (!b.Add(ExtentKind::Silence, sheet.tracks[t - 1].postgapSilence)) return false;
            // A later session: the gap up to its first track's own pregap,
            // which stands for the standard one as far as it goes.
            uint32_t ownPregap = ct.pregapSilence + (recorded[t][1] - recorded[t][0]);
            uint32_t unreadable = kSessionLeadOutFrames + kSessionLeadInFrames;
            if (ownPregap < kStandardPregapFrames) unreadable += kStandardPregapFrames - ownPregap;
            if (ct.session != sheet.tracks[t - 1].session &&
                !b.Add(ExtentKind::Unreadable, unreadable))
                return false;
        }
        DiscTrack& dt = layout->tracks[t];
        dt.number = ct.number;
        dt.mode = ct.mode;
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
