// Host network: dotted IPv4 text, masks, broadcast, and the adapter table over a made-up
// platform table. Nothing here sends anything.
#include "uEthernetUtils.h"

#include "TestPrinters.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

auto CaseName = [](const auto& info) { return std::string(info.param.name); };

// ---- IPv4 text ----

struct IPTextCase {
    const char* name;
    const char* text;
    bool valid;
};

class IPText : public testing::TestWithParam<IPTextCase> {};

TEST_P(IPText, Validity)
{
    EXPECT_EQ(IsValidIPText(QString::fromLatin1(GetParam().text)), GetParam().valid) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(
    Net, IPText,
    testing::Values(IPTextCase{"Shortest", "1.2.3.4", true}, IPTextCase{"Longest", "255.255.255.255", true},
                    IPTextCase{"LeadingZeros", "010.001.000.255", true}, IPTextCase{"TooFewGroups", "1.2.3", false},
                    IPTextCase{"TrailingDotShort", "1.2.3.", false}, IPTextCase{"TrailingDot", "1.2.3.4.", false},
                    IPTextCase{"LeadingDot", ".1.2.3.4", false}, IPTextCase{"EmptyGroup", "1..2.3", false},
                    IPTextCase{"FiveGroups", "1.2.3.4.5", false}, IPTextCase{"LeadingBlank", " 1.2.3.4", false},
                    IPTextCase{"TrailingBlank", "1.2.3.4 ", false}, IPTextCase{"Sign", "1.2.3.-4", false},
                    IPTextCase{"FourDigits", "1.2.3.1234", false}, IPTextCase{"GroupAbove255", "256.1.1.1", false},
                    IPTextCase{"TooLong", "0001.2.3.4444", false}, IPTextCase{"Letters", "1.2.3.a", false},
                    IPTextCase{"Empty", "", false}),
    CaseName);

TEST(NetIPText, ConvertsToNumbers)
{
    EXPECT_EQ(StrToIP(QStringLiteral("192.168.1.10")), 0xC0A8010Au);
    EXPECT_EQ(StrToIP(QStringLiteral("001.002.003.004")), StrToIP(QStringLiteral("1.2.3.4")));
    EXPECT_EQ(StrToIP(QStringLiteral("255.255.255.255")), 0xFFFFFFFFu);
    EXPECT_EQ(StrToIP(QStringLiteral("0.0.0.0")), 0u);
    EXPECT_EQ(StrToIP(QStringLiteral("no address")), 0u);
    EXPECT_EQ(StrToIPDef(QStringLiteral("no address"), 7), 7u);
    EXPECT_EQ(StrToIPDef(QStringLiteral("10.0.0.1"), 7), 0x0A000001u);
}

TEST(NetIPText, NumbersToText)
{
    EXPECT_EQ(IPToStr(0xC0A8010A), QStringLiteral("192.168.1.10"));
    EXPECT_EQ(IPToStr(0), QStringLiteral("0.0.0.0"));
    EXPECT_EQ(IPToStr(0xFFFFFFFF), QStringLiteral("255.255.255.255"));
    EXPECT_EQ(IPToStr(StrToIP(QStringLiteral("010.001.000.255"))), QStringLiteral("10.1.0.255"));
}

TEST(NetSubnetMask, AcceptsPrefixes8To32Only)
{
    for (int prefix = 0; prefix <= 32; ++prefix) {
        const uint32_t mask = prefix == 0 ? 0 : ~uint32_t(0) << (32 - prefix);
        EXPECT_EQ(IsValidSubnetMask(mask), prefix >= 8) << "prefix " << prefix;
    }
    for (const char* holey : {"255.0.255.0", "255.255.255.1", "255.255.0.255", "254.255.255.255"})
        EXPECT_FALSE(IsValidSubnetMask(StrToIP(QString::fromLatin1(holey)))) << holey;
}

struct BroadcastCase {
    const char* name;
    const char* ip;
    const char* mask;
    const char* broadcast;
};

class Broadcast : public testing::TestWithParam<BroadcastCase> {};

TEST_P(Broadcast, Text)
{
    const BroadcastCase& c = GetParam();
    EXPECT_EQ(GetBroadcastText(QString::fromLatin1(c.ip), QString::fromLatin1(c.mask)),
              QString::fromLatin1(c.broadcast));
}

INSTANTIATE_TEST_SUITE_P(Net, Broadcast,
                         testing::Values(BroadcastCase{"Class24", "192.168.1.10", "255.255.255.0", "192.168.1.255"},
                                         BroadcastCase{"Prefix30", "172.16.3.9", "255.255.255.252", "172.16.3.11"},
                                         BroadcastCase{"Loopback", "127.0.0.1", "255.0.0.0", "127.255.255.255"},
                                         BroadcastCase{"EmptyMask", "192.168.1.10", "", "255.255.255.255"},
                                         BroadcastCase{"InvalidIP", "x", "255.255.255.0", "0.0.0.255"},
                                         BroadcastCase{"NoAddress", "0.0.0.0", "0.0.0.0", "255.255.255.255"}),
                         CaseName);

// ---- the platform's routing table ----

TEST(NetRouteTable, FirstDefaultGatewayPerAdapter)
{
    const QByteArray table =
        "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT   \n"
        "eth0\t000200C0\t00000000\t0001\t0\t0\t0\t00FFFFFF\t0\t0\t0   \n"   // on-link route
        "eth0\t00000000\t010200C0\t0003\t0\t0\t0\t00000000\t0\t0\t0   \n"   // default via 192.0.2.1
        "eth0\t00000000\t020200C0\t0003\t0\t0\t100\t00000000\t0\t0\t0\n"    // second default: ignored
        "eth1\t00000000\t00000000\t0001\t0\t0\t0\t00000000\t0\t0\t0\n"      // default without gateway
        "wlan0\t0000000A\t0100000A\t0003\t0\t0\t0\t000000FF\t0\t0\t0\n"     // gateway, not default
        "eth2\t00000000\t0101A8C0\t0003\t0\t0\t0\t00000000\t0\t0\t0\n"
        "broken line\n";
    const QHash<QString, QString> gateways = DefaultGatewaysFromRouteTable(table);
    EXPECT_EQ(gateways.size(), 2);
    EXPECT_EQ(gateways.value(QStringLiteral("eth0")), QStringLiteral("192.0.2.1"));
    EXPECT_EQ(gateways.value(QStringLiteral("eth2")), QStringLiteral("192.168.1.1"));
}

// The real table of this host: the loopback adapter, with which the tests bind their links.
TEST(NetPlatformTable, ListsTheLoopbackAdapter)
{
    const QList<TPlatformAdapter> table = ReadAdapterTable();
    const auto lo = std::find_if(table.begin(), table.end(),
                                 [](const TPlatformAdapter& a) { return a.AdapterName == QLatin1String("lo"); });
    ASSERT_NE(lo, table.end());
    EXPECT_EQ(lo->IPAddress, QStringLiteral("127.0.0.1"));
    EXPECT_EQ(lo->SubnetMask, QStringLiteral("255.0.0.0"));
}

// ---- adapters over a made-up table ----

const QByteArray RouteTableHeader =
    "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT   \n";

class MadeUpAdapters : public testing::Test {
protected:
    void SetUp() override
    {
        SetAdapterTableReader([this] { return table; });
        SetLocalIPResolver([this] { return localIP; });
        SetRouteTableReader([this] { return routes; });
    }
    void TearDown() override
    {
        SetAdapterTableReader({});
        SetLocalIPResolver({});
        SetRouteTableReader({});
    }

    QString localIP = QStringLiteral("192.168.1.10");
    QByteArray routes = RouteTableHeader;   // no routes
    QList<TPlatformAdapter> table = {
        {"{eth-A}", "Ethernet Adapter", "192.168.1.10", "255.255.255.0", "192.168.1.1"},
        {"{unplugged}", "Unplugged Adapter", "0.0.0.0", "0.0.0.0", ""},
        {"lo", "Loopback", "127.0.0.1", "255.0.0.0", ""},
        {"{eth-B}", "Second Ethernet", "10.0.0.5", "255.0.0.0", "10.0.0.1"},
        {"{eth-B}", "Same name again", "10.9.9.9", "255.255.0.0", "10.9.0.1"},
    };
};

TEST_F(MadeUpAdapters, RefreshListsEveryAdapterInOrder)
{
    TEthernetAdapterInfoList list;
    list.Add(QStringLiteral("stale"), QStringLiteral("gone"), QStringLiteral("1.1.1.1"), QStringLiteral("255.0.0.0"));
    list.Refresh();
    ASSERT_EQ(list.Count(), table.size());
    EXPECT_EQ(list.ItemTexts(),
              QStringList({"Ethernet Adapter (192.168.1.10)", "Unplugged Adapter (0.0.0.0)", "Loopback (127.0.0.1)",
                           "Second Ethernet (10.0.0.5)", "Same name again (10.9.9.9)"}));
    const TEthernetAdapterInfo* unplugged = list.Items(1);
    ASSERT_NE(unplugged, nullptr);
    EXPECT_EQ(unplugged->Broadcast, QStringLiteral("255.255.255.255"));
    const TEthernetAdapterInfo* first = list.Items(0);
    EXPECT_EQ(first->Broadcast, QStringLiteral("192.168.1.255"));
    EXPECT_TRUE(first->Gateway.isEmpty());
}

TEST_F(MadeUpAdapters, ItemsOutsideTheListAreNone)
{
    TEthernetAdapterInfoList list;
    list.Refresh();
    EXPECT_EQ(list.Items(-1), nullptr);
    EXPECT_EQ(list.Items(list.Count()), nullptr);
    EXPECT_NE(list.Items(list.Count() - 1), nullptr);
}

TEST_F(MadeUpAdapters, FindsByExactName)
{
    TEthernetAdapterInfoList list;
    list.Refresh();
    EXPECT_EQ(list.IndexOfName(QStringLiteral("{eth-B}")), 3);   // the first of two
    EXPECT_EQ(list.IndexOfName(QStringLiteral("{ETH-B}")), -1);
    EXPECT_EQ(list.FindByName(QStringLiteral("lo")), list.Items(2));
    EXPECT_EQ(list.FindByName(QStringLiteral("nothing")), nullptr);
    EXPECT_EQ(list.IndexOf(TEthernetAdapterInfo(QStringLiteral("lo"), {}, {}, {})), 2);
}

TEST_F(MadeUpAdapters, EmptyTableGivesEmptyList)
{
    table.clear();
    TEthernetAdapterInfoList list;
    list.Refresh();
    EXPECT_EQ(list.Count(), 0);
    EXPECT_EQ(list.Items(0), nullptr);
    EXPECT_EQ(list.IndexOfName(QStringLiteral("lo")), -1);
    EXPECT_TRUE(list.ItemTexts().isEmpty());
}

TEST_F(MadeUpAdapters, FindAdapterLastMatchWins)
{
    std::optional<TPlatformAdapter> found = FindAdapter(&TPlatformAdapter::AdapterName, QStringLiteral("{eth-B}"));
    ASSERT_TRUE(found);
    EXPECT_EQ(found->IPAddress, QStringLiteral("10.9.9.9"));
    EXPECT_EQ(found->Gateway, QStringLiteral("10.9.0.1"));

    table.append({"{eth-C}", "Duplicate address", "192.168.1.10", "255.255.0.0", ""});
    found = FindAdapter(&TPlatformAdapter::IPAddress, QStringLiteral("192.168.1.10"));
    ASSERT_TRUE(found);
    EXPECT_EQ(found->AdapterName, QStringLiteral("{eth-C}"));
    EXPECT_EQ(found->SubnetMask, QStringLiteral("255.255.0.0"));
    EXPECT_TRUE(found->Gateway.isEmpty());

    EXPECT_FALSE(FindAdapter(&TPlatformAdapter::IPAddress, QStringLiteral("192.168.1.1")));
}

TEST_F(MadeUpAdapters, DetectLocalFillsFromTheHostAddress)
{
    TEthernetAdapterInfo adapter;
    ASSERT_TRUE(adapter.DetectLocal());
    EXPECT_EQ(adapter.AdapterName, QStringLiteral("{eth-A}"));
    EXPECT_EQ(adapter.IPAddress, QStringLiteral("192.168.1.10"));
    EXPECT_EQ(adapter.SubnetMask, QStringLiteral("255.255.255.0"));
    EXPECT_EQ(adapter.Broadcast, QStringLiteral("192.168.1.255"));
    EXPECT_EQ(adapter.Gateway, QStringLiteral("192.168.1.1"));
    EXPECT_EQ(adapter.Description, QStringLiteral("Ethernet Adapter"));
}

TEST_F(MadeUpAdapters, DetectLocalFailureLeavesAnEmptyObject)
{
    table[0].SubnetMask = QStringLiteral("mask?");
    table.removeAt(2);   // no loopback adapter and no default route: nothing to fall back to
    for (const QString& hostAddress : {QString(), QStringLiteral("172.16.0.1"), QStringLiteral("192.168.1.10")}) {
        localIP = hostAddress;
        TEthernetAdapterInfo adapter(QStringLiteral("lo"), QStringLiteral("Loopback"), QStringLiteral("127.0.0.1"),
                                     QStringLiteral("255.0.0.0"));
        EXPECT_FALSE(adapter.DetectLocal()) << hostAddress.toStdString();
        EXPECT_TRUE(adapter.AdapterName.isEmpty() && adapter.IPAddress.isEmpty() && adapter.Broadcast.isEmpty() &&
                    adapter.Description.isEmpty());
    }
}

// One line of the kernel's routing table, in its own format.
struct TRouteLine {
    const char* Adapter;
    const char* Destination;
    const char* Mask;
    unsigned Flags;
    int Metric;
};

struct TLocalAdapterCase {
    const char* name;
    const char* hostIP;   // what the host name resolves to
    std::vector<TRouteLine> routes;
    const char* adapter;   // the adapter DetectLocal takes
    const char* ip;
};

class LocalAdapter : public MadeUpAdapters, public testing::WithParamInterface<TLocalAdapterCase> {};

TEST_P(LocalAdapter, HostAddressThenDefaultRouteThenLoopback)
{
    const TLocalAdapterCase& c = GetParam();
    localIP = QString::fromLatin1(c.hostIP);
    for (const TRouteLine& r : c.routes) {
        routes += QByteArray(r.Adapter) + '\t' + r.Destination + "\t0100A8C0\t" + QByteArray::number(r.Flags, 16) +
                  "\t0\t0\t" + QByteArray::number(r.Metric) + '\t' + r.Mask + "\t0\t0\t0\n";
    }
    TEthernetAdapterInfo adapter;
    ASSERT_TRUE(adapter.DetectLocal());
    EXPECT_EQ(adapter.AdapterName, QString::fromLatin1(c.adapter));
    EXPECT_EQ(adapter.IPAddress, QString::fromLatin1(c.ip));
    EXPECT_EQ(adapter.Broadcast, GetBroadcastText(adapter.IPAddress, adapter.SubnetMask));
}

// A route to 0.0.0.0/0 through the adapter; flags 3: up, through a gateway.
TRouteLine Default(const char* adapter, int metric = 100, unsigned flags = 3)
{
    return {adapter, "00000000", "00000000", flags, metric};
}

const TRouteLine OnLinkA{"{eth-A}", "0001A8C0", "00FFFFFF", 1, 100};
const TRouteLine FirstHalfViaB{"{eth-B}", "00000000", "00000080", 3, 0};   // 0.0.0.0/1, as VPNs add

INSTANTIATE_TEST_SUITE_P(
    Net, LocalAdapter,
    testing::Values(
        TLocalAdapterCase{"HostAddressBeforeDefaultRoute", "10.0.0.5", {Default("{eth-A}")}, "{eth-B}", "10.0.0.5"},
        TLocalAdapterCase{"HostNameOn127_0_1_1", "127.0.1.1", {OnLinkA, Default("{eth-A}")}, "{eth-A}", "192.168.1.10"},
        TLocalAdapterCase{"HostNameUnresolved", "", {Default("{eth-B}")}, "{eth-B}", "10.0.0.5"},
        TLocalAdapterCase{
            "LowestMetric", "127.0.1.1", {Default("{eth-B}", 600), Default("{eth-A}")}, "{eth-A}", "192.168.1.10"},
        TLocalAdapterCase{
            "FirstOfEqualMetrics", "127.0.1.1", {Default("{eth-B}"), Default("{eth-A}")}, "{eth-B}", "10.0.0.5"},
        TLocalAdapterCase{"DefaultRouteWithoutGateway", "127.0.1.1", {Default("{eth-B}", 0, 1)}, "{eth-B}", "10.0.0.5"},
        TLocalAdapterCase{"FirstHalfOfTheAddressesIsNoDefault", "127.0.1.1", {FirstHalfViaB}, "lo", "127.0.0.1"},
        TLocalAdapterCase{"RouteNotUp", "127.0.1.1", {Default("{eth-B}", 100, 2)}, "lo", "127.0.0.1"},
        TLocalAdapterCase{"NoDefaultRoute", "127.0.1.1", {OnLinkA}, "lo", "127.0.0.1"},
        TLocalAdapterCase{"NoRoutes", "127.0.1.1", {}, "lo", "127.0.0.1"},
        TLocalAdapterCase{
            "DefaultRouteOnAdapterWithoutAddress", "127.0.1.1", {Default("{unplugged}")}, "lo", "127.0.0.1"},
        TLocalAdapterCase{"DefaultRouteOnUnknownAdapter", "127.0.1.1", {Default("ppp0")}, "lo", "127.0.0.1"}),
    CaseName);

TEST_F(MadeUpAdapters, LoadByName)
{
    TEthernetAdapterInfo adapter(QStringLiteral("lo"), QStringLiteral("Loopback"), QStringLiteral("127.0.0.1"),
                                 QStringLiteral("255.0.0.0"));
    EXPECT_FALSE(adapter.LoadByName(QStringLiteral("nothing")));
    EXPECT_EQ(adapter.AdapterName, QStringLiteral("lo"));
    EXPECT_EQ(adapter.Broadcast, QStringLiteral("127.255.255.255"));

    ASSERT_TRUE(adapter.LoadByName(QStringLiteral("{eth-A}")));
    EXPECT_EQ(adapter.AdapterName, QStringLiteral("{eth-A}"));
    EXPECT_EQ(adapter.IPAddress, QStringLiteral("192.168.1.10"));
    EXPECT_EQ(adapter.Broadcast, QStringLiteral("192.168.1.255"));
    EXPECT_EQ(adapter.Gateway, QStringLiteral("192.168.1.1"));
}

}   // namespace
