// A production day in miniature: two lines, each a simulated segment of its own (its own
// port) with an `orvel-loader station` process, both taking serial numbers from one series
// of one shared record store. Units arrive over time and misbehave on purpose: lost and late
// replies, one that vanishes mid-kernel, one of the other platform, one whose serial number
// write is done but never acknowledged. The store goes away for a while (PostgreSQL stopped
// and started; SQLite held locked by another program), one station gets SIGINT and the
// other SIGHUP, each started again so that every unit still gets its chance.
//
// The verdict comes only from what is left: the units' memory, the store's ledger of numbers
// taken (table serial_ledger) and the records (`orvel-loader records --json`, which first
// brings in the records that waited in a station's fallback file):
//   - every number in a unit is in exactly one unit, was taken from the ledger, and has
//     exactly one record, which does not say it was not written;
//   - every number in the ledger that no unit holds has exactly one record saying so;
//   - no unit whose record says ok holds a kernel or program other than the one recorded
//     (SHA-256 over the written length);
//   - a unit of the other platform is left as it came: no number, flash untouched.
//
// Niced and bounded: CiUnits units in well under three minutes; ORVEL_SOAK_UNITS asks for
// a longer day (addresses are then used again, as a fixture on a real line is).
// ProductionDay.SQLite runs on its own; ProductionDay.PostgreSQL through
// tests/records/with_postgres.sh, and fails without its server.
#include "ControllerInfo.h"
#include "SampleImages.h"
#include "SimulatorThread.h"
#include "hCodeMemory.h"
#include "uABus.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTimer>
#include <QUrl>
#include <QUrlQuery>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <csignal>
#include <cstdio>
#include <map>
#include <memory>
#include <sys/resource.h>

namespace {

constexpr int CiUnits = 48;
constexpr int OnLineAtOnce = 5;       // units waiting or being written on one line
constexpr int CiArrivalGapMs = 400;   // between two arrivals, on alternate lines
constexpr int LongArrivalGapMs = 120;
constexpr int LeaveAfterResultMs = 300;   // the operator takes a finished unit off
constexpr int MaxStayMs = 12000;          // ... and one nobody finished after this long
constexpr int RestartAfterMs = 800;       // a station that ended is started again
constexpr int SignalAtWrites = 5;         // a signal waits until its unit is this far into its kernel
constexpr int SignalWaitMs = 4000;        // ... or this long, for a unit that never gets there
constexpr int OutageMs = 7000;            // past the SQLite busy time-out of 5 s
constexpr int EventCycle = 80;            // arrivals from one round of store and signal faults to the next
constexpr int CiDeadlineMs = 150000;      // no more arrivals after this in CI
constexpr int StopWaitMs = 30000;         // a station that outlives this after its signal is stuck
constexpr int FirstSerial = 100000;
const QString Series = QStringLiteral("day");

enum class TFault { None, VanishesMidKernel, OtherPlatform, SerialReplyLost };

const char* FaultName(TFault fault)
{
    switch (fault) {
    case TFault::VanishesMidKernel:
        return "vanishes mid-kernel";
    case TFault::OtherPlatform:
        return "other platform";
    case TFault::SerialReplyLost:
        return "serial reply lost";
    case TFault::None:
        break;
    }
    return "none";
}

// Three units in eleven misbehave beyond lost and late replies; eleven is odd, so each
// kind comes to both lines.
TFault FaultOf(int arrival)
{
    switch (arrival % 11) {
    case 3:
        return TFault::VanishesMidKernel;
    case 6:
        return TFault::OtherPlatform;
    case 8:
        return TFault::SerialReplyLost;
    }
    return TFault::None;
}

// What a unit holds when it leaves the line or the day ends.
struct TUnitState {
    QString Line;
    QString Address;
    int Arrival = 0;
    TFault Fault = TFault::None;
    uint32_t Serial = NoSerialNumber;
    QByteArray Kernel;    // over the kernel file's length
    QByteArray Program;   // over the program file's length
};

QString Sha256(const QByteArray& bytes)
{
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
}

int EnvironmentUnits()
{
    bool ok = false;
    const int units = qEnvironmentVariableIntValue("ORVEL_SOAK_UNITS", &ok);
    return ok && units > 0 ? units : CiUnits;
}

class ProductionDay : public ::testing::Test {
protected:
    struct TLine {
        QString Name;
        std::unique_ptr<TSimulatorThread> Sim;
        QProcessEnvironment Environment;   // a machine of its own: its data folder, its fallback file
        std::unique_ptr<QProcess> Station;
        struct TPresent {
            int Index;
            QElapsedTimer Since;   // since it arrived, or since its station was done with it
            bool Leaving = false;
        };
        QList<TPresent> Present;    // on the line now
        QList<int> FreeIndexes;     // addresses whose unit left, oldest first
        QMap<int, int> ArrivalAt;   // index -> arrival of the unit there now
        QList<int> ExitCodes;       // each run of its station; -1: killed by a signal
        int Stuck = 0;              // runs that outlived StopWaitMs after their signal
        bool Restart = true;
        int SignalDue = 0;   // sent once the unit at SignalUnit is being written
        int SignalUnit = -1;
        QElapsedTimer SignalSince;
        QString Output;   // the station's notes and standard error, for a failing test
    };

