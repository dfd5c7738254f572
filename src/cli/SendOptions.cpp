#include "OptionReader.h"

#include "ImageFiles.h"
#include "IntegerText.h"
#include "JobChecks.h"
#include "ProductionLog.h"
#include "Recipe.h"
#include "SettingsStore.h"
#include "Engine.h"
#include "uEthernetUtils.h"

#include <QSysInfo>

#include <limits>

namespace {

void IpSettings(TOptionReader& r)
{
    TOperationInputs& in = r.Given;
    const bool dhcp = r.IsSet("dhcp");
    const bool staticIP = r.IsSet("ip") || r.IsSet("mask") || r.IsSet("gateway") || r.IsSet("dns");
    if (!dhcp && !staticIP)
        return;
    in.SetIPAddress = true;
    in.DHCP = dhcp;
    if (dhcp)
        return;   // with a static address too: DeclaredRefusal refused it
    if (!r.IsSet("ip") || !r.IsSet("mask"))
        r.Refuse(QStringLiteral("a static address needs --ip and --mask"));
    in.IPAddress = r.Value("ip");
    in.SubnetMask = r.Value("mask");
    in.Gateway = r.IsSet("gateway") ? r.Value("gateway") : QStringLiteral("0.0.0.0");
    in.DNSServer = r.IsSet("dns") ? r.Value("dns") : QStringLiteral("0.0.0.0");
    for (const auto& [option, text] :
         {std::pair{"ip", in.IPAddress}, std::pair{"gateway", in.Gateway}, std::pair{"dns", in.DNSServer}}) {
        if (!IsValidIPText(text))
            r.Refuse(QStringLiteral("--") + QLatin1String(option) + QStringLiteral(": not an IP address: \"") + text +
                     u'"');
    }
    if (!IsValidIPText(in.SubnetMask) || !IsValidSubnetMask(StrToIP(in.SubnetMask)))
        r.Refuse(QStringLiteral("--mask: not a subnet mask: \"") + in.SubnetMask + u'"');
}

// The command line's files and settings over the recipe's: each one given replaces the
// recipe's field.
void LayGivenOver(const TOperationInputs& given, TOperationInputs& in)
{
    if (given.KernelChecked) {
        in.KernelChecked = true;
        in.KernelPath = given.KernelPath;
    }
    if (given.ProgramChecked) {
        in.ProgramChecked = true;
        in.ProgramPath = given.ProgramPath;
    }
    if (given.SetNadAlias) {
        in.SetNadAlias = true;
        in.NadAliasText = given.NadAliasText;
    }
    if (given.SetHardwareModel) {
        in.SetHardwareModel = true;
        in.HardwareModelIndex = given.HardwareModelIndex;
    }
    if (given.SetIEXBaudRate) {
        in.SetIEXBaudRate = true;
        in.IEXBaudRateIndex = given.IEXBaudRateIndex;
    }
    if (given.SetIPAddress) {
        in.SetIPAddress = true;
        in.DHCP = given.DHCP;
        in.IPAddress = given.IPAddress;
        in.SubnetMask = given.SubnetMask;
        in.Gateway = given.Gateway;
        in.DNSServer = given.DNSServer;
    }
    in.StartPlc = in.StartPlc || given.StartPlc;
    in.SetRtc = in.SetRtc || given.SetRtc;
}

// --recipe FILE: the recipe's files, settings, verify and series, under the options that
// override single fields. The files the command line does not replace are loaded and
// checked against the recipe's hashes.
void Recipe(TOptionReader& r)
{
    TLoaderOptions& o = r.O;
    TRecipe recipe;
    QString error;
    if (!ReadRecipe(r.Value("recipe"), recipe, error)) {
        r.Refuse(error);
        return;
    }
    ApplyRecipe(recipe, o.Inputs);
    // A unit whose file the command line replaced did not get the recipe's release: its
    // record says so, and records --recipe NAME does not count it among the recipe's.
    QStringList replaced;
    if (r.Given.KernelChecked) {
        recipe.Kernel.reset();
        replaced << QStringLiteral("kernel");
    }
    if (r.Given.ProgramChecked) {
        recipe.Program.reset();
        replaced << QStringLiteral("program");
    }
    if (!LoadRecipeFiles(recipe, o.Images, error))
        r.Refuse(error);
    o.Recipe = replaced.isEmpty() ? recipe.Name
                                  : recipe.Name + QStringLiteral(" (") + replaced.join(QStringLiteral(" and ")) +
                                        QStringLiteral(" replaced)");
    o.VerifyAfterSend = recipe.VerifyAfterSend;
    r.RecipeSeries = recipe.Series;
}

// A static address or an alias is one unit's: given to several, they would collide.
void OneUnitSettings(TOptionReader& r)
{
    if (!r.ManyUnits())
        return;
    // Named as the operator gave it: an option, or a setting of the recipe.
    const auto given = [&r](const char* option, const char* setting) {
        return r.IsSet(option) || !r.IsSet("recipe") ? QStringLiteral("--") + QLatin1String(option)
                                                     : QStringLiteral("the recipe's ") + QLatin1String(setting);
    };
    r.Refuse(OneUnitSettingRefusal(r.O.Inputs,
                                   {given("ip", "static address"), QStringLiteral("use --dhcp"),
                                    given("nad-alias", "NAD alias"), QStringLiteral("leave it out (or 0)"),
                                    QStringLiteral(" with station, --fresh, --all or several units"), QString()}));
}

}   // namespace

