// uEthernetUtils: the host's network adapters and dotted IPv4 text.
//
// Addresses travel through the program as dotted text. As numbers they are 32-bit with the
// first group in the most significant byte (192.168.1.10 is 0xC0A8010A), and 0 means
// "no address" (so "0.0.0.0" and invalid text look alike once converted).
//
// The adapter table, the host's own address and the routing table are read from the
// platform by replaceable functions, so that everything above them can be tested with
// made-up tables.
#pragma once

#include <QHash>
#include <QList>
#include <QStringList>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

bool IsValidIPText(const QString& text);
uint32_t StrToIP(const QString& text);
uint32_t StrToIPDef(const QString& text, uint32_t defaultValue);
QString IPToStr(uint32_t value);
bool IsValidSubnetMask(uint32_t value);
QString GetBroadcastText(const QString& ipText, const QString& maskText);

// One record of the platform's adapter table: only the facts this program uses.
struct TPlatformAdapter {
    QString AdapterName;   // stable identifier of the adapter
    QString Description;
    QString IPAddress;    // first IPv4 address, "0.0.0.0" when it has none
    QString SubnetMask;   // mask of that address, "0.0.0.0" when it has none
    QString Gateway;      // first default gateway, empty when it has none
};
using TAdapterTableReader = std::function<QList<TPlatformAdapter>()>;
using TLocalIPResolver = std::function<QString()>;
using TRouteTableReader = std::function<QByteArray()>;

// The platform's adapter table, in the platform's order.
QList<TPlatformAdapter> ReadAdapterTable();
// The text of the kernel's IPv4 routing table (/proc/net/route), empty where there is none.
QByteArray ReadRouteTable();
// Adapter name -> its first default gateway, from the text of the kernel's routing table:
// routes to destination 0 with the gateway flag.
QHash<QString, QString> DefaultGatewaysFromRouteTable(const QByteArray& table);
// The adapter that carries the default route (0.0.0.0/0, up) in the text of the kernel's
// routing table: the one of the lowest metric, as the kernel takes it, the first of equals;
// empty text when there is none.
QString DefaultRouteAdapterFromRouteTable(const QByteArray& table);
// Tests replace the platform with a made-up table or host address; an empty function
// restores the platform's own.
void SetAdapterTableReader(TAdapterTableReader reader);
void SetLocalIPResolver(TLocalIPResolver resolver);
void SetRouteTableReader(TRouteTableReader reader);

// The host's own IPv4 address (the last one its name resolves to), or empty text.
QString GetLocalIP();
// The host's adapter whose key (&TPlatformAdapter::IPAddress, ::AdapterName) is value; of
// several, the last in the table.
std::optional<TPlatformAdapter> FindAdapter(QString TPlatformAdapter::*key, const QString& value);

// One host adapter: a plain value holder.
class TEthernetAdapterInfo {
public:
    TEthernetAdapterInfo() = default;
    TEthernetAdapterInfo(const QString& adapterName, const QString& description, const QString& ipAddress,
                         const QString& subnetMask);

    QString IPAddress;
    QString SubnetMask;
    QString Broadcast;
    QString Gateway;
    QString Description;
    QString AdapterName;

    void Clear();
    // Fills the object from the adapter that carries the host's own address. When none
    // carries it (many Linux hosts resolve their name to 127.0.1.1), from the adapter that
    // carries the default route, else from the loopback adapter; adapters without an
    // address are never taken this way.
    bool DetectLocal();
    // Fills the object from the adapter with that name; unchanged when there is none.
    bool LoadByName(const QString& name);
};

// The host's adapters, a snapshot taken by Refresh.
class TEthernetAdapterInfoList {
public:
    void Clear();
    void Add(const QString& adapterName, const QString& description, const QString& ipAddress,
             const QString& subnetMask);
    int Count() const;
    // The entry, or nullptr outside 0 .. Count() - 1. The list keeps ownership.
    TEthernetAdapterInfo* Items(int index) const;
    void Refresh();
    // "Description (IPAddress)" of every entry, in list order: what the window's adapter
    // combo box shows (the window appends them, so item i stays entry i).
    QStringList ItemTexts() const;
    int IndexOfName(const QString& adapterName) const;
    int IndexOf(const TEthernetAdapterInfo& adapter) const;
    TEthernetAdapterInfo* FindByName(const QString& adapterName) const;

private:
    std::vector<std::unique_ptr<TEthernetAdapterInfo>> FItems;
};