    void SetUp() override
    {
        // Before any thread or process is made, so that each inherits it.
        setpriority(PRIO_PROCESS, 0, 10);
        ASSERT_TRUE(Dir.isValid());
        Kernel = SampleKernel(3, 16 * 1024);
        Program = SampleProgram(8 * 1024);
        KernelPath = WriteFile(QStringLiteral("kernel.bin"), Kernel);
        ProgramPath = WriteFile(QStringLiteral("program.bin"), Program);
        Units = EnvironmentUnits();
        for (int i = 0; i < 2; ++i) {
            TLine& line = Lines[size_t(i)];
            line.Name = QStringLiteral("line-") + QChar(u'A' + i);
            line.Sim = std::make_unique<TSimulatorThread>();
            QString error;
            ASSERT_TRUE(line.Sim->Start(0, &error)) << error.toStdString();
            QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
            const QString home = Dir.filePath(line.Name);
            environment.insert(QStringLiteral("HOME"), home);
            environment.insert(QStringLiteral("XDG_CONFIG_HOME"), home + QStringLiteral("/config"));
            environment.insert(QStringLiteral("XDG_DATA_HOME"), home + QStringLiteral("/data"));
            environment.remove(QStringLiteral("ORVEL_PASSWORD"));
            environment.remove(QStringLiteral("ORVEL_RECORDS"));
            line.Environment = environment;
        }
    }

    QString WriteFile(const QString& name, const QByteArray& bytes)
    {
        QFile file(Dir.filePath(name));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
        return file.fileName();
    }

    // Runs an orvel-loader store command to its end as line's machine; its standard output.
    QByteArray StoreCommand(const TLine& line, const QStringList& arguments)
    {
        QProcess process;
        process.setProcessEnvironment(line.Environment);
        process.start(QStringLiteral(ORVEL_LOADER), arguments + QStringList{QStringLiteral("--records"), Store});
        EXPECT_TRUE(process.waitForFinished(StopWaitMs)) << arguments.join(u' ').toStdString();
        EXPECT_EQ(process.exitCode(), 0) << arguments.join(u' ').toStdString() << ": "
                                         << process.readAllStandardError().toStdString();
        return process.readAllStandardOutput();
    }

