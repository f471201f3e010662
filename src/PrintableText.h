#pragma once

// Text from a calculator (its names, its strings, its files' names) is shown on terminals and
// in tab-separated lines: each control character (C0, DEL and C1, which terminals obey) and
// each byte that is no UTF-8 becomes '?', so that printing it is safe and a line stays one line.
class PrintableText {
public:
    // Cleans the `length` bytes at `text` in place; NUL bytes count as controls. The new
    // length, which is never longer.
    static int clean(char* text, int length);
    // Cleans the NUL-terminated `text` in place.
    static void clean(char* text);
};
