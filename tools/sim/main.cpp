// orvel-sim: simulated controllers on loopback for demos and for work without hardware.
//
//   orvel-sim [--port N] [--verbose] [--latency CMD:MS,...]
//             --controller
//             serial=1000,platform=arm|xa|old,alias=7,password=TEXT,kernel=FILE,program=FILE,latency=CMD:MS,...,
//             lose-serial-replies=N,vanish-after-writes=N
//             [--controller ...]
//             [--arrive N [--every MS] [--arrive-platform arm|xa]]
//
// Runs until SIGINT or SIGTERM and then ends with exit code 0; wrong options end it with 2.
#include "OrvelSimulator.h"

#include "ControllerInfo.h"
#include "hCodeMemory.h"
#include "uABus.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr int MaxLatencyMs = 600000;
constexpr int MaxArrivalGapMs = 3600000;

int SignalPipe[2] = {-1, -1};

void OnSignal(int)
{
    const char byte = 1;
    // Only async-signal-safe work here: the event loop does the rest.
    [[maybe_unused]] const ssize_t written = ::write(SignalPipe[1], &byte, 1);
}

bool InstallSignalHandlers()
{
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, SignalPipe) != 0)
        return false;
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    return sigaction(SIGINT, &action, nullptr) == 0 && sigaction(SIGTERM, &action, nullptr) == 0;
}

void Print(FILE* stream, const QString& text)
{
    std::fprintf(stream, "%s\n", qPrintable(text));
    std::fflush(stream);
}

bool ReadImage(const QString& path, QByteArray& image, QString& error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        error = QStringLiteral("%1: %2").arg(path, file.errorString());
        return false;
    }
    image = file.readAll();
    return true;
}

// CMD:MS,... as in "34:1,32:800": how long a unit is busy with a command before it answers.
bool ParseLatency(const QString& text, QHash<uint8_t, int>& latency)
{
    const QStringList items = text.split(QLatin1Char(','), Qt::SkipEmptyParts);
    for (const QString& item : items) {
        const QStringList parts = item.split(QLatin1Char(':'));
        bool commandOk = false;
        bool msOk = false;
        const uint command = parts.size() == 2 ? parts[0].trimmed().toUInt(&commandOk) : 0;
        const int ms = parts.size() == 2 ? parts[1].trimmed().toInt(&msOk) : 0;
        if (!commandOk || !msOk || command > 255 || ms < 0 || ms > MaxLatencyMs)
            return false;
        latency.insert(uint8_t(command), ms);
    }
    return !items.isEmpty();
}

QString LatencyRule()
{
    return QStringLiteral("CMD:MS,... with CMD 0 to 255 and MS 0 to %1").arg(MaxLatencyMs);
}

// The key=value pairs of a --controller value. The latency list has commas of its own: a
// piece without "=" after latency=... belongs to it.
QStringList ControllerPairs(const QString& text)
{
    QStringList pairs;
    for (const QString& piece : text.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        if (!piece.contains(QLatin1Char('=')) && !pairs.isEmpty() &&
            pairs.back().trimmed().startsWith(QLatin1String("latency=")))
            pairs.back() += QLatin1Char(',') + piece;
        else
            pairs << piece;
    }
    return pairs;
}

// A count of 0 or more.
int Count(const QString& text, bool& ok)
{
    const int count = text.toInt(&ok);
    ok = ok && count >= 0;
    return count;
}