    void StartStation(TLine& line)
    {
        line.Station = std::make_unique<QProcess>();
        QProcess* station = line.Station.get();
        station->setProcessEnvironment(line.Environment);
        QObject::connect(station, &QProcess::readyReadStandardOutput, station, [this, &line, station] {
            while (station->canReadLine()) {
                const QByteArray text = station->readLine();
                const QJsonObject json = QJsonDocument::fromJson(text).object();
                const QString kind = json.value(QStringLiteral("kind")).toString();
                if (kind == QLatin1String("result"))
                    Finished(line, json.value(QStringLiteral("unit")).toString());
                else if (kind == QLatin1String("note"))
                    line.Output += json.value(QStringLiteral("time")).toString() + QLatin1Char(' ') +
                                   json.value(QStringLiteral("text")).toString() + QLatin1Char('\n');
            }
        });
        QObject::connect(station, &QProcess::readyReadStandardError, station,
                         [&line, station] { line.Output += QString::fromUtf8(station->readAllStandardError()); });
        QObject::connect(station, &QProcess::finished, station, [this, &line](int code, QProcess::ExitStatus status) {
            line.ExitCodes << (status == QProcess::CrashExit ? -1 : code);
            QTimer::singleShot(RestartAfterMs, &Loop, [this, &line] {
                if (line.Restart)   // not once the day is over
                    StartStation(line);
            });
        });
        const QStringList fixed = QStringLiteral("station --adapter lo --scan 300 --parallel 3 --timeout 150 "
                                                 "--attempts 4 --json")
                                      .split(u' ');
        station->start(QStringLiteral(ORVEL_LOADER),
                       fixed + QStringList{QStringLiteral("--port"), QString::number(line.Sim->Port()),
                                           QStringLiteral("--kernel"), KernelPath, QStringLiteral("--program"),
                                           ProgramPath, QStringLiteral("--records"), Store, QStringLiteral("--series"),
                                           Series, QStringLiteral("--station"), line.Name, QStringLiteral("--log"),
                                           Dir.filePath(line.Name + QStringLiteral(".log"))});
    }

    // A station is done with the unit at address: the operator takes it off a moment later.
    void Finished(TLine& line, const QString& address)
    {
        for (TLine::TPresent& present : line.Present)
            if (!present.Leaving && line.Sim->Address(present.Index) == address) {
                present.Leaving = true;
                present.Since.restart();
            }
    }

    void Arrive(TLine& line)
    {
        const int arrival = Arrived++;
        const TFault fault = FaultOf(arrival);
        TSimControllerConfig config;
        config.LoaderMajor = fault == TFault::OtherPlatform ? 2 : 3;
        TSimFaults faults;
        faults.Seed = 9000 + uint32_t(arrival);
        faults.DropShare = 0.01;
        faults.DelayMs = 400;   // past the stations' time-out
        faults.DelayShare = 0.01;
        if (fault == TFault::VanishesMidKernel)
            faults.VanishAfterWrites = 21;   // the serial number and 20 of the kernel's blocks
        if (fault == TFault::SerialReplyLost)
            faults.LoseRecordWriteReplies = 1000;
        int index = -1;
        if (line.Sim->Count() < TControllerSimulator::MaxControllers) {
            line.Sim->Run([&](TControllerSimulator& s) {
                if (TSimController* unit = s.AddLiveController(config)) {
                    unit->SetFaults(faults);
                    index = s.Count() - 1;
                }
            });
        } else if (!line.FreeIndexes.isEmpty()) {
            index = line.FreeIndexes.takeFirst();
            line.Sim->Run([&](TControllerSimulator& s) {
                Departed.push_back(Snapshot(line, s.ReplaceController(index, config).get(), line.ArrivalAt[index]));
                s.Controller(index).SetFaults(faults);
            });
        }
        ASSERT_GE(index, 0) << "no address left on " << line.Name.toStdString();
        line.ArrivalAt[index] = arrival;
        line.Present.append({index, {}, false});
        line.Present.back().Since.start();
    }

    // The unit leaves the line: it answers nothing from now on, and its address may be used again.
    void Leave(TLine& line, int presentIndex)
    {
        const int index = line.Present.takeAt(presentIndex).Index;
        TSimFaults gone;
        gone.VanishAfterWrites = 0;
        line.Sim->SetFaults(index, gone);
        line.FreeIndexes.append(index);
    }

    TUnitState Snapshot(const TLine& line, const TSimController* unit, int arrival) const
    {
        TUnitState state;
        state.Line = line.Name;
        state.Address = unit->Address;
        state.Arrival = arrival;
        state.Fault = FaultOf(arrival);
        state.Serial = unit->Serial();
        state.Kernel = unit->Memory(KernelAddress, uint32_t(Kernel.size()));
        state.Program = unit->Memory(ProgramAddress, uint32_t(Program.size()));
        return state;
    }

