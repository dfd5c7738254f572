#include "uEthernetUtils.h"

#include <QFile>
#include <QHash>
#include <QHostAddress>
#include <QHostInfo>
#include <QNetworkInterface>
#include <QtEndian>

#include <algorithm>
#include <optional>

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

namespace {

constexpr unsigned RouteFlagUp = 0x1;        // RTF_UP
constexpr unsigned RouteFlagGateway = 0x2;   // RTF_GATEWAY

// One line of the kernel's routing table: the columns this program uses. The kernel prints
// addresses and masks as the raw network-order word, the metric in decimal.
struct TRoute {
    QString Adapter;
    uint32_t Destination = 0;
    uint32_t Gateway = 0;
    unsigned Flags = 0;
    uint32_t Metric = 0;
    uint32_t Mask = 0;
};

QList<TRoute> ParseRouteTable(const QByteArray& table)
{
    QList<TRoute> routes;
    const QList<QByteArray> lines = table.split('\n');
    for (qsizetype i = 1; i < lines.size(); ++i) {   // line 0 holds the column names
        const QList<QByteArray> columns = lines[i].simplified().split(' ');
        if (columns.size() < 8)
            continue;
        TRoute route;
        bool okDestination = false, okGateway = false, okFlags = false, okMetric = false, okMask = false;
        route.Adapter = QString::fromLocal8Bit(columns[0]);
        route.Destination = columns[1].toUInt(&okDestination, 16);
        route.Gateway = columns[2].toUInt(&okGateway, 16);
        route.Flags = columns[3].toUInt(&okFlags, 16);
        route.Metric = columns[6].toUInt(&okMetric, 10);
        route.Mask = columns[7].toUInt(&okMask, 16);
        if (okDestination && okGateway && okFlags && okMetric && okMask)
            routes.append(route);
    }
    return routes;
}

QByteArray ReadPlatformRouteTable()
{
    QFile routes(QStringLiteral("/proc/net/route"));
    return routes.open(QIODevice::ReadOnly) ? routes.readAll() : QByteArray();
}

QList<TPlatformAdapter> ReadPlatformAdapterTable()
{
    const QHash<QString, QString> gateways = DefaultGatewaysFromRouteTable(ReadRouteTable());
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

QString ResolvePlatformLocalIP()
{
    QString result;
    const QHostInfo host = QHostInfo::fromName(QHostInfo::localHostName());
    for (const QHostAddress& address : host.addresses()) {
        if (address.protocol() == QAbstractSocket::IPv4Protocol)
            result = address.toString();   // the last one of the list remains
    }
    return result;
}

// The function a test put in place of the platform's reader of that type; empty otherwise.
template <typename TReader>
TReader& Replacement()
{
    static TReader reader;
    return reader;
}

template <typename TReader, typename TPlatformReader>
auto ReadThrough(TPlatformReader platformReader)
{
    const TReader& reader = Replacement<TReader>();
    return reader ? reader() : platformReader();
}

}   // namespace

QHash<QString, QString> DefaultGatewaysFromRouteTable(const QByteArray& table)
{
    QHash<QString, QString> gateways;
    for (const TRoute& route : ParseRouteTable(table)) {
        // Bytes of the network-order word in memory order are the dotted groups from the first.
        if (route.Destination == 0 && (route.Flags & RouteFlagGateway) && !gateways.contains(route.Adapter))
            gateways.insert(route.Adapter, IPToStr(qFromBigEndian(route.Gateway)));
    }
    return gateways;
}

QString DefaultRouteAdapterFromRouteTable(const QByteArray& table)
{
    const QList<TRoute> routes = ParseRouteTable(table);
    const TRoute* best = nullptr;
    for (const TRoute& route : routes) {
        // A route to 0.0.0.0/1 (VPNs add one) starts at destination 0 too, but is no default.
        const bool isDefault = route.Destination == 0 && route.Mask == 0 && (route.Flags & RouteFlagUp);
        if (isDefault && (!best || route.Metric < best->Metric))
            best = &route;
    }
    return best ? best->Adapter : QString();
}

void SetAdapterTableReader(TAdapterTableReader reader)
{
    Replacement<TAdapterTableReader>() = std::move(reader);
}

void SetLocalIPResolver(TLocalIPResolver resolver)
{
    Replacement<TLocalIPResolver>() = std::move(resolver);
}

void SetRouteTableReader(TRouteTableReader reader)
{
    Replacement<TRouteTableReader>() = std::move(reader);
}

QList<TPlatformAdapter> ReadAdapterTable()
{
    return ReadThrough<TAdapterTableReader>(ReadPlatformAdapterTable);
}

QString GetLocalIP()
{
    return ReadThrough<TLocalIPResolver>(ResolvePlatformLocalIP);
}

QByteArray ReadRouteTable()
{
    return ReadThrough<TRouteTableReader>(ReadPlatformRouteTable);
}

std::optional<TPlatformAdapter> FindAdapter(QString TPlatformAdapter::*key, const QString& value)
{
    const QList<TPlatformAdapter> table = ReadAdapterTable();
    const auto found = std::find_if(table.rbegin(), table.rend(),
                                    [&](const TPlatformAdapter& adapter) { return adapter.*key == value; });
    return found == table.rend() ? std::nullopt : std::optional<TPlatformAdapter>(*found);
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

// The adapter DetectLocal takes when none carries the host name's address: the one that
// carries the default route, as the host's own traffic leaves through it, else the loopback
// adapter. An adapter without an address would make the link broadcast to 255.255.255.255.
static std::optional<TPlatformAdapter> FallbackLocalAdapter()
{
    const QList<TPlatformAdapter> table = ReadAdapterTable();
    const QString routeAdapter = DefaultRouteAdapterFromRouteTable(ReadRouteTable());
    const auto routed = std::find_if(table.begin(), table.end(), [&routeAdapter](const TPlatformAdapter& adapter) {
        return !routeAdapter.isEmpty() && adapter.AdapterName == routeAdapter && StrToIP(adapter.IPAddress) != 0;
    });
    if (routed != table.end())
        return *routed;
    const auto loopback = std::find_if(table.begin(), table.end(), [](const TPlatformAdapter& adapter) {
        return StrToIP(adapter.IPAddress) >> 24 == 127;
    });
    if (loopback != table.end())
        return *loopback;
    return std::nullopt;
}

bool TEthernetAdapterInfo::DetectLocal()
{
    const QString localIP = GetLocalIP();
    std::optional<TPlatformAdapter> adapter;
    if (IsValidIPText(localIP))
        adapter = FindAdapter(&TPlatformAdapter::IPAddress, localIP);
    if (!adapter)
        adapter = FallbackLocalAdapter();
    if (adapter) {
        IPAddress = adapter->IPAddress;
        SubnetMask = adapter->SubnetMask;
        AdapterName = adapter->AdapterName;
        Description = adapter->Description;
        Gateway = adapter->Gateway;
    }
    if (adapter && IsValidIPText(SubnetMask)) {
        Broadcast = GetBroadcastText(IPAddress, SubnetMask);
        if (IsValidIPText(Broadcast))
            return true;
    }
    Clear();
    return false;
}

bool TEthernetAdapterInfo::LoadByName(const QString& name)
{
    const std::optional<TPlatformAdapter> adapter = FindAdapter(&TPlatformAdapter::AdapterName, name);
    if (!adapter)
        return false;
    IPAddress = adapter->IPAddress;
    SubnetMask = adapter->SubnetMask;
    Description = adapter->Description;
    Gateway = adapter->Gateway;
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

void TEthernetAdapterInfoList::Add(const QString& adapterName, const QString& description, const QString& ipAddress,
                                   const QString& subnetMask)
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
