#include "PrintableText.h"

#include <cstring>

namespace {

// How many of the `left` bytes at `text` the UTF-8 sequence there takes; 0 when it is no
// valid one.
int sequenceLength(const unsigned char* text, int left) {
    const unsigned char lead = text[0];
    const int length = lead < 0x80   ? 1
                       : lead < 0xC2 ? 0 // a continuation byte, or an overlong lead
                       : lead < 0xE0 ? 2
                       : lead < 0xF0 ? 3
                       : lead < 0xF5 ? 4
                                     : 0;
    if (length > left) {
        return 0;
    }
    for (int idx = 1; idx < length; ++idx) {
        if ((text[idx] & 0xC0) != 0x80) {
            return 0;
        }
    }
    // Overlong three- and four-byte forms, surrogates and code points above U+10FFFF.
    if ((lead == 0xE0 && text[1] < 0xA0) || (lead == 0xED && text[1] >= 0xA0) ||
        (lead == 0xF0 && text[1] < 0x90) || (lead == 0xF4 && text[1] >= 0x90)) {
        return 0;
    }
    return length;
}

// C0 controls, DEL, and C1 controls (U+0080 to U+009F), which terminals obey too.
bool isControl(const unsigned char* text, int length) {
    return (length == 1 && (text[0] < 0x20 || text[0] == 0x7F)) ||
           (length == 2 && text[0] == 0xC2 && text[1] < 0xA0);
}

} // namespace

int PrintableText::clean(char* text, int length) {
    const unsigned char* from = reinterpret_cast<const unsigned char*>(text);
    const unsigned char* end = from + length;
    char* to = text;
    while (from < end) {
        const int sequence = sequenceLength(from, static_cast<int>(end - from));
        if (sequence == 0 || isControl(from, sequence)) {
            *to++ = '?';
            from += sequence == 0 ? 1 : sequence;
            continue;
        }
        memmove(to, from, static_cast<size_t>(sequence));
        to += sequence;
        from += sequence;
    }
    return static_cast<int>(to - text);
}

void PrintableText::clean(char* text) {
    text[clean(text, static_cast<int>(strlen(text)))] = '\0';
}
