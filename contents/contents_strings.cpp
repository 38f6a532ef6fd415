#include "contents/contents_strings.h"

#include <stdlib.h>
#include <string.h>

namespace {

// The blocks a UTF-16 string may use: Latin, Greek, Cyrillic, Armenian,
// Hebrew, Arabic, the Indic and South-East Asian scripts, Georgian,
// Hangul, punctuation and symbols, CJK with kana and bopomofo, and the
// full-width forms. Unassigned and private-use stretches are left out, so
// plain binary data forms fewer false strings.
constexpr WORD TextBlocks[][2] = {
    {0x0020, 0x007E}, {0x00A0, 0x036F}, {0x0370, 0x058F}, {0x0590, 0x06FF}, {0x0900, 0x0EFF},
    {0x10A0, 0x11FF}, {0x1E00, 0x1FFF}, {0x2010, 0x2027}, {0x2030, 0x205E}, {0x2070, 0x2BFF},
    {0x2E80, 0x2FDF}, {0x3000, 0x4DBF}, {0x4E00, 0x9FFF}, {0xAC00, 0xD7A3}, {0xF900, 0xFAFF},
    {0xFE30, 0xFE4F}, {0xFF01, 0xFFEE},
};

// The units of TextBlocks (and tab) as one bit each, so that judging a unit
// costs one look-up: the finder judges every two bytes of an allocation.
struct UnitBits {
    DWORD bits[0x10000 / 32];
};

constexpr UnitBits MakeUnitBits() {
    UnitBits u = {};
    u.bits['\t' / 32] |= 1u << ('\t' % 32);
    for (const auto& block : TextBlocks)
        for (DWORD unit = block[0]; unit <= block[1]; ++unit) u.bits[unit / 32] |= 1u << (unit % 32);
    return u;
}

constexpr UnitBits TextUnits = MakeUnitBits();

inline BOOL AsciiText(BYTE b) { return (b >= 0x20 && b <= 0x7E) || b == '\t'; }

void Begin(StringRun* run, ULONGLONG start) {
    run->start = start;
    run->characters = 0;
    run->units = 0;
    run->asciiOnly = TRUE;
    run->lastEdge = FALSE;
}

// Whether a UTF-16 run is still ASCII text read two bytes at a time after
// the unit (low, high): every unit two printable ASCII bytes, but for its
// first and last, which may hold the text's edge (a NUL before text at an
// odd address, after text of odd length, or any byte that follows it).
void JudgeAscii(StringRun* run, BYTE low, BYTE high) {
    if (run->lastEdge) run->asciiOnly = FALSE;  // that unit was not the last
    run->lastEdge = FALSE;
    if (AsciiText(low) && AsciiText(high)) return;
    if (run->characters > 0) run->lastEdge = TRUE;
}

void Keep(StringRun* run, WCHAR unit) {
    if (run->units < STRING_KEPT_UNITS) run->kept[run->units++] = unit;
}

BOOL Grow(void** block, size_t* capacity, size_t wanted, size_t itemSize) {
    if (wanted <= *capacity) return TRUE;
    size_t next = *capacity ? *capacity * 2 : 1024;
    while (next < wanted) next *= 2;
    void* grown = realloc(*block, next * itemSize);
    if (!grown) return FALSE;
    *block = grown;
    *capacity = next;
    return TRUE;
}

// Adds a finished run as a string when it is long enough (and, for
// UTF-16, not ASCII text read two bytes at a time), and empties the run.
void Finish(StringScanner* scanner, StringRun* run, StringEncoding encoding, StringList* list) {
    ULONGLONG characters = run->characters;
    run->characters = 0;
    if (characters < static_cast<ULONGLONG>(scanner->shortest) || (encoding == STRING_UTF16 && run->asciiOnly) ||
        list->full)
        return;
    void* items = list->items;
    void* pool = list->pool;
    BOOL room = list->count < STRINGS_MAX && Grow(&items, &list->capacity, list->count + 1, sizeof(FoundString));
    list->items = static_cast<FoundString*>(items);
    room = room && Grow(&pool, &list->poolCapacity, list->poolUsed + run->units, sizeof(WCHAR));
    list->pool = static_cast<WCHAR*>(pool);
    if (!room) {
        list->full = TRUE;
        return;
    }
    while (encoding == STRING_UTF16 && list->count > 0) {
        const FoundString& last = list->items[list->count - 1];
        if (last.encoding != STRING_ASCII || last.address < run->start || last.address + last.characters > run->end)
            break;
        list->count--;
    }
    // Runs end in the order of their ends: the new string goes before the
    // ones that start after it.
    size_t place = list->count++;
    while (place > 0 && list->items[place - 1].address > run->start) {
        list->items[place] = list->items[place - 1];
        --place;
    }
    FoundString& s = list->items[place];
    s.address = run->start;
    s.characters = characters;
    s.text = list->poolUsed;
    s.units = run->units;
    s.encoding = encoding;
    memcpy(list->pool + list->poolUsed, run->kept, run->units * sizeof(WCHAR));
    list->poolUsed += run->units;
}

void EndRuns(StringScanner* scanner, StringList* list) {
    Finish(scanner, &scanner->ascii, STRING_ASCII, list);
    Finish(scanner, &scanner->utf16, STRING_UTF16, list);
    scanner->highSurrogate = 0;
}

void ScanAscii(StringScanner* scanner, ULONGLONG address, BYTE b, StringList* list) {
    StringRun& run = scanner->ascii;
    if (!AsciiText(b)) {
        if (run.characters) Finish(scanner, &run, STRING_ASCII, list);
        return;
    }
    if (run.characters == 0) Begin(&run, address);
    Keep(&run, b);
    run.characters++;
}

void ScanUnit(StringScanner* scanner, ULONGLONG address, BYTE low, BYTE high, StringList* list) {
    StringRun& run = scanner->utf16;
    WORD unit = static_cast<WORD>(low | (high << 8));
    if (scanner->highSurrogate) {
        WORD first = scanner->highSurrogate;
        scanner->highSurrogate = 0;
        // A pair outside the private-use planes is one character.
        if (unit >= 0xDC00 && unit <= 0xDFFF && first < 0xDB80) {
            if (run.characters == 0) Begin(&run, address - 2);
            if (run.units + 2 <= STRING_KEPT_UNITS) {
                Keep(&run, first);
                Keep(&run, unit);
            }
            JudgeAscii(&run, 0, 0);
            run.characters++;
            run.end = address + 2;
            return;
        }
        Finish(scanner, &run, STRING_UTF16, list);  // the high half stood alone
    }
    if (unit >= 0xD800 && unit <= 0xDBFF) {
        scanner->highSurrogate = unit;
        return;
    }
    if (!IsStringUnit(unit)) {
        if (run.characters) Finish(scanner, &run, STRING_UTF16, list);
        return;
    }
    if (run.characters == 0) Begin(&run, address);
    JudgeAscii(&run, low, high);
    Keep(&run, unit);
    run.characters++;
    run.end = address + 2;
}

}  // namespace

