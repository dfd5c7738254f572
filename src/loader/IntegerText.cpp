// The toolkit's reading of a typed integer, shared by every input that takes a number.
#include "IntegerText.h"

#include <limits>

namespace {

int DigitValue(QChar c, int base)
{
    const char16_t u = c.unicode();
    int value = -1;
    if (u >= u'0' && u <= u'9')
        value = u - u'0';
    else if (u >= u'a' && u <= u'f')
        value = u - u'a' + 10;
    else if (u >= u'A' && u <= u'F')
        value = u - u'A' + 10;
    return value < base ? value : -1;
}

}   // namespace

int32_t IntegerTextOrDefault(const QString& text, int32_t defaultValue)
{
    qsizetype i = 0;
    const qsizetype n = text.size();
    while (i < n && text[i] == u' ')
        ++i;

    bool negative = false;
    if (i < n && (text[i] == u'+' || text[i] == u'-')) {
        negative = text[i] == u'-';
        ++i;
    }

    int base = 10;
    if (i < n && text[i] == u'$') {
        base = 16;
        ++i;
    } else if (i < n && (text[i] == u'x' || text[i] == u'X')) {
        base = 16;
        ++i;
    } else if (i + 1 < n && text[i] == u'0' && (text[i + 1] == u'x' || text[i + 1] == u'X')) {
        base = 16;
        i += 2;
    }

    if (i == n)
        return defaultValue;   // no digits at all

    // Accumulate the magnitude; the most negative value has no positive counterpart.
    const int64_t limit = negative ? int64_t(std::numeric_limits<int32_t>::max()) + 1
                                   : int64_t(std::numeric_limits<int32_t>::max());
    int64_t magnitude = 0;
    for (; i < n; ++i) {
        const int digit = DigitValue(text[i], base);
        if (digit < 0)
            return defaultValue;
        magnitude = magnitude * base + digit;
        if (magnitude > limit)
            return defaultValue;
    }
    return int32_t(negative ? -magnitude : magnitude);
}
