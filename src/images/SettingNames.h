// SettingNames: the names of the hardware models and IEX baud rates a unit can be set to,
// each with the code the kernel header holds. The window's lists, the command line's
// words, the recipes' texts, the header a send writes and the information panel all take
// them from here, so that a new model is one line.
#pragma once

#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>
#include <span>

struct TNamedCode {
    const char* Name;
    uint16_t Code;
};

using TNameTable = std::span<const TNamedCode>;

inline constexpr TNamedCode HardwareModels[] = {{"Orvel-J", 10}, {"Orvel-K", 11}, {"Orvel-L", 12}};
inline constexpr TNamedCode IEXBaudRates[] = {
    {"20kbps", 1}, {"50kbps", 2}, {"100kbps", 3}, {"250kbps", 4}, {"500kbps", 5}};

// The names in the table's order: a combo box's items.
QStringList Names(TNameTable table);
// The item a name stands for, whatever its case; -1 when it names none.
int NameIndex(TNameTable table, const QString& name);
// The name of a code; nothing when the table has none for it.
std::optional<QString> NameOfCode(TNameTable table, uint16_t code);
// The names as a sentence lists them: "a, b or c".
QString NamesInWords(const QStringList& names);
