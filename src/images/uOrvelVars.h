// uOrvelVars: the name tables of controller modes and PLC states.
#pragma once

#include <QString>

#include <array>

inline const std::array<QString, 3> ModeNames = {QStringLiteral("loader"), QStringLiteral("kernel"), QString()};
inline const std::array<QString, 9> PlcStateNames = {
    QStringLiteral("stop"),           QStringLiteral("pause"),        QStringLiteral("run"),
    QStringLiteral("no plc program"), QStringLiteral("scan overrun"), QStringLiteral("repetitive reset"),
    QStringLiteral("error 6"),        QStringLiteral("error 7"),      QString()};
