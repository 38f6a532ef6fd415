// The strings of an allocation: runs of at least N characters, ASCII
// (bytes 0x20 to 0x7E and tab) and UTF-16LE (letters, digits, punctuation,
// symbols and spaces of the common scripts, Chinese included; no control
// characters, no unpaired surrogates), found in bytes fed in address order.
//
// The list keeps each string's address, encoding, length and at most
// STRING_KEPT_UNITS of its text, in one pool; it stops at STRINGS_MAX
// strings, so its memory is bounded whatever the allocation holds.
#pragma once

#include "platform/platform.h"

#define STRING_MIN_SHORTEST 3
#define STRING_MIN_LONGEST 64
#define STRING_MIN_DEFAULT 4
// The text kept of one string; a longer one is cut there (its 长度 is whole).
#define STRING_KEPT_UNITS 512
#define STRINGS_MAX 1000000

enum StringEncoding { STRING_ASCII, STRING_UTF16 };

struct FoundString {
    ULONGLONG address;
    ULONGLONG characters;  // a surrogate pair is one character
    size_t text;           // its first unit in the pool
    DWORD units;           // the units kept in the pool
    StringEncoding encoding;
};

struct StringList {
    FoundString* items;
    size_t count;
    size_t capacity;
    WCHAR* pool;
    size_t poolUsed;
    size_t poolCapacity;
    BOOL full;  // STRINGS_MAX reached, or memory ran out: later strings are left out
};

// A run being followed.
struct StringRun {
    ULONGLONG start;
    ULONGLONG end;           // one past its last byte
    ULONGLONG characters;
    DWORD units;
    BOOL asciiOnly;          // UTF-16: ASCII text read two bytes at a time, so far
    BOOL lastEdge;           // UTF-16: the last unit is not two ASCII bytes
    WCHAR kept[STRING_KEPT_UNITS];
};

struct StringScanner {
    int shortest;
    ULONGLONG next;  // the address the bytes fed last ended at
    StringRun ascii;
    StringRun utf16;
    WORD highSurrogate;  // waiting for its low half; 0 when none
};

void StartStringScan(StringScanner* scanner, int shortest);
// Feeds `size` bytes from `address` (even address and size). Bytes that
// could not be read (`readable` FALSE), or a gap since the last bytes, end
// every run. Strings that end are added to `list`, in address order. An
// ASCII run that lies wholly inside a UTF-16 string (its characters' bytes
// read one at a time) is not a string of its own.
void ScanStrings(StringScanner* scanner, ULONGLONG address, const BYTE* bytes, size_t size, BOOL readable,
                 StringList* list);
// Ends the runs at the end of the allocation.
void EndStringScan(StringScanner* scanner, StringList* list);
void FreeStringList(StringList* list);

// Whether a UTF-16 unit (no surrogate) is a character a string may hold.
BOOL IsStringUnit(WORD unit);

// Whether `units` units of `text` hold `part` (terminated), without regard
// to case in the Latin, Greek and Cyrillic letters. An empty part is in
// every text.
BOOL StringHolds(const WCHAR* text, size_t units, const WCHAR* part);
