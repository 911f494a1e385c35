#include "utf8_validation.hpp"

namespace {

struct byte_range {
    unsigned char low;
    unsigned char high;
};

bool in_range(unsigned char byte, byte_range range)
{
    return byte >= range.low && byte <= range.high;
}

// Every byte after the first of a sequence; the second may be held to less.
constexpr byte_range continuation = {0x80, 0xBF};

// The well-formed sequences of UTF-8, by their first byte: what their second
// byte may be, and how long they are. The narrower ranges after E0, ED, F0
// and F4 rule out overlong forms, surrogates and code points above U+10FFFF.
// A byte in none of the rows begins no sequence: a continuation byte, C0 and
// C1 (always overlong), F5 and above.
struct sequence_form {
    byte_range first;
    byte_range second;
    size_t length;
};

constexpr sequence_form well_formed[] = {
    {{0x00, 0x7F}, {}, 1},           // U+0000..U+007F
    {{0xC2, 0xDF}, continuation, 2}, // U+0080..U+07FF
    {{0xE0, 0xE0}, {0xA0, 0xBF}, 3}, // U+0800..U+0FFF
    {{0xE1, 0xEC}, continuation, 3}, // U+1000..U+CFFF
    {{0xED, 0xED}, {0x80, 0x9F}, 3}, // U+D000..U+D7FF
    {{0xEE, 0xEF}, continuation, 3}, // U+E000..U+FFFF
    {{0xF0, 0xF0}, {0x90, 0xBF}, 4}, // U+10000..U+3FFFF
    {{0xF1, 0xF3}, continuation, 4}, // U+40000..U+FFFFF
    {{0xF4, 0xF4}, {0x80, 0x8F}, 4}, // U+100000..U+10FFFF
};

const sequence_form *form_of(unsigned char first)
{
    for (const sequence_form &form : well_formed)
        if (in_range(first, form.first))
            return &form;
    return nullptr;
}

} // namespace

bool is_valid_utf8(const char *bytes, size_t length)
{
    const unsigned char *text = reinterpret_cast<const unsigned char *>(bytes);
    size_t at = 0;
    while (at < length) {
        const sequence_form *form = form_of(text[at]);
        if (!form || length - at < form->length)
            return false;
        if (form->length > 1 && !in_range(text[at + 1], form->second))
            return false;
        for (size_t i = 2; i < form->length; i++)
            if (!in_range(text[at + i], continuation))
                return false;
        at += form->length;
    }
    return true;
}
