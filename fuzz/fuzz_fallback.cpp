// Fuzzes the reader of the fallback file of unwritten records: whatever a crash, a full
// disk or another program left in it, every line that is not blank is either a record or
// told as bad, and a record read back from its own line is the same record.
#include "FallbackFile.h"

#include <QJsonDocument>

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    const TFallbackContent content = ReadFallback(bytes);
    qsizetype lines = 0;
    for (const QByteArray& line : bytes.split('\n'))
        lines += line.trimmed().isEmpty() ? 0 : 1;
    if (content.Entries.size() + content.Bad.size() != lines)
        std::abort();
    for (const TFallbackLine& bad : content.Bad)
        if (bad.Why.isEmpty() || bad.Number < 1)
            std::abort();
    for (const TFallbackLine& entry : content.Entries) {
        const TFallbackContent again = ReadFallback(QJsonDocument(entry.Entry).toJson(QJsonDocument::Compact) + '\n');
        if (again.Entries.size() != 1 || again.Entries[0].Entry != entry.Entry)
            std::abort();
    }
    return 0;
}
