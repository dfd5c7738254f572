#include "OptionReader.h"

#include "ImageFiles.h"
#include "IntegerText.h"
#include "JobChecks.h"
#include "ProductionLog.h"
#include "Recipe.h"
#include "SettingsStore.h"
#include "Engine.h"

#include <QSysInfo>

#include <array>
#include <limits>

namespace {

void IpSettings(TOptionReader& r)
{
    const bool dhcp = r.IsSet("dhcp");
    const bool staticIP = r.IsSet("ip") || r.IsSet("mask") || r.IsSet("gateway") || r.IsSet("dns");
    if (!dhcp && !staticIP)
        return;
    TIpSetting& ip = r.Given.Settings.Ip.emplace();
    ip.Dhcp = dhcp;
    if (dhcp)
        return;   // with a static address too: DeclaredRefusal refused it
    if (!r.IsSet("ip") || !r.IsSet("mask"))
        r.Refuse(QStringLiteral("a static address needs --ip and --mask"));
    ip.Address = r.Value("ip");
    ip.Mask = r.Value("mask");
    ip.Gateway = r.IsSet("gateway") ? r.Value("gateway") : QStringLiteral("0.0.0.0");
    ip.Dns = r.IsSet("dns") ? r.Value("dns") : QStringLiteral("0.0.0.0");
    const std::array<bool, 4> valid = IpFieldsValid(ip);
    const std::pair<const char*, const QString&> fields[] = {{"ip", ip.Address},
                                                             {"mask", ip.Mask},
                                                             {"gateway", ip.Gateway},
                                                             {"dns", ip.Dns}};
    for (size_t i = 0; i < valid.size(); ++i) {
        const auto& [option, text] = fields[i];
        if (!valid[i])
            r.Refuse(QStringLiteral("--") + QLatin1String(option) +
                     (i == 1 ? QStringLiteral(": not a subnet mask: \"") : QStringLiteral(": not an IP address: \"")) +
                     text + u'"');
    }
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
    // A unit whose file the command line replaced did not get the recipe's release: its
    // record says so, and records --recipe NAME does not count it among the recipe's.
    QStringList replaced;
    if (r.Given.Kernel)
        replaced << QStringLiteral("kernel");
    if (r.Given.Program)
        replaced << QStringLiteral("program");
    o.Job = LaidOver(r.Given, recipe.Job);
    // A setting, start, clock or verify laid over the recipe's makes another job too.
    TJob recipeFiles = o.Job;
    recipeFiles.Kernel = recipe.Job.Kernel;
    recipeFiles.Program = recipe.Job.Program;
    if (!JobIsTheRecipe(recipe, recipeFiles))
        replaced << QStringLiteral("settings");
    o.Recipe = replaced.isEmpty() ? recipe.Name
                                  : recipe.Name + QStringLiteral(" (") + replaced.join(QStringLiteral(" and ")) +
                                        QStringLiteral(" replaced)");
    r.RecipeSerial = recipe.Job.Serial;
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
    r.Refuse(OneUnitSettingRefusal(r.O.Job.Settings,
                                   {given("ip", "static address"), QStringLiteral("use --dhcp"),
                                    given("nad-alias", "NAD alias"), QStringLiteral("leave it out (or 0)"),
                                    QStringLiteral(" with station, --fresh, --all or several units"), QString()}));
}

}   // namespace

void ParseSettings(TOptionReader& r)
{
    TJob& given = r.Given;
    const auto file = [&r](const char* option) {
        return r.IsSet(option) ? std::optional<TJobFile>(TJobFile{r.Value(option), QString()}) : std::nullopt;
    };
    given.Kernel = file("kernel");
    given.Program = file("program");
    if (r.IsSet("nad-alias")) {
        given.Settings.NadAlias = r.Value("nad-alias");
        if (IntegerTextOrDefault(*given.Settings.NadAlias, -1) < 0)
            r.Refuse(QStringLiteral("invalid NAD alias: \"") + *given.Settings.NadAlias + u'"');
    }
    if (r.IsSet("model"))
        given.Settings.HardwareModel = r.Choice("model");
    if (r.IsSet("iex-baud"))
        given.Settings.IEXBaudRate = r.Choice("iex-baud");
    IpSettings(r);
    if (r.O.Command == TCommand::Verify && !given.Verifiable())
        r.Refuse(QStringLiteral("verify what: give --kernel, --program or a setting"));
}

void ParseSerialSource(TOptionReader& r)
{
    TLoaderOptions& o = r.O;
    TSerialSource& serial = r.Given.Serial;
    serial.Autoincrement = r.IsSet("autoincrement");
    o.Station = r.IsSet("station") ? r.Value("station") : QSysInfo::machineHostName();
    serial.Series = r.Value("series");
    if (r.IsSet("series") && serial.Series.isEmpty())
        r.Refuse(QStringLiteral("--series: name the series"));
    r.Name("station", o.Station);
    r.Name("series", serial.Series);
    if (r.IsSet("serial")) {
        const QString text = r.Value("serial");
        const qlonglong number = DecimalNumber(text).value_or(-1);
        if (number < 1 || number > std::numeric_limits<int32_t>::max())
            r.Refuse(QStringLiteral("invalid serial number: \"") + text +
                     QStringLiteral("\" (decimal digits, 1 to 2147483647)"));
        serial.Number = int32_t(number);
    }
    r.Given.StartPlc = r.IsSet("start-plc");
    r.Given.SetClock = r.IsSet("set-rtc");
    r.Given.Verify = r.IsSet("verify");
    if (r.IsSet("log"))
        o.ProductionLogPath = r.Value("log");
}

void PrepareSettings(TOptionReader& r)
{
    TLoaderOptions& o = r.O;
    if (r.IsSet("recipe"))
        Recipe(r);
    else
        o.Job = r.Given;
    QString error;
    if (!LoadJobFiles(o.Job, o.Images, error))
        r.Refuse(error);
}

void PrepareSerialSource(TOptionReader& r)
{
    TLoaderOptions& o = r.O;
    OneUnitSettings(r);
    // One source of numbers; a named store is shared, and a number counted here would be
    // given there too. DeclaredRefusal refused two sources given at once.
    TSerialSource serial = r.Given.Serial;
    const bool local = r.IsSet("serial") || serial.Autoincrement;
    bool none = r.IsSet("no-serial");
    bool series = r.IsSet("series");
    // A recipe's series, or its none, holds unless the command line names a source.
    if (r.RecipeSerial && !local && !none && !series) {
        serial = *r.RecipeSerial;
        series = serial.Write;
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
    if (serial.Autoincrement && !r.IsSet("serial")) {
        const std::optional<int64_t> stored = LoadStoredNextSerial();
        if (!stored || *stored < 1)
            r.Refuse(QStringLiteral("--autoincrement: no serial number is kept yet; give --serial N"));
        else if (*stored >= SerialNumbersUsedUp)
            r.Refuse(QStringLiteral("--autoincrement: ") + SerialNumbersUsedUpText());
        else
            serial.Number = int32_t(*stored);
    }
    serial.Write = serial.Number > 0 || !serial.Series.isEmpty();
    o.Job.Serial = serial;
    // A unit given nothing would be counted done, and a station would go on taking units.
    r.Refuse(NothingToSendRefusal(o.Job, QStringLiteral("give --kernel, --program, a serial number (--series, "
                                                        "--serial or --autoincrement), a setting, --start-plc "
                                                        "or --set-rtc")));
    if (!r.IsSet("log"))
        o.ProductionLogPath = WindowProductionLogPath();
}
