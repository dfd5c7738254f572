// orvel-sim: simulated controllers on loopback for demos and for work without hardware.
//
//   orvel-sim [--port N] [--verbose]
//             --controller serial=1000,platform=arm|xa|old,alias=7,password=TEXT,kernel=FILE,program=FILE
//             [--controller ...]
//
// Runs until SIGINT or SIGTERM and then ends with exit code 0.
#include "OrvelSimulator.h"

#include "ControllerInfo.h"
#include "hCodeMemory.h"
#include "uABus.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <sys/socket.h>
#include <unistd.h>

namespace {

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

// One --controller value: comma-separated key=value pairs.
bool ParseController(const QString& text, TSimControllerConfig& config, QString& error)
{
    for (const QString& pair : text.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
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
            return false;
        }
    }
    return true;
}

QString Describe(const TSimController& controller)
{
    const uint32_t serial = controller.Serial();
    const auto record = LoaderRecordFromBytes(controller.LoaderRecord);
    const QString platform = record.LoaderMajor == 2 ? QStringLiteral("Orvel/XA")
                             : record.LoaderMajor == 3 ? QStringLiteral("Orvel/ARM")
                                                       : QStringLiteral("old loader");
    return QStringLiteral("  %1  serial %2  %3 (loader %4.%5)  alias %6  password %7  kernel %8  program %9")
        .arg(controller.Address,
             serial == NoSerialNumber ? QStringLiteral("none") : QString::number(serial), platform)
        .arg(record.LoaderMajor)
        .arg(record.LoaderMinor)
        .arg(controller.Config.NadAlias ? QString::number(controller.Config.NadAlias) : QStringLiteral("none"),
             controller.Config.PasswordCode ? QStringLiteral("yes") : QStringLiteral("no"),
             controller.HoldsValidKernel() ? QStringLiteral("valid") : QStringLiteral("none"),
             controller.HoldsValidProgram() ? QStringLiteral("valid") : QStringLiteral("none"));
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("orvel-sim"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Simulated Orvel controllers on loopback (127.0.0.2, 127.0.0.3, ...; broadcasts on 127.255.255.255).\n"
        "Without --controller: one fresh ARM unit with erased flash."));
    parser.addHelpOption();
    const QCommandLineOption portOption(QStringLiteral("port"), QStringLiteral("UDP port, 0 picks a free one (default 8442)."),
                                        QStringLiteral("N"), QStringLiteral("8442"));
    const QCommandLineOption verboseOption(QStringLiteral("verbose"), QStringLiteral("One line per command on stderr."));
    const QCommandLineOption controllerOption(
        QStringLiteral("controller"),
        QStringLiteral("A unit: serial=N|none,platform=arm|xa|old,alias=N,password=TEXT,kernel=FILE,program=FILE."),
        QStringLiteral("settings"));
    parser.addOptions({portOption, verboseOption, controllerOption});
    parser.process(app);

    bool portOk = false;
    const int port = parser.value(portOption).toInt(&portOk);
    if (!portOk || port < 0 || port > 65535) {
        Print(stderr, QStringLiteral("orvel-sim: --port must be 0 to 65535"));
        return 2;
    }

    TControllerSimulator simulator;
    simulator.Verbose = parser.isSet(verboseOption);
    QStringList units = parser.values(controllerOption);
    if (units.isEmpty())
        units << QString();
    for (const QString& unit : units) {
        TSimControllerConfig config;
        QString error;
        if (!ParseController(unit, config, error)) {
            Print(stderr, QStringLiteral("orvel-sim: ") + error);
            return 2;
        }
        simulator.AddController(config);
    }

    QString error;
    if (!InstallSignalHandlers() || !simulator.Start(port, &error)) {
        Print(stderr, QStringLiteral("orvel-sim: cannot start: ") + (error.isEmpty() ? QStringLiteral("signals") : error));
        return 1;
    }
    QSocketNotifier stopNotifier(SignalPipe[0], QSocketNotifier::Read);
    QObject::connect(&stopNotifier, &QSocketNotifier::activated, &app, &QCoreApplication::quit);

    Print(stdout, QStringLiteral("orvel-sim: port %1, broadcasts on %2")
                      .arg(simulator.Port())
                      .arg(TControllerSimulator::BroadcastAddress()));
    for (int i = 0; i < simulator.Count(); ++i)
        Print(stdout, Describe(simulator.Controller(i)));

    const int result = app.exec();
    simulator.Stop();
    Print(stdout, QStringLiteral("orvel-sim: stopped"));
    return result;
}
