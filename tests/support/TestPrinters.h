// TestPrinters: how GoogleTest shows this project's values in failure messages and in the
// test list: text in quotes, bytes as their count and their hexadecimal (the first block's
// worth of a longer array), a rejection by its reason, a table row by its Name.
// GoogleTest finds a PrintTo only in the namespace of the printed type: the global one for
// QString, QByteArray and TRejection. A test file whose table rows live in an unnamed
// namespace says `using ::PrintTo;` inside it, so that its rows print as their names.
#pragma once

#include "uABus.h"

#include <QByteArray>
#include <QString>

#include <ostream>

inline void PrintTo(const QString& text, std::ostream* os)
{
    *os << '"' << text.toStdString() << '"';
}

inline void PrintTo(const QByteArray& bytes, std::ostream* os)
{
    constexpr int Shown = 256;   // one block, the unit in which the link moves memory
    *os << bytes.size() << " bytes: " << bytes.left(Shown).toHex(' ').toStdString();
    if (bytes.size() > Shown)
        *os << " ...";
}

inline void PrintTo(TRejection rejection, std::ostream* os)
{
    *os << '"' << RejectionText(rejection).toStdString() << '"';
}

// Every table row prints as its name, so test names and failures read as the case.
template <typename TCase>
requires requires(const TCase& c)
{
    c.Name;
}
void PrintTo(const TCase& c, std::ostream* os)
{
    *os << c.Name;
}