BOOL IsStringUnit(WORD unit) { return (TextUnits.bits[unit / 32] >> (unit % 32)) & 1; }

void StartStringScan(StringScanner* scanner, int shortest) {
    memset(scanner, 0, sizeof *scanner);
    scanner->shortest = shortest;
}

void ScanStrings(StringScanner* scanner, ULONGLONG address, const BYTE* bytes, size_t size, BOOL readable,
                 StringList* list) {
    if (address != scanner->next || !readable) EndRuns(scanner, list);
    scanner->next = address + size;
    if (!readable) return;
    for (size_t i = 0; i + 1 < size; i += 2) {
        // Zeros between strings, as memory mostly holds, are passed over.
        if (!scanner->ascii.characters && !scanner->utf16.characters && !scanner->highSurrogate)
            while (i + 1 < size && bytes[i] == 0 && bytes[i + 1] == 0) i += 2;
        if (i + 1 >= size) break;
        ScanAscii(scanner, address + i, bytes[i], list);
        ScanAscii(scanner, address + i + 1, bytes[i + 1], list);
        ScanUnit(scanner, address + i, bytes[i], bytes[i + 1], list);
    }
}

void EndStringScan(StringScanner* scanner, StringList* list) { EndRuns(scanner, list); }

void FreeStringList(StringList* list) {
    free(list->items);
    free(list->pool);
    memset(list, 0, sizeof *list);
}

namespace {

WCHAR Folded(WCHAR c) {
    if (c >= L'A' && c <= L'Z') return static_cast<WCHAR>(c + 32);
    if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return static_cast<WCHAR>(c + 32);
    if (c >= 0x391 && c <= 0x3A9) return static_cast<WCHAR>(c + 32);
    if (c >= 0x410 && c <= 0x42F) return static_cast<WCHAR>(c + 32);
    return c;
}

}  // namespace

BOOL StringHolds(const WCHAR* text, size_t units, const WCHAR* part) {
    size_t n = 0;
    while (part[n]) ++n;
    if (n == 0) return TRUE;
    for (size_t at = 0; at + n <= units; ++at) {
        size_t k = 0;
        while (k < n && Folded(text[at + k]) == Folded(part[k])) ++k;
        if (k == n) return TRUE;
    }
    return FALSE;
}
