#include "contents/contents_find.h"

#include <string.h>

namespace {

int HexDigit(WCHAR c) {
    if (c >= L'0' && c <= L'9') return c - L'0';
    if (c >= L'a' && c <= L'f') return c - L'a' + 10;
    if (c >= L'A' && c <= L'F') return c - L'A' + 10;
    return -1;
}

FindParse ParseHex(LPCWSTR text, FindPattern* pattern) {
    size_t n = 0;
    for (size_t i = 0; text[i];) {
        if (text[i] == L' ' || text[i] == L'\t') {
            ++i;
            continue;
        }
        int high = HexDigit(text[i]);
        int low = high < 0 ? -1 : HexDigit(text[i + 1]);
        if (low < 0 || n == FIND_MAX_BYTES) return FIND_BAD_HEX;
        pattern->bytes[0][n++] = static_cast<BYTE>(high * 16 + low);
        i += 2;
    }
    pattern->length[0] = n;
    return n ? FIND_OK : FIND_EMPTY;
}

// Whether `pattern` form `form` matches at position `at` of the bytes that
// are the tail followed by `bytes`.
BOOL MatchesAt(const FindScanner& s, int form, size_t at, const BYTE* bytes) {
    const BYTE* want = s.pattern.bytes[form];
    for (size_t k = 0; k < s.pattern.length[form]; ++k) {
        size_t p = at + k;
        BYTE b = p < s.tailSize ? s.tail[p] : bytes[p - s.tailSize];
        if (b != want[k]) return FALSE;
    }
    return TRUE;
}

}  // namespace

FindParse ParseFindText(LPCWSTR text, BOOL hex, FindPattern* pattern) {
    memset(pattern, 0, sizeof *pattern);
    FindParse result = FIND_OK;
    if (hex) {
        result = ParseHex(text, pattern);
    } else {
        size_t n = 0;
        BOOL ascii = TRUE;
        for (; text[n] && 2 * (n + 1) <= FIND_MAX_BYTES; ++n) {
            pattern->bytes[1][2 * n] = static_cast<BYTE>(text[n] & 0xFF);
            pattern->bytes[1][2 * n + 1] = static_cast<BYTE>(text[n] >> 8);
            pattern->bytes[0][n] = static_cast<BYTE>(text[n]);
            ascii = ascii && text[n] < 0x80;
        }
        pattern->length[0] = ascii ? n : 0;
        pattern->length[1] = 2 * n;
        result = n ? FIND_OK : FIND_EMPTY;
    }
    pattern->longest = pattern->length[0] > pattern->length[1] ? pattern->length[0] : pattern->length[1];
    return result;
}

void StartFind(FindScanner* scanner, const FindPattern& pattern) {
    memset(scanner, 0, sizeof *scanner);
    scanner->pattern = pattern;
}

BOOL FindInBytes(FindScanner* scanner, ULONGLONG address, const BYTE* bytes, size_t size, BOOL readable,
                 ULONGLONG from, ULONGLONG before, ULONGLONG* found) {
    FindScanner& s = *scanner;
    if (address != s.next || !readable) s.tailSize = 0;
    s.next = address + size;
    if (!readable || s.pattern.longest == 0) return FALSE;
    // Starts in the tail (a match that began in the bytes fed before),
    // one by one.
    ULONGLONG origin = address - s.tailSize;
    size_t total = s.tailSize + size;
    for (size_t at = 0; at < s.tailSize; ++at) {
        ULONGLONG where = origin + at;
        if (where < from) continue;
        if (where >= before) break;
        for (int form = 0; form < 2; ++form)
            if (s.pattern.length[form] && at + s.pattern.length[form] <= total && MatchesAt(s, form, at, bytes)) {
                *found = where;
                return TRUE;
            }
    }
    // Starts in these bytes: each form's first byte looked for with memchr,
    // the earliest match of the two forms taken.
    BOOL any = FALSE;
    ULONGLONG best = 0;
    size_t first = from > address ? static_cast<size_t>(from - address < size ? from - address : size) : 0;
    for (int form = 0; form < 2; ++form) {
        size_t length = s.pattern.length[form];
        const BYTE* want = s.pattern.bytes[form];
        if (!length || size < length || first > size - length) continue;
        const BYTE* end = bytes + size - length + 1;
        for (const BYTE* p = bytes + first; p < end; ++p) {
            p = static_cast<const BYTE*>(memchr(p, want[0], static_cast<size_t>(end - p)));
            if (!p || address + static_cast<size_t>(p - bytes) >= before) break;
            if (memcmp(p, want, length) == 0) {
                ULONGLONG where = address + static_cast<size_t>(p - bytes);
                if (!any || where < best) best = where;
                any = TRUE;
                break;
            }
        }
    }
    if (any) {
        *found = best;
        return TRUE;
    }
    // Keep the last longest - 1 bytes for a match that goes on.
    size_t keep = s.pattern.longest - 1;
    if (keep > total) keep = total;
    BYTE joined[FIND_MAX_BYTES];
    for (size_t k = 0; k < keep; ++k) {
        size_t p = total - keep + k;
        joined[k] = p < s.tailSize ? s.tail[p] : bytes[p - s.tailSize];
    }
    memcpy(s.tail, joined, keep);
    s.tailSize = keep;
    return FALSE;
}
