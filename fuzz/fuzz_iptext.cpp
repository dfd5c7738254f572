// Fuzzes the dotted IPv4 text functions.
#include "uEthernetUtils.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString text = QString::fromLatin1(reinterpret_cast<const char*>(data), qsizetype(size));
    const bool valid = IsValidIPText(text);
    const uint32_t value = StrToIP(text);
    if (!valid && (value != 0 || StrToIPDef(text, 7) != 7))
        std::abort();
    if (valid) {
        // Valid text round-trips through its number (leading zeros are dropped).
        const QString back = IPToStr(value);
        if (!IsValidIPText(back) || StrToIP(back) != value)
            std::abort();
    }
    const qsizetype half = text.size() / 2;
    const QString broadcast = GetBroadcastText(text.left(half), text.mid(half));
    if (!IsValidIPText(broadcast))
        std::abort();
    (void)IsValidSubnetMask(value);
    return 0;
}
