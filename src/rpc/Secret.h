#pragma once

#include <QByteArray>
#include <QString>

#include <string.h>

// Passwords are overwritten with zeros once they are used, where Qt lets us:
// a buffer this copy alone holds. A copy shared with another holder is only
// let go (writing would copy it first); the last holder's wipe zeroes it.
// Buffers Qt keeps of its own (a QLineEdit's text, a socket's read and write
// buffers, TLS records) are out of reach.
namespace Secret {

// Zeroes the whole allocation in place, also what lies before the first
// element (after a remove at the front) and past the last (after a chop),
// when no one else holds it; false (nothing written) otherwise.
template <typename Text>
bool zero(Text &text)
{
    auto &d = text.data_ptr();
    if (!text.isDetached() || d.constAllocatedCapacity() <= 0) {
        return false;
    }
    auto *start = text.data() - d.freeSpaceAtBegin();
    explicit_bzero(start, size_t(d.constAllocatedCapacity()) * sizeof(*start));
    return true;
}

// Zeroes (where it may) and lets go.
template <typename Text>
void wipe(Text &text)
{
    zero(text);
    text = Text();
}

} // namespace Secret