// One --controller value: comma-separated key=value pairs. faults gets the unit's own
// latency and fault triggers.
bool ParseController(const QString& text, TSimControllerConfig& config, TSimFaults& faults, QString& error)
{
    for (const QString& pair : ControllerPairs(text)) {
        const qsizetype equals = pair.indexOf(QLatin1Char('='));
        const QString key = pair.left(equals).trimmed();
        const QString value = equals < 0 ? QString() : pair.mid(equals + 1).trimmed();
        bool ok = true;
        if (key == QLatin1String("serial")) {
            config.Serial = value == QLatin1String("none") ? NoSerialNumber : value.toUInt(&ok);
        } else if (key == QLatin1String("platform")) {
            if (value == QLatin1String("arm"))
                config.LoaderMajor = 3;
            else if (value == QLatin1String("xa"))
                config.LoaderMajor = 2;
            else if (value == QLatin1String("old"))
                config.LoaderMajor = 1;
            else
                ok = false;
        } else if (key == QLatin1String("alias")) {
            config.NadAlias = value.toUInt(&ok);
        } else if (key == QLatin1String("password")) {
            config.PasswordCode = TextChecksum(value, 0);
        } else if (key == QLatin1String("kernel")) {
            if (!ReadImage(value, config.Kernel, error))
                return false;
        } else if (key == QLatin1String("latency")) {
            ok = ParseLatency(value, faults.LatencyFor);
        } else if (key == QLatin1String("lose-serial-replies")) {
            faults.LoseRecordWriteReplies = Count(value, ok);
        } else if (key == QLatin1String("vanish-after-writes")) {
            faults.VanishAfterWrites = Count(value, ok);
        } else if (key == QLatin1String("program")) {
            if (!ReadImage(value, config.Program, error))
                return false;
            // A program file comes with its erased header; a unit that holds it got it sealed
            // by the send, so it is sealed here the same way.
            QByteArray sealed;
            SealProgram(config.Program, sealed, config.LoaderMajor == 2, QDateTime::currentDateTime());
            if (!sealed.isEmpty())
                SetProgramHeader(config.Program, sealed);
        } else {
            ok = false;
        }
        if (!ok) {
            error = QStringLiteral("--controller: cannot use \"%1\"").arg(pair);
            if (key == QLatin1String("latency"))
                error += QStringLiteral(" (%1)").arg(LatencyRule());
            return false;
        }
    }
    return true;
}

// A unit's own faults with the global latency, its own entries in place of the global ones
// for the same command.
TSimFaults WithLatency(const QHash<uint8_t, int>& global, TSimFaults own)
{
    const QHash<uint8_t, int> unitLatency = own.LatencyFor;
    own.LatencyFor = global;
    own.LatencyFor.insert(unitLatency);
    return own;
}

// The fault triggers set from the command line, as the unit's line shows them.
QString DescribeFaults(const TSimFaults& faults)
{
    QString text;
    if (faults.LoseRecordWriteReplies > 0)
        text += QStringLiteral("  loses %1 serial number reply").arg(faults.LoseRecordWriteReplies) +
                (faults.LoseRecordWriteReplies == 1 ? QString() : QStringLiteral("s"));
    if (faults.VanishAfterWrites >= 0)
        text += QStringLiteral("  vanishes after %1 block writes").arg(faults.VanishAfterWrites);
    return text;
}

QString Describe(const TSimController& controller)
{
    const uint32_t serial = controller.Serial();
    const auto record = LoaderRecordFromBytes(controller.LoaderRecord);
    const QString platform = record.LoaderMajor == 2   ? QStringLiteral("Orvel/XA")
                             : record.LoaderMajor == 3 ? QStringLiteral("Orvel/ARM")
                                                       : QStringLiteral("old loader");
    QList<uint8_t> commands = controller.Faults.LatencyFor.keys();
    std::sort(commands.begin(), commands.end());
    QStringList latency;
    for (uint8_t command : commands)
        latency << QStringLiteral("%1:%2").arg(command).arg(controller.Faults.LatencyFor.value(command));
    return QStringLiteral("  %1  serial %2  %3 (loader %4.%5)  alias %6  password %7  kernel %8  program %9")
               .arg(controller.Address, serial == NoSerialNumber ? QStringLiteral("none") : QString::number(serial),
                    platform)
               .arg(record.LoaderMajor)
               .arg(record.LoaderMinor)
               .arg(controller.Config.NadAlias ? QString::number(controller.Config.NadAlias) : QStringLiteral("none"),
                    controller.Config.PasswordCode ? QStringLiteral("yes") : QStringLiteral("no"),
                    controller.HoldsValidKernel() ? QStringLiteral("valid") : QStringLiteral("none"),
                    controller.HoldsValidProgram() ? QStringLiteral("valid") : QStringLiteral("none")) +
           (latency.isEmpty() ? QString() : QStringLiteral("  latency ") + latency.join(QLatin1Char(','))) +
           DescribeFaults(controller.Faults);
}