    // Store faults and signals, spread over each EventCycle arrivals. A signal goes to the
    // line the last unit arrived on, once that unit is being written; in the first cycle that
    // unit has no fault of its own.
    void Events()
    {
        if (Arrived == LastEventArrival)
            return;
        LastEventArrival = Arrived;
        const struct {
            int Step;
            int Signal;   // 0: the store goes away
        } events[] = {{21, SIGINT}, {32, 0}, {46, SIGHUP}, {65, SIGHUP}, {76, SIGINT}};
        TLine& line = Lines[size_t((Arrived - 1) % 2)];
        for (const auto& event : events) {
            if (Arrived % EventCycle != event.Step)
                continue;
            if (event.Signal == 0) {
                StoreAway();
            } else {
                line.SignalDue = event.Signal;
                line.SignalUnit = line.Present.back().Index;
                line.SignalSince.start();
            }
        }
    }

    void SignalWhenDue(TLine& line)
    {
        if (!line.SignalDue)
            return;
        int writes = 0;
        line.Sim->Run([&](TControllerSimulator& s) {
            writes = s.Controller(line.SignalUnit).CommandCounts.value(CmdWriteBlock);
        });
        if (writes < SignalAtWrites && line.SignalSince.elapsed() < SignalWaitMs)
            return;
        Signal(line, line.SignalDue);
        line.SignalDue = 0;
    }

    void Signal(TLine& line, int signal)
    {
        if (line.Station && line.Station->state() == QProcess::Running) {
            ::kill(pid_t(line.Station->processId()), signal);
            ++Signals;
        }
    }

    void StoreAway()
    {
        if (StoreDown)
            return;
        ++Outages;
        StoreDown = true;
        if (Postgres) {
            Server("ORVEL_TEST_POSTGRES_STOP");
            QTimer::singleShot(OutageMs, &Loop, [this] {
                Server("ORVEL_TEST_POSTGRES_START");
                StoreDown = false;
            });
            return;
        }
        // Another program holds the SQLite file's write lock.
        auto holder = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("holder"));
        holder.setDatabaseName(Store);
        holder.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=5000"));
        ASSERT_TRUE(holder.open()) << holder.lastError().text().toStdString();
        QSqlQuery lock(holder);
        EXPECT_TRUE(lock.exec(QStringLiteral("BEGIN EXCLUSIVE"))) << lock.lastError().text().toStdString();
        QTimer::singleShot(OutageMs, &Loop, [this] {
            StoreDown = false;
            {
                QSqlDatabase held = QSqlDatabase::database(QStringLiteral("holder"));
                QSqlQuery(held).exec(QStringLiteral("ROLLBACK"));
                held.close();
            }
            QSqlDatabase::removeDatabase(QStringLiteral("holder"));
        });
    }

    static void Server(const char* command)
    {
        EXPECT_EQ(QProcess::execute(QStringLiteral("sh"), {QStringLiteral("-c"), qEnvironmentVariable(command)}), 0)
            << command;
    }

    void Tick()
    {
        const bool arriving = Arrived < Units && (Units != CiUnits || Clock.elapsed() < CiDeadlineMs);
        for (TLine& line : Lines)
            for (int i = line.Present.size() - 1; i >= 0; --i) {
                const TLine::TPresent& present = line.Present[i];
                if ((present.Leaving && present.Since.elapsed() >= LeaveAfterResultMs) ||
                    present.Since.elapsed() >= MaxStayMs || (!arriving && present.Since.elapsed() >= MaxStayMs / 2))
                    Leave(line, i);
            }
        for (TLine& line : Lines)
            SignalWhenDue(line);
        if (arriving && SinceArrival.elapsed() >= ArrivalGapMs) {
            TLine& line = Lines[size_t(Arrived % 2)];
            if (line.Present.size() < OnLineAtOnce) {
                Arrive(line);
                SinceArrival.restart();
                Events();
                if (Units != CiUnits && Arrived % 100 == 0)
                    std::printf("production day: %d of %d units arrived after %lld s\n", Arrived, Units,
                                Clock.elapsed() / 1000);
            }
        }
        const auto idle = [](const TLine& line) { return line.Present.isEmpty() && !line.SignalDue; };
        if (!arriving && idle(Lines[0]) && idle(Lines[1]))
            Loop.quit();
    }

