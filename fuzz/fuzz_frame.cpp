// Fuzzes the reception text: HexToBytes and ParseFrame on arbitrary text.
#include "uABus.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray text(reinterpret_cast<const char*>(data), qsizetype(size));

    // A guard zone on both sides of the buffer: HexToBytes must stay inside its size.
    constexpr int guard = 16, room = 1040;
    uint8_t buffer[guard + room + guard];
    std::memset(buffer, 0xA5, sizeof buffer);
    const int decoded = HexToBytes(text, buffer + guard, room, size % 2 == 1);
    for (int i = 0; i < guard; ++i)
        if (buffer[i] != 0xA5 || buffer[guard + room + i] != 0xA5)
            std::abort();
    if (decoded < 0 || decoded > room)
        std::abort();

    QByteArray reception = text;
    TParsedFrame frame;
    while (ParseFrame(reception, frame)) {
        // An accepted frame is whole, came off the front, and is accepted again on its own.
        const int bodyLength = int(frame.FrameText.size() - 28) / 2;
        if (bodyLength < 2 || bodyLength > 1024 || frame.Data.size() != 2 * bodyLength - 4)
            std::abort();
        QByteArray again = frame.FrameText;
        TParsedFrame copy;
        if (!ParseFrame(again, copy) || !again.isEmpty() || copy.Source != frame.Source)
            std::abort();
    }
    return 0;
}
