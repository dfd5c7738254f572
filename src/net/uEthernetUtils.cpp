#include "uEthernetUtils.h"

#include <QFile>
#include <QHash>
#include <QHostAddress>
#include <QHostInfo>
#include <QNetworkInterface>
#include <QtEndian>

// ---- dotted IPv4 text ----

bool IsValidIPText(const QString& text)
{
    if (text.size() < 7 || text.size() > 15 || text.front() == u'.')
        return false;
    int dots = 0;
    int digits = 0;   // digits of the current group
    int value = 0;    // value of the current group
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c == u'.') {
            // Every dot must be followed by a digit: no empty group, no trailing dot.
            const QChar next = i + 1 < text.size() ? text[i + 1] : QChar();
            if (next < u'0' || next > u'9')
                return false;
            ++dots;
            digits = 0;
            value = 0;
        } else if (c >= u'0' && c <= u'9') {
            value = value * 10 + (c.unicode() - '0');
            if (++digits > 3 || value > 255)
                return false;
        } else {
            return false;
        }
    }
    return dots == 3;
}

uint32_t StrToIPDef(const QString& text, uint32_t defaultValue)
{
    if (!IsValidIPText(text))
        return defaultValue;
    uint32_t value = 0;
    for (const QString& group : text.split(u'.'))
        value = (value << 8) | group.toUInt();
    return value;
}

uint32_t StrToIP(const QString& text)
{
    return StrToIPDef(text, 0);
}

QString IPToStr(uint32_t value)
{
    return QStringLiteral("%1.%2.%3.%4")
        .arg(value >> 24)
        .arg((value >> 16) & 0xFF)
        .arg((value >> 8) & 0xFF)
        .arg(value & 0xFF);
}

bool IsValidSubnetMask(uint32_t value)
{
    // A run of one-bits from bit 31, at least eight of them: its complement is a run of
    // one-bits from bit 0, so complement + 1 is a power of two (or zero for /32).
    const uint32_t hostPart = ~value;
    return (hostPart & (hostPart + 1)) == 0 && (value & 0xFF000000u) == 0xFF000000u;
}

QString GetBroadcastText(const QString& ipText, const QString& maskText)
{
    const uint32_t ip = StrToIP(ipText);
    const uint32_t mask = StrToIP(maskText);
    return IPToStr((ip & mask) | ~mask);
}

// ---- the platform's adapter table ----

QHash<QString, QString> DefaultGatewaysFromRouteTable(const QByteArray& table)
{
    constexpr unsigned RouteFlagGateway = 0x2;   // RTF_GATEWAY
    QHash<QString, QString> gateways;
    const QList<QByteArray> lines = table.split('\n');
    for (qsizetype i = 1; i < lines.size(); ++i) {   // line 0 holds the column names
        const QList<QByteArray> columns = lines[i].simplified().split(' ');
        if (columns.size() < 4)
            continue;
        bool okDestination = false, okGateway = false, okFlags = false;
        const uint32_t destination = columns[1].toUInt(&okDestination, 16);
        const uint32_t gateway = columns[2].toUInt(&okGateway, 16);
        const unsigned flags = columns[3].toUInt(&okFlags, 16);
        if (!okDestination || !okGateway || !okFlags || destination != 0 || !(flags & RouteFlagGateway))
            continue;
        const QString adapter = QString::fromLocal8Bit(columns[0]);
        // The kernel prints addresses as the raw network-order word: bytes in memory
        // order are the dotted groups from the first.
        if (!gateways.contains(adapter))
            gateways.insert(adapter, IPToStr(qFromBigEndian(gateway)));
    }
    return gateways;
}

static QList<TPlatformAdapter> ReadPlatformAdapterTable()
{
    QHash<QString, QString> gateways;
    QFile routes(QStringLiteral("/proc/net/route"));
    if (routes.open(QIODevice::ReadOnly))
        gateways = DefaultGatewaysFromRouteTable(routes.readAll());

    QList<TPlatformAdapter> table;
    for (const QNetworkInterface& adapter : QNetworkInterface::allInterfaces()) {
        TPlatformAdapter entry;
        entry.AdapterName = adapter.name();
        entry.Description = adapter.humanReadableName();
        entry.IPAddress = QStringLiteral("0.0.0.0");
        entry.SubnetMask = QStringLiteral("0.0.0.0");
        for (const QNetworkAddressEntry& address : adapter.addressEntries()) {
            if (address.ip().protocol() == QAbstractSocket::IPv4Protocol) {
                entry.IPAddress = address.ip().toString();
                entry.SubnetMask = address.netmask().toString();
                break;
            }
        }
        entry.Gateway = gateways.value(entry.AdapterName);
        table.append(entry);
    }
    return table;
}

static QString ResolvePlatformLocalIP()
{
    QString result;
    const QHostInfo host = QHostInfo::fromName(QHostInfo::localHostName());
    for (const QHostAddress& address : host.addresses()) {
        if (address.protocol() == QAbstractSocket::IPv4Protocol)
            result = address.toString();   // the last one of the list remains
    }
    return result;
}