    // Ends both stations as the operator does at the end of the day, and waits for them.
    void EndOfDay()
    {
        for (TLine& line : Lines) {
            line.Restart = false;
            if (line.Station && line.Station->state() != QProcess::NotRunning) {
                ::kill(pid_t(line.Station->processId()), SIGINT);
                if (!line.Station->waitForFinished(StopWaitMs)) {
                    ++line.Stuck;
                    line.Station->kill();
                    line.Station->waitForFinished();
                }
            }
        }
        QCoreApplication::processEvents();
    }

    void RunDay()
    {
        StoreCommand(Lines[0], {QStringLiteral("serials"), QStringLiteral("set"), QStringLiteral("--series"), Series,
                                QStringLiteral("--next"), QString::number(FirstSerial)});
        ArrivalGapMs = Units == CiUnits ? CiArrivalGapMs : LongArrivalGapMs;
        Clock.start();
        SinceArrival.start();
        for (TLine& line : Lines)
            StartStation(line);
        QTimer ticks;
        QObject::connect(&ticks, &QTimer::timeout, &Loop, [this] { Tick(); });
        ticks.start(50);
        Loop.exec();
        ticks.stop();
        EndOfDay();
        // An outage still under way ends first, so that the records can reach the store.
        while (StoreDown)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
        Judge();
    }

    QList<TUnitState> FinalUnits()
    {
        QList<TUnitState> units = Departed;
        for (TLine& line : Lines)
            line.Sim->Run([&](TControllerSimulator& s) {
                for (int i = 0; i < s.Count(); ++i)
                    units << Snapshot(line, &s.Controller(i), line.ArrivalAt.value(i));
            });
        return units;
    }

    QList<QJsonObject> Records()
    {
        // Each machine brings in what waited in its fallback file; the last lists them all.
        StoreCommand(Lines[0], {QStringLiteral("records"), QStringLiteral("--json")});
        QList<QJsonObject> records;
        for (const QByteArray& line :
             StoreCommand(Lines[1], {QStringLiteral("records"), QStringLiteral("--json")}).split('\n'))
            if (!line.trimmed().isEmpty())
                records << QJsonDocument::fromJson(line).object();
        return records;
    }