struct TOptions {
    const QCommandLineOption Port{QStringLiteral("port"),
                                  QStringLiteral("UDP port, 0 picks a free one (default 8442)."), QStringLiteral("N"),
                                  QStringLiteral("8442")};
    const QCommandLineOption Verbose{QStringLiteral("verbose"), QStringLiteral("One line per command on stderr.")};
    const QCommandLineOption Controller{
        QStringLiteral("controller"),
        QStringLiteral("A unit: serial=N|none,platform=arm|xa|old,alias=N,password=TEXT,kernel=FILE,program=FILE,"
                       "latency=CMD:MS,...,lose-serial-replies=N (the next N writes of the serial number take "
                       "effect, their replies are lost),vanish-after-writes=N (the unit answers nothing after N "
                       "more block writes)"),
        QStringLiteral("settings")};
    const QCommandLineOption Latency{
        QStringLiteral("latency"),
        QStringLiteral("Every unit is busy MS ms with command CMD before it answers, e.g. 34:1,32:800; "
                       "a unit's own latency= takes precedence for its commands."),
        QStringLiteral("CMD:MS,...")};
    const QCommandLineOption Arrive{
        QStringLiteral("arrive"),
        QStringLiteral(
            "N fresh units without serial number arrive after the --controller units, one every --every ms."),
        QStringLiteral("N")};
    const QCommandLineOption Every{QStringLiteral("every"),
                                   QStringLiteral("Milliseconds between arrivals (default 1000)."),
                                   QStringLiteral("MS"), QStringLiteral("1000")};
    const QCommandLineOption ArrivePlatform{QStringLiteral("arrive-platform"),
                                            QStringLiteral("Platform of the arriving units (default arm)."),
                                            QStringLiteral("arm|xa"), QStringLiteral("arm")};
};

// What orvel-sim is to run.
struct TPlan {
    int Port = 8442;
    QHash<uint8_t, int> Latency;                                // for every unit
    QList<std::pair<TSimControllerConfig, TSimFaults>> Units;   // with their own latency and faults
    int Arrivals = 0;
    int ArrivalGapMs = 1000;
    uint16_t ArrivalLoaderMajor = 3;
};

