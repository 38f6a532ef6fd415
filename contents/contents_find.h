// Find in an allocation's bytes: a text as its ASCII bytes and as UTF-16LE,
// or hex bytes ("4D 6F 72"), looked for in bytes fed in address order.
#pragma once

#include "platform/platform.h"

#define FIND_MAX_BYTES 256
// The units of the find box's text that are read.
#define FIND_TEXT_UNITS (FIND_MAX_BYTES / 2 + 1)

struct FindPattern {
    BYTE bytes[2][FIND_MAX_BYTES];
    size_t length[2];  // 0: that form is not looked for
    size_t longest;
};

enum FindParse { FIND_OK, FIND_EMPTY, FIND_BAD_HEX };

// The forms of `text`: with `hex`, the bytes of pairs of hex digits
// (blanks between pairs are allowed, anything else is FIND_BAD_HEX);
// otherwise its UTF-16LE bytes and, when every character is ASCII, its
// ASCII bytes too.
FindParse ParseFindText(LPCWSTR text, BOOL hex, FindPattern* pattern);

// Follows the bytes fed so that a match may cross from one piece into
// the next; a gap or unreadable bytes break it.
struct FindScanner {
    FindPattern pattern;
    BYTE tail[FIND_MAX_BYTES];  // the last bytes fed, up to longest - 1
    size_t tailSize;
    ULONGLONG next;
};

void StartFind(FindScanner* scanner, const FindPattern& pattern);
// Looks at `size` bytes from `address`; TRUE with the address of the first
// match that starts at or after `from` and before `before`.
BOOL FindInBytes(FindScanner* scanner, ULONGLONG address, const BYTE* bytes, size_t size, BOOL readable,
                 ULONGLONG from, ULONGLONG before, ULONGLONG* found);