    // number -> station that took it, read straight from the store's table.
    std::map<int64_t, QString> Ledger()
    {
        std::map<int64_t, QString> ledger;
        {
            QSqlDatabase db;
            if (Postgres) {
                const QUrl url(Store);
                db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), QStringLiteral("ledger"));
                db.setHostName(QUrlQuery(url).queryItemValue(QStringLiteral("host")));
                db.setUserName(url.userName());
                db.setDatabaseName(url.path().mid(1));
            } else {
                db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("ledger"));
                db.setDatabaseName(Store);
                db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
            }
            EXPECT_TRUE(db.open()) << db.lastError().text().toStdString();
            QSqlQuery query(db);
            EXPECT_TRUE(query.exec(QStringLiteral("SELECT series, number, station FROM serial_ledger")))
                << query.lastError().text().toStdString();
            while (query.next()) {
                const QString key = query.value(0).toString();
                const int64_t number = query.value(1).toLongLong();
                EXPECT_EQ(key, Series) << "number " << number;
                EXPECT_EQ(ledger.count(number), 0u) << "number " << number << " twice in the ledger";
                ledger[number] = query.value(2).toString();
            }
            db.close();
        }
        QSqlDatabase::removeDatabase(QStringLiteral("ledger"));
        return ledger;
    }

    void Judge()
    {
        const QList<TUnitState> units = FinalUnits();
        const QList<QJsonObject> records = Records();
        const std::map<int64_t, QString> ledger = Ledger();

        std::map<int64_t, QList<const TUnitState*>> holders;   // number -> units that hold it
        for (const TUnitState& unit : units)
            if (unit.Serial != NoSerialNumber)
                holders[unit.Serial] << &unit;
        std::map<int64_t, QList<const QJsonObject*>> recordsOf;   // number -> records naming it
        int ok = 0;
        for (const QJsonObject& record : records) {
            const int64_t serial = record.value(QStringLiteral("serial")).toInteger(-1);
            const int64_t taken = record.value(QStringLiteral("serialTaken")).toInteger(-1);
            if (serial > 0)
                recordsOf[serial] << &record;
            if (taken > 0 && taken != serial)
                recordsOf[taken] << &record;
            ok += record.value(QStringLiteral("outcome")).toString() == QLatin1String("ok") ? 1 : 0;
        }
        const auto describe = [](const TUnitState& unit) {
            return QStringLiteral("%1 %2 (arrival %3, fault: %4)")
                .arg(unit.Line, unit.Address, QString::number(unit.Arrival), QLatin1String(FaultName(unit.Fault)));
        };
        const auto serialStep = [](const QJsonObject& record) {
            return record.value(QStringLiteral("steps")).toObject().value(QStringLiteral("serial")).toString();
        };
        const auto json = [](const QJsonObject& record) {
            return QString::fromUtf8(QJsonDocument(record).toJson(QJsonDocument::Compact));
        };

        std::map<QString, QStringList> broken;   // kind of promise -> each time it was broken
        for (const auto& [number, held] : holders) {
            if (held.size() != 1) {
                QStringList where;
                for (const TUnitState* unit : held)
                    where << describe(*unit);
                broken["a number in more than one unit"]
                    << QStringLiteral("number %1 is in %2 units: %3")
                           .arg(QString::number(number), QString::number(held.size()), where.join(u"; "));
            }
            const QString unit = describe(*held.front());
            if (!ledger.count(number))
                broken["a number in a unit that the ledger lacks"]
                    << QStringLiteral("number %1 in %2 is not in the ledger").arg(QString::number(number), unit);
            const QList<const QJsonObject*> named = recordsOf[number];
            if (named.size() != 1)
                broken["a number in a unit without exactly one record"]
                    << QStringLiteral("number %1 in %2 has %3 records")
                           .arg(QString::number(number), unit, QString::number(named.size()));
            for (const QJsonObject* record : named)
                if (const QString step = serialStep(*record);
                    step != QLatin1String("ok") && step != QLatin1String("unknown"))
                    broken["a number in a unit recorded as not written"]
                        << QStringLiteral("number %1 is in %2 but its record says serial \"%3\": %4")
                               .arg(QString::number(number), unit, step, json(*record));
        }
        for (const auto& [number, station] : ledger) {
            if (holders.count(number))
                continue;
            const QList<const QJsonObject*> named = recordsOf[number];
            if (named.size() != 1)
                broken["a number taken, in no unit, without exactly one record"]
                    << QStringLiteral("number %1 (taken by %2) is in no unit and has %3 records")
                           .arg(QString::number(number), station, QString::number(named.size()));
            for (const QJsonObject* record : named)
                if (serialStep(*record) == QLatin1String("ok"))
                    broken["a number in no unit recorded as written"]
                        << QStringLiteral("number %1 is in no unit but its record says it was written: %2")
                               .arg(QString::number(number), json(*record));
        }
        for (const QJsonObject& record : records) {
            const int64_t taken = record.value(QStringLiteral("serialTaken")).toInteger(-1);
            if (taken > 0 && !ledger.count(taken))
                broken["a record naming a number the ledger lacks"]
                    << QStringLiteral("a record names number %1 taken, but the ledger has no such number: %2")
                           .arg(QString::number(taken), json(record));
            if (record.value(QStringLiteral("outcome")).toString() != QLatin1String("ok"))
                continue;
            const int64_t serial = record.value(QStringLiteral("serial")).toInteger(-1);
            const auto held = holders.find(serial);
            if (held == holders.end()) {
                broken["an ok record whose number no unit holds"]
                    << QStringLiteral("a record says ok, but no unit holds its number: %1").arg(json(record));
                continue;
            }
            const TUnitState& unit = *held->second.front();
            if (record.value(QStringLiteral("kernelSha256")).toString() != Sha256(unit.Kernel))
                broken["a unit holding another kernel than its ok record"]
                    << QStringLiteral("%1 holds another kernel than its ok record says: %2")
                           .arg(describe(unit), json(record));
            if (record.value(QStringLiteral("programSha256")).toString() != Sha256(unit.Program))
                broken["a unit holding another program than its ok record"]
                    << QStringLiteral("%1 holds another program than its ok record says: %2")
                           .arg(describe(unit), json(record));
        }

        // A unit the kernel cannot fit is refused before anything is written to it.
        const QByteArray erasedKernel(Kernel.size(), char(0xFF));
        const QByteArray erasedProgram(Program.size(), char(0xFF));
        for (const TUnitState& unit : units)
            if (unit.Fault == TFault::OtherPlatform &&
                (unit.Serial != NoSerialNumber || unit.Kernel != erasedKernel || unit.Program != erasedProgram))
                broken["a unit of the other platform written"]
                    << QStringLiteral("%1 was written: serial number %2, kernel area %3, program area %4")
                           .arg(describe(unit),
                                unit.Serial == NoSerialNumber ? QStringLiteral("none") : QString::number(unit.Serial),
                                unit.Kernel == erasedKernel ? QStringLiteral("erased") : QStringLiteral("written"),
                                unit.Program == erasedProgram ? QStringLiteral("erased") : QStringLiteral("written"));

        QStringList exits;
        for (const TLine& line : Lines) {
            QStringList codes;
            for (int code : line.ExitCodes)
                codes << (code < 0 ? QStringLiteral("crashed") : QString::number(code));
            exits << QStringLiteral("%1 exits %2%3")
                         .arg(line.Name, codes.join(u','),
                              line.Stuck ? QStringLiteral(", %1 stuck after its signal").arg(line.Stuck) : QString());
        }
        // Units that left the line as they came: no station got to them in time.
        const auto untouched = std::count_if(units.cbegin(), units.cend(), [&](const TUnitState& unit) {
            return unit.Fault != TFault::OtherPlatform && unit.Serial == NoSerialNumber && unit.Kernel == erasedKernel;
        });
        std::printf("production day (%s): %d units, %d ok, %d failed, %d numbers taken, %d records, "
                    "%d units hold a number, %d left untouched; %d signals, %d store outages; %s\n",
                    Postgres ? "PostgreSQL" : "SQLite", int(units.size()), ok, int(records.size()) - ok,
                    int(ledger.size()), int(records.size()), int(holders.size()), int(untouched), Signals, Outages,
                    qPrintable(exits.join(QStringLiteral("; "))));
        for (const auto& [kind, cases] : broken) {
            std::printf("  broken %lld times: %s, e.g.\n", qlonglong(cases.size()), qPrintable(kind));
            for (const QString& text : cases.mid(0, 5))
                std::printf("    %s\n", qPrintable(text));
        }
        EXPECT_TRUE(broken.empty()) << broken.size() << " kinds of promise broken (above)";
        if (!broken.empty() || untouched > 0)
            for (const TLine& line : Lines)
                std::printf("the last notes of %s:\n%s\n", qPrintable(line.Name), qPrintable(line.Output.right(2500)));
        for (const TLine& line : Lines)
            EXPECT_EQ(line.Stuck, 0) << line.Name.toStdString() << " did not end after its signal";
        // The faults must have bitten and the day must have got something done, or it proves nothing.
        EXPECT_GT(ok, 0);
        EXPECT_GT(int(records.size()), ok);
    }

    QTemporaryDir Dir;
    QByteArray Kernel, Program;
    QString KernelPath, ProgramPath;
    QString Store;
    bool Postgres = false;
    int Units = CiUnits;
    int ArrivalGapMs = CiArrivalGapMs;
    std::array<TLine, 2> Lines;
    QList<TUnitState> Departed;
    int Arrived = 0;
    int LastEventArrival = -1;
    int Signals = 0;
    int Outages = 0;
    bool StoreDown = false;
    QElapsedTimer Clock, SinceArrival;
    QEventLoop Loop;
};

TEST_F(ProductionDay, SQLite)
{
    Store = Dir.filePath(QStringLiteral("records.sqlite"));
    RunDay();
}

TEST_F(ProductionDay, PostgreSQL)
{
    Store = qEnvironmentVariable("ORVEL_TEST_POSTGRES");
    ASSERT_FALSE(Store.isEmpty()) << "no PostgreSQL server: run this test through tests/records/with_postgres.sh";
    Postgres = true;
    RunDay();
}

}   // namespace
