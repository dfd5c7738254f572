#include "SettingNames.h"

QStringList Names(TNameTable table)
{
    QStringList names;
    for (const TNamedCode& item : table)
        names << QLatin1String(item.Name);
    return names;
}

int NameIndex(TNameTable table, const QString& name)
{
    for (size_t i = 0; i < table.size(); ++i) {
        if (name.compare(QLatin1String(table[i].Name), Qt::CaseInsensitive) == 0)
            return int(i);
    }
    return -1;
}

std::optional<QString> NameOfCode(TNameTable table, uint16_t code)
{
    for (const TNamedCode& item : table) {
        if (item.Code == code)
            return QString::fromLatin1(item.Name);
    }
    return std::nullopt;
}

QString NamesInWords(const QStringList& names)
{
    if (names.size() < 2)
        return names.join(QString());
    return names.first(names.size() - 1).join(QStringLiteral(", ")) + QStringLiteral(" or ") + names.last();
}