static TAdapterTableReader& AdapterTableReader()
{
    static TAdapterTableReader reader;
    return reader;
}

static TLocalIPResolver& LocalIPResolver()
{
    static TLocalIPResolver resolver;
    return resolver;
}

void SetAdapterTableReader(TAdapterTableReader reader)
{
    AdapterTableReader() = std::move(reader);
}

void SetLocalIPResolver(TLocalIPResolver resolver)
{
    LocalIPResolver() = std::move(resolver);
}

QList<TPlatformAdapter> ReadAdapterTable()
{
    const TAdapterTableReader& reader = AdapterTableReader();
    return reader ? reader() : ReadPlatformAdapterTable();
}

QString GetLocalIP()
{
    const TLocalIPResolver& resolver = LocalIPResolver();
    return resolver ? resolver() : ResolvePlatformLocalIP();
}

bool FindAdapterByIP(const QString& ip, QString& subnetMask, QString& adapterName, QString& description,
                     QString& gateway)
{
    bool found = false;
    for (const TPlatformAdapter& adapter : ReadAdapterTable()) {
        if (adapter.IPAddress != ip)
            continue;
        subnetMask = adapter.SubnetMask;
        adapterName = adapter.AdapterName;
        description = adapter.Description;
        gateway = adapter.Gateway;
        found = true;
    }
    return found;
}

bool FindAdapterByName(const QString& name, QString& ipAddress, QString& subnetMask, QString& description,
                       QString& gateway)
{
    bool found = false;
    for (const TPlatformAdapter& adapter : ReadAdapterTable()) {
        if (adapter.AdapterName != name)
            continue;
        ipAddress = adapter.IPAddress;
        subnetMask = adapter.SubnetMask;
        description = adapter.Description;
        gateway = adapter.Gateway;
        found = true;
    }
    return found;
}

// ---- TEthernetAdapterInfo ----

TEthernetAdapterInfo::TEthernetAdapterInfo(const QString& adapterName, const QString& description,
                                           const QString& ipAddress, const QString& subnetMask)
    : IPAddress(ipAddress),
      SubnetMask(subnetMask),
      Broadcast(GetBroadcastText(ipAddress, subnetMask)),
      Description(description),
      AdapterName(adapterName)
{
}

void TEthernetAdapterInfo::Clear()
{
    *this = TEthernetAdapterInfo();
}

bool TEthernetAdapterInfo::DetectLocal()
{
    IPAddress = GetLocalIP();
    if (IsValidIPText(IPAddress) && FindAdapterByIP(IPAddress, SubnetMask, AdapterName, Description, Gateway)
        && IsValidIPText(SubnetMask)) {
        Broadcast = GetBroadcastText(IPAddress, SubnetMask);
        if (IsValidIPText(Broadcast))
            return true;
    }
    Clear();
    return false;
}

bool TEthernetAdapterInfo::LoadByName(const QString& name)
{
    QString ipAddress, subnetMask, description, gateway;
    if (!FindAdapterByName(name, ipAddress, subnetMask, description, gateway))
        return false;
    IPAddress = ipAddress;
    SubnetMask = subnetMask;
    Description = description;
    Gateway = gateway;
    AdapterName = name;
    Broadcast = GetBroadcastText(IPAddress, SubnetMask);
    return true;
}

// ---- TEthernetAdapterInfoList ----

void TEthernetAdapterInfoList::Clear()
{
    while (!FItems.empty())
        FItems.pop_back();
}

void TEthernetAdapterInfoList::Add(const QString& adapterName, const QString& description,
                                   const QString& ipAddress, const QString& subnetMask)
{
    FItems.push_back(std::make_unique<TEthernetAdapterInfo>(adapterName, description, ipAddress, subnetMask));
}

int TEthernetAdapterInfoList::Count() const
{
    return int(FItems.size());
}

TEthernetAdapterInfo* TEthernetAdapterInfoList::Items(int index) const
{
    if (index < 0 || index >= Count())
        return nullptr;
    return FItems[size_t(index)].get();
}

void TEthernetAdapterInfoList::Refresh()
{
    const QList<TPlatformAdapter> table = ReadAdapterTable();
    Clear();
    for (const TPlatformAdapter& adapter : table)
        Add(adapter.AdapterName, adapter.Description, adapter.IPAddress, adapter.SubnetMask);
}

QStringList TEthernetAdapterInfoList::ItemTexts() const
{
    QStringList texts;
    for (const auto& item : FItems)
        texts.append(item->Description + QStringLiteral(" (") + item->IPAddress + u')');
    return texts;
}

int TEthernetAdapterInfoList::IndexOfName(const QString& adapterName) const
{
    for (int i = 0; i < Count(); ++i) {
        if (FItems[size_t(i)]->AdapterName == adapterName)
            return i;
    }
    return -1;
}

int TEthernetAdapterInfoList::IndexOf(const TEthernetAdapterInfo& adapter) const
{
    return IndexOfName(adapter.AdapterName);
}

TEthernetAdapterInfo* TEthernetAdapterInfoList::FindByName(const QString& adapterName) const
{
    return Items(IndexOfName(adapterName));
}