bool ParsePlan(const QCommandLineParser& parser, const TOptions& options, TPlan& plan, QString& error)
{
    bool ok = false;
    plan.Port = parser.value(options.Port).toInt(&ok);
    if (!ok || plan.Port < 0 || plan.Port > 65535) {
        error = QStringLiteral("--port must be 0 to 65535");
        return false;
    }
    if (parser.isSet(options.Latency) && !ParseLatency(parser.value(options.Latency), plan.Latency)) {
        error = QStringLiteral("--latency: cannot use \"%1\" (%2)").arg(parser.value(options.Latency), LatencyRule());
        return false;
    }
    if (parser.isSet(options.Arrive)) {
        plan.Arrivals = parser.value(options.Arrive).toInt(&ok);
        if (!ok || plan.Arrivals < 1 || plan.Arrivals > TControllerSimulator::MaxControllers) {
            error = QStringLiteral("--arrive must be 1 to %1").arg(TControllerSimulator::MaxControllers);
            return false;
        }
        plan.ArrivalGapMs = parser.value(options.Every).toInt(&ok);
        if (!ok || plan.ArrivalGapMs < 0 || plan.ArrivalGapMs > MaxArrivalGapMs) {
            error = QStringLiteral("--every must be 0 to %1 ms").arg(MaxArrivalGapMs);
            return false;
        }
        const QString platform = parser.value(options.ArrivePlatform);
        if (platform != QLatin1String("arm") && platform != QLatin1String("xa")) {
            error = QStringLiteral("--arrive-platform must be arm or xa");
            return false;
        }
        plan.ArrivalLoaderMajor = platform == QLatin1String("xa") ? 2 : 3;
    } else if (parser.isSet(options.Every) || parser.isSet(options.ArrivePlatform)) {
        error = QStringLiteral("--every and --arrive-platform go with --arrive");
        return false;
    }

    QStringList units = parser.values(options.Controller);
    if (units.isEmpty() && plan.Arrivals == 0)
        units << QString();
    for (const QString& unit : units) {
        TSimControllerConfig config;
        TSimFaults faults;
        if (!ParseController(unit, config, faults, error))
            return false;
        plan.Units.append({config, faults});
    }
    if (plan.Units.size() + plan.Arrivals > TControllerSimulator::MaxControllers) {
        error = QStringLiteral("%1 units do not fit: at most %2 (127.0.0.2 to 127.0.0.254)")
                    .arg(plan.Units.size() + plan.Arrivals)
                    .arg(TControllerSimulator::MaxControllers);
        return false;
    }
    return true;
}

}   // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("orvel-sim"));
    QCoreApplication::setApplicationVersion(QStringLiteral(ORVEL_VERSION_TEXT));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Simulated Orvel controllers on loopback (127.0.0.2 to 127.0.0.254; broadcasts on 127.255.255.255).\n"
        "Without --controller and --arrive: one fresh ARM unit with erased flash."));
    parser.addHelpOption();
    parser.addVersionOption();
    const TOptions options;
    parser.addOptions({options.Port, options.Verbose, options.Controller, options.Latency, options.Arrive,
                       options.Every, options.ArrivePlatform});
    parser.process(app);

    TPlan plan;
    QString error;
    if (!ParsePlan(parser, options, plan, error)) {
        Print(stderr, QStringLiteral("orvel-sim: ") + error);
        return 2;
    }

    TControllerSimulator simulator;
    simulator.Verbose = parser.isSet(options.Verbose);
    for (const auto& [config, faults] : plan.Units)
        simulator.AddController(config).SetFaults(WithLatency(plan.Latency, faults));

    if (!InstallSignalHandlers() || !simulator.Start(plan.Port, &error)) {
        Print(stderr,
              QStringLiteral("orvel-sim: cannot start: ") + (error.isEmpty() ? QStringLiteral("signals") : error));
        return 1;
    }
    QSocketNotifier stopNotifier(SignalPipe[0], QSocketNotifier::Read);
    QObject::connect(&stopNotifier, &QSocketNotifier::activated, &app, &QCoreApplication::quit);

    Print(stdout, QStringLiteral("orvel-sim: port %1, broadcasts on %2")
                      .arg(simulator.Port())
                      .arg(TControllerSimulator::BroadcastAddress()));
    for (int i = 0; i < simulator.Count(); ++i)
        Print(stdout, Describe(simulator.Controller(i)));

    QTimer arrivals;
    int arrived = 0;
    arrivals.setInterval(plan.ArrivalGapMs);
    QObject::connect(&arrivals, &QTimer::timeout, &app, [&] {
        if (++arrived == plan.Arrivals)
            arrivals.stop();
        TSimControllerConfig config;
        config.LoaderMajor = plan.ArrivalLoaderMajor;
        QString why;
        if (TSimController* unit = simulator.AddLiveController(config, &why)) {
            unit->SetFaults(WithLatency(plan.Latency, {}));
            Print(stdout, QStringLiteral("orvel-sim: arrived") + Describe(*unit));
        } else {
            Print(
                stderr,
                QStringLiteral("orvel-sim: unit %1 of %2 cannot arrive: %3").arg(arrived).arg(plan.Arrivals).arg(why));
        }
    });
    if (plan.Arrivals > 0) {
        Print(stdout, QStringLiteral("orvel-sim: %1 fresh units arrive, one every %2 ms")
                          .arg(plan.Arrivals)
                          .arg(plan.ArrivalGapMs));
        arrivals.start();
    }

    const int result = app.exec();
    simulator.Stop();
    Print(stdout, QStringLiteral("orvel-sim: stopped"));
    return result;
}
