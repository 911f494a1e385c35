#include "utf8_validation.hpp"

namespace {

bool is_continuation(unsigned char byte)
{
    return (byte & 0xC0) == 0x80;
}

// The range that the second byte of a sequence may take after lead: the
// narrower ranges after E0, ED, F0 and F4 rule out overlong forms, surrogates
// and code points above U+10FFFF.
struct second_byte_range {
    unsigned char low;
    unsigned char high;
};

second_byte_range second_byte_after(unsigned char lead)
{
    switch (lead) {
    case 0xE0:
        return {0xA0, 0xBF};
    case 0xED:
        return {0x80, 0x9F};
    case 0xF0:
        return {0x90, 0xBF};
    case 0xF4:
        return {0x80, 0x8F};
    default:
        return {0x80, 0xBF};
    }
}

// The length of the sequence that lead begins, or 0 for a byte that begins
// none: a continuation byte, C0 and C1 (always overlong), F5 and above.
size_t sequence_length(unsigned char lead)
{
    if (lead < 0x80)
        return 1;
    if (lead >= 0xC2 && lead <= 0xDF)
        return 2;
    if (lead >= 0xE0 && lead <= 0xEF)
        return 3;
    if (lead >= 0xF0 && lead <= 0xF4)
        return 4;
    return 0;
}

} // namespace

bool is_valid_utf8(const char *bytes, size_t length)
{
    const unsigned char *text = reinterpret_cast<const unsigned char *>(bytes);
    size_t at = 0;
    while (at < length) {
        size_t sequence = sequence_length(text[at]);
        if (sequence == 0 || length - at < sequence)
            return false;
        if (sequence > 1) {
            second_byte_range range = second_byte_after(text[at]);
            if (text[at + 1] < range.low || text[at + 1] > range.high)
                return false;
            for (size_t i = 2; i < sequence; i++)
                if (!is_continuation(text[at + i]))
                    return false;
        }
        at += sequence;
    }
    return true;
}
