#include "OptionReader.h"

#include "IntegerText.h"
#include "uABus.h"
#include "uEthernetUtils.h"

#include <QFile>
#include <QTextStream>

#include <algorithm>

int TOptionReader::Choice(const char* option)
{
    const TChoices& choices = *FindOption(O.Command, QLatin1String(option))->Choices;
    const int index = ChoiceIndex(choices, Value(option));
    if (index < 0)
        Refuse(QStringLiteral("unknown ") + QLatin1String(choices.What) + QStringLiteral(": \"") + Value(option) +
               QStringLiteral("\" (") + ChoicesInWords(choices) + u')');
    return index;
}

void TOptionReader::Name(const char* option, const QString& name)
{
    if (std::any_of(name.cbegin(), name.cend(), [](QChar c) { return c.category() == QChar::Other_Control; }))
        Refuse(QStringLiteral("--") + QLatin1String(option) +
               QStringLiteral(": a name without control characters (newlines, tabs)"));
}

bool TOptionReader::ManyUnits() const
{
    const TTargetChoice& t = O.Targets;
    return O.Command == TCommand::Station || t.Fresh || t.All || t.IPs.size() + t.Nads.size() > 1;
}

void ParseLink(TOptionReader& r)
{
    TLoaderOptions& o = r.O;
    r.Number("port", o.Link.Port);
    r.Number("timeout", o.Link.Timeout);
    r.Number("attempts", o.Link.Attempts);
    r.Number("wait", o.DiscoveryWait);
    o.Json = r.IsSet("json");
    if (Takes(o.Command, TakesSerials) || Takes(o.Command, TakesStoreOnly))
        o.Records = r.IsSet("records") ? r.Value("records") : r.Environment.Records;
}

// The units by NAD or address, or dump's memory and unit; a command that takes no units
// refuses them.
void ParseUnits(TOptionReader& r, QStringList positional)
{
    TLoaderOptions& o = r.O;
    if (o.Command == TCommand::Dump) {
        const QString what = positional.value(0);
        if (what == QLatin1String("kernel"))
            o.Operation = TUnitOperation::DumpKernel;
        else if (what == QLatin1String("program"))
            o.Operation = TUnitOperation::DumpProgram;
        else
            r.Refuse(QStringLiteral("dump what: kernel or program, not \"") + what + u'"');
        if (!positional.isEmpty())
            positional.removeFirst();
        o.DumpPath = r.Value("output");
        if (o.DumpPath.isEmpty())
            r.Refuse(QStringLiteral("dump: name the file with -o FILE"));
        if (positional.size() != 1)
            r.Refuse(QStringLiteral("dump: name exactly one unit"));
    }
    if (!Takes(o.Command, TakesUnits)) {
        if (!positional.isEmpty())
            r.Refuse(CommandName(o.Command) + QStringLiteral(" takes no units: \"") + positional.join(u' ') + u'"');
        return;
    }
    o.Targets.Fresh = r.IsSet("fresh");
    o.Targets.All = r.IsSet("all");
    r.Number("parallel", o.Parallel);
    for (const QString& text : positional) {
        if (IsValidIPText(text)) {
            o.Targets.IPs << text;
            continue;
        }
        const int32_t nad = IntegerTextOrDefault(text, 0);
        if (nad == 0)
            r.Refuse(QStringLiteral("not a NAD or an IP address: \"") + text + u'"');
        else
            o.Targets.Nads << nad;
    }
    if (o.Targets.IPs.isEmpty() && o.Targets.Nads.isEmpty() && !o.Targets.Fresh && !o.Targets.All)
        r.Refuse(QStringLiteral("name the units: NADs, IP addresses, --fresh or --all"));
}

namespace {

void Adapter(TOptionReader& r)
{
    if (!r.IsSet("adapter")) {
        TEthernetAdapterInfo local;
        if (!local.DetectLocal())
            r.Refuse(QStringLiteral("no adapter carries this host's address: choose one with --adapter"));
        r.O.Link.AdapterName = local.AdapterName;
        return;
    }
    TEthernetAdapterInfoList adapters;
    adapters.Refresh();
    const QString wanted = r.Value("adapter");
    for (int i = 0; i < adapters.Count(); ++i) {
        const TEthernetAdapterInfo* adapter = adapters.Items(i);
        if (adapter->AdapterName == wanted || adapter->IPAddress == wanted) {
            r.O.Link.AdapterName = adapter->AdapterName;
            return;
        }
    }
    r.Refuse(QStringLiteral("no adapter is named or addressed \"") + wanted + u'"');
}

}   // namespace

// The password and the adapter; the store commands resolve an adapter only when one is
// named, to refuse one that is not there.
void PrepareLink(TOptionReader& r)
{
    if (!Takes(r.O.Command, TakesStoreOnly) || r.IsSet("adapter"))
        Adapter(r);
    QString password = r.Environment.Password;
    if (r.IsSet("password-file")) {
        QFile file(r.Value("password-file"));
        if (file.open(QIODevice::ReadOnly | QIODevice::Text))
            password = QTextStream(&file).readLine();
        else
            r.Refuse(QStringLiteral("can't read the password file ") + file.fileName() + QStringLiteral(": ") +
                     file.errorString());
    }
    r.O.Link.PasswordCode = password.isEmpty() ? 0 : TextChecksum(password, 0);
}