void ParseSettings(TOptionReader& r)
{
    TOperationInputs& in = r.Given;
    if (r.IsSet("kernel")) {
        in.KernelChecked = true;
        in.KernelPath = r.Value("kernel");
    }
    if (r.IsSet("program")) {
        in.ProgramChecked = true;
        in.ProgramPath = r.Value("program");
    }
    if (r.IsSet("nad-alias")) {
        in.SetNadAlias = true;
        in.NadAliasText = r.Value("nad-alias");
        if (IntegerTextOrDefault(in.NadAliasText, -1) < 0)
            r.Refuse(QStringLiteral("invalid NAD alias: \"") + in.NadAliasText + u'"');
    }
    if (r.IsSet("model")) {
        in.SetHardwareModel = true;
        in.HardwareModelIndex = r.Choice("model");
    }
    if (r.IsSet("iex-baud")) {
        in.SetIEXBaudRate = true;
        in.IEXBaudRateIndex = r.Choice("iex-baud");
    }
    IpSettings(r);
    if (r.O.Command == TCommand::Verify && !in.KernelChecked && !in.ProgramChecked && !in.SetNadAlias &&
        !in.SetHardwareModel && !in.SetIEXBaudRate && !in.SetIPAddress)
        r.Refuse(QStringLiteral("verify what: give --kernel, --program or a setting"));
}

void ParseSerialSource(TOptionReader& r)
{
    TLoaderOptions& o = r.O;
    o.Autoincrement = r.IsSet("autoincrement");
    o.Station = r.IsSet("station") ? r.Value("station") : QSysInfo::machineHostName();
    o.Series = r.Value("series");
    if (r.IsSet("series") && o.Series.isEmpty())
        r.Refuse(QStringLiteral("--series: name the series"));
    r.Name("station", o.Station);
    r.Name("series", o.Series);
    if (r.IsSet("serial")) {
        const QString text = r.Value("serial");
        const qlonglong serial = DecimalNumber(text).value_or(-1);
        if (serial < 1 || serial > std::numeric_limits<int32_t>::max())
            r.Refuse(QStringLiteral("invalid serial number: \"") + text +
                     QStringLiteral("\" (decimal digits, 1 to 2147483647)"));
        o.FirstSerial = int32_t(serial);
    }
    r.Given.StartPlc = r.IsSet("start-plc");
    r.Given.SetRtc = r.IsSet("set-rtc");
    if (r.IsSet("log"))
        o.ProductionLogPath = r.Value("log");
}

void PrepareSettings(TOptionReader& r)
{
    TLoaderOptions& o = r.O;
    if (r.IsSet("recipe"))
        Recipe(r);
    LayGivenOver(r.Given, o.Inputs);
    QString error;
    if (r.Given.KernelChecked && !LoadKernelFile(o.Inputs.KernelPath, o.Images, error))
        r.Refuse(error);
    if (r.Given.ProgramChecked && !LoadProgramFile(o.Inputs.ProgramPath, o.Images, error))
        r.Refuse(error);
}

void PrepareSerialSource(TOptionReader& r)
{
    TLoaderOptions& o = r.O;
    OneUnitSettings(r);
    // One source of numbers; a named store is shared, and a number counted here would be
    // given there too. DeclaredRefusal refused two sources given at once.
    const bool local = r.IsSet("serial") || o.Autoincrement;
    bool none = r.IsSet("no-serial");
    bool series = r.IsSet("series");
    // A recipe's series, or its none, holds unless the command line names a source.
    if (r.RecipeSeries && !local && !none && !series) {
        o.Series = *r.RecipeSeries;
        series = !o.Series.isEmpty();
        none = !series;
    }
    if (!none && !local && !series && r.ManyUnits())
        // A unit left without a number stays fresh: the next run, or the next scan of this
        // one, would take it for a new unit and write it again.
        r.Refuse(QStringLiteral("say where serial numbers come from: --series NAME, --serial N, --autoincrement or "
                                "--no-serial (the units stay fresh)"));
    else if (local && !o.Records.isEmpty())
        r.Refuse(QStringLiteral("with the record store ") +
                 (r.IsSet("records") ? QStringLiteral("--records") : QStringLiteral("ORVEL_RECORDS")) +
                 QStringLiteral(" serial numbers come from its series: use --series NAME"));
    if (o.Autoincrement && !r.IsSet("serial")) {
        const std::optional<int64_t> stored = LoadStoredNextSerial();
        if (!stored || *stored < 1)
            r.Refuse(QStringLiteral("--autoincrement: no serial number is kept yet; give --serial N"));
        else if (*stored >= SerialNumbersUsedUp)
            r.Refuse(QStringLiteral("--autoincrement: ") + SerialNumbersUsedUpText());
        else
            o.FirstSerial = int32_t(*stored);
    }
    o.Inputs.SerialNumberChecked = o.FirstSerial.has_value() || !o.Series.isEmpty();
    // A unit given nothing would be counted done, and a station would go on taking units.
    r.Refuse(NothingToSendRefusal(o.Inputs, QStringLiteral("give --kernel, --program, a serial number (--series, "
                                                           "--serial or --autoincrement), a setting, --start-plc "
                                                           "or --set-rtc")));
    o.VerifyAfterSend = o.VerifyAfterSend || r.IsSet("verify");
    if (!r.IsSet("log"))
        o.ProductionLogPath = WindowProductionLogPath();
}
