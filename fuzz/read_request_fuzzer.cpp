// Feeds any bytes to read_request_message on descriptor 0 and checks what it
// gives against the frame that those bytes make: the body whole, NUL after
// it, its length, and not one byte read beyond it; nothing when the bytes
// hold no whole frame.
//
// A length far beyond the input only makes the reader allocate up to 4 GiB
// before it finds the body short, which a length just beyond it shows as
// well; such lengths are folded below the input's size plus 64 KiB, so that
// the fuzzer keeps its pace instead of spending itself on the sanitizer's
// bookkeeping of huge blocks.

#include "message_channel.hpp"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

namespace {

void require(bool holds)
{
    if (!holds)
        abort();
}

constexpr size_t length_field_size = sizeof(uint32_t);
constexpr uint32_t length_slack = 65536;

// Descriptor 0 becomes an in-memory file that holds exactly the input.
void feed(const uint8_t *data, size_t size)
{
    static int input = -1;
    if (input < 0) {
        input = memfd_create("request", 0);
        require(input >= 0 && dup2(input, 0) == 0);
    }
    require(ftruncate(0, 0) == 0);
    require(pwrite(0, data, size, 0) == static_cast<ssize_t>(size));
    require(lseek(0, 0, SEEK_SET) == 0);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *fuzzed, size_t size)
{
    std::vector<uint8_t> input(fuzzed, fuzzed + size);
    uint32_t declared = 0;
    if (size >= length_field_size) {
        memcpy(&declared, input.data(), length_field_size);
        uint32_t bound = static_cast<uint32_t>(size) + length_slack;
        if (declared > bound)
            declared %= bound;
        memcpy(input.data(), &declared, length_field_size);
    }

    feed(input.data(), size);
    uint32_t length = 0xdeadbeef;
    char *body = read_request_message(&length);
    off_t consumed = lseek(0, 0, SEEK_CUR);

    bool whole = size >= length_field_size && size - length_field_size >= declared;
    if (!whole) {
        require(!body);
        return 0;
    }
    require(body && length == declared);
    require(memcmp(body, input.data() + length_field_size, declared) == 0 &&
            body[declared] == '\0');
    require(consumed == static_cast<off_t>(length_field_size + declared));
    free(body);
    return 0;
}
