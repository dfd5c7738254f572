// The station window against simulated fresh units on loopback: units arriving one after
// another, a unit that falls silent, Stop (and closing either window) in the middle, a Start
// while the main window sends, a recipe whose file changed, a recipe saved and opened again in
// the main window, and the records panel. The host's adapter table is made up (only the loopback adapter); the
// simulator answers from a thread of its own, since the station's runners block on their
// sockets. Settings, the record store (an SQLite file) and the production log are temporary.
#include "AppWindows.h"
#include "LoopbackAdapter.h"
#include "StoredRecordsJson.h"
#include "Recipe.h"
#include "RecordStore.h"
#include "SampleImages.h"
#include "SimulatorThread.h"
#include "StationUnits.h"
#include "fMain.h"
#include "fStation.h"
#include "uABus.h"

#include <QAbstractButton>
#include <QBrush>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QSettings>
#include <QSpinBox>
#include <QStandardPaths>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <csignal>
#include <memory>

namespace {

// Generous: a runner's request that nobody answers takes its attempts' time-outs.
constexpr int Patience = 60000;

}   // namespace

class TestStationWindow : public QObject {
    Q_OBJECT

private:
    // The main window's control, else the station window's.
    template <typename T>
    T* Find(const char* name) const
    {
        T* found = FWindow->findChild<T*>(QLatin1String(name));
        return found ? found : FStation->findChild<T*>(QLatin1String(name));
    }
    void Click(const char* button) const { Find<QAbstractButton>(button)->click(); }
    // btnOpenRecipe is in both windows: this one is the station window's.
    void ClickInStation(const char* button) const
    {
        FStation->findChild<QAbstractButton*>(QLatin1String(button))->click();
    }
    void Tick(const char* box, bool on) const { Find<QAbstractButton>(box)->setChecked(on); }
    void Type(const char* edit, const QString& text) const { Find<QLineEdit>(edit)->setText(text); }

    QString WriteFile(const QString& name, const QByteArray& bytes) const
    {
        QFile file(FDir.filePath(name));
        if (file.open(QIODevice::WriteOnly))
            file.write(bytes);
        return file.fileName();
    }

    // The main window's inputs for a station: serial numbers from 1000, a kernel and a program.
    void SetInputs() const
    {
        Tick("ckSerialNumber", true);
        Tick("ckAutoincrement", true);
        Type("edSerialNumber", QStringLiteral("1000"));
        Tick("ckKernel", true);
        Type("leKernelBinary", FKernelPath);
        Tick("ckPLCProgram", true);
        Type("leTamixBinary", FProgramPath);
    }

    // The main window's inputs set, both windows shown, and the station started.
    void StartShown() const
    {
        SetInputs();
        FWindow->show();
        FStation->show();
        Click("btnStationStart");
    }

    // A fresh unit arrives; busy ms with every block write, so that it is seen mid-way.
    int Arrive(int blockWriteMs = 0) const
    {
        int index = -1;
        FSim->Run([&](TControllerSimulator& sim) {
            TSimController* unit = sim.AddLiveController({});
            if (!unit)
                return;
            index = sim.Count() - 1;
            TSimFaults timing;
            timing.LatencyFor.insert(CmdWriteBlock, blockWriteMs);
            unit->SetFaults(timing);
        });
        return index;
    }

    int Rows() const { return FStation->Units().rowCount(); }
    QString Cell(int row, int column) const { return FStation->Units().index(row, column).data().toString(); }
    QStringList Column(int column) const
    {
        QStringList cells;
        for (int row = 0; row < Rows(); ++row)
            cells << Cell(row, column);
        return cells;
    }
    bool AllEnded() const
    {
        const QStringList results = Column(TStationUnits::ColResult);
        return !results.isEmpty() && !results.contains(QString());
    }
    // Start is clicked; true when the station did not start. One that started is stopped
    // again, so that nothing outlives the test.
    bool StartRefused() const
    {
        Click("btnStationStart");
        if (!FStation->Running())
            return true;
        Click("btnStationStop");
        if (!QTest::qWaitFor([this] { return !FStation->Running(); }, Patience))
            qWarning("the station did not stop");
        return false;
    }

    QString Log() const { return Find<QPlainTextEdit>("meStationLog")->toPlainText(); }

    QList<QJsonObject> Records() const
    {
        TRecordStore store;
        QString error;
        QList<TStoredRecord> records;
        if (!store.Open(FStorePath, error) || !store.Query({}, records, error))
            qWarning("%s", qPrintable(error));
        return StoredRecordsJson(records);
    }

    TLoopbackAdapter FLoopback;
    QTemporaryDir FDir;
    QString FStorePath;
    QString FKernelPath;
    QString FProgramPath;
    std::unique_ptr<TSimulatorThread> FSim;
    std::unique_ptr<TAppWindows> FWindows;
    TfmMain* FWindow = nullptr;
    // The job the main window shows, saved as a recipe with verify after send or not.
    TJob ShownJob(bool verify) const
    {
        TJob job = FWindow->InputsJob();
        job.Verify = verify;
        return job;
    }
    TfmStation* FStation = nullptr;
    QStringList FErrors;
    // The operator's answer when a Stop or a close finds units in flight, and how often asked.
    TfmStation::TStopChoice FStopChoice = TfmStation::TStopChoice::Interrupt;
    int FAskedToStop = 0;
    // The window's own question, a dialog with an event loop of its own.
    std::function<TfmStation::TStopChoice(int inFlight)> FAskForReal;

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(FDir.isValid());
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, FDir.path());
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, FDir.path());
        QStandardPaths::setTestModeEnabled(true);
        qputenv("HOME", FDir.path().toLocal8Bit());
        FKernelPath = WriteFile(QStringLiteral("kernel.bin"), SampleKernel(3));
        FProgramPath = WriteFile(QStringLiteral("program.bin"), SampleProgram());
    }

    void init()
    {
        QSettings(QStringLiteral("Maradine"), QStringLiteral("OrvelBinLoader")).clear();
        FStorePath = FDir.filePath(QStringLiteral("records-%1.sqlite").arg(QTest::currentTestFunction()));
        QFile::remove(FStorePath);
        FErrors.clear();
        FSim = std::make_unique<TSimulatorThread>();
        QString error;
        QVERIFY2(FSim->Start(0, &error), qPrintable(error));
        FWindows = std::make_unique<TAppWindows>();
        FWindow = &FWindows->Main();
        FWindow->ErrorMessage = [this](const QString& text) { FErrors.append(text); };
        FWindow->LinkOptions.Port = FSim->Port();
        // A silent unit is given up after three short attempts.
        FWindow->LinkOptions.Timeout = 300;
        FWindow->LinkOptions.Attempts = 3;
        QCOMPARE(Find<QComboBox>("cbEthAdapter")->currentText(), QStringLiteral("Loopback (127.0.0.1)"));
        FStation = &FWindows->Station();
        FAskForReal = FStation->AskHowToStop;
        FStopChoice = TfmStation::TStopChoice::Interrupt;
        FAskedToStop = 0;
        FStation->AskHowToStop = [this](int) {
            ++FAskedToStop;
            return FStopChoice;
        };
        FStation->RecordsLocation = FStorePath;
        FStation->ProductionLogPath = FDir.filePath(QStringLiteral("station.log"));
    }

    void cleanup()
    {
        FWindows.reset();
        FSim.reset();
    }

    void unitsArrivingOneAfterAnotherEachGetARow()
    {
        SetInputs();
        Click("btnStationStart");
        QVERIFY(FStation->Running());
        // The main window's own operations wait for the station.
        QVERIFY(!Find<QAbstractButton>("btnRefresh")->isEnabled());
        QVERIFY(!Find<QAbstractButton>("ckKernel")->isEnabled());
        for (int unit = 0; unit < 4; ++unit) {
            QVERIFY(Arrive() >= 0);
            QTRY_COMPARE_WITH_TIMEOUT(Rows(), unit + 1, Patience);
        }
        QTRY_VERIFY_WITH_TIMEOUT(AllEnded(), Patience);
        QCOMPARE(Column(TStationUnits::ColResult), QStringList(4, QStringLiteral("ok")));
        QCOMPARE(Column(TStationUnits::ColSerial), (QStringList{QStringLiteral("1000"), QStringLiteral("1001"),
                                                                QStringLiteral("1002"), QStringLiteral("1003")}));
        QVERIFY(Find<QLabel>("lblStationCounts")->text().startsWith(QStringLiteral("ok 4   failed 0   in progress 0")));
        // The main window's box goes on from the station's numbers.
        QTRY_COMPARE_WITH_TIMEOUT(Find<QLineEdit>("edSerialNumber")->text(), QStringLiteral("1004"), Patience);

        const QList<QJsonObject> records = Records();
        QCOMPARE(records.size(), 4);
        QSet<qint64> serials;
        for (const QJsonObject& record : records)
            serials.insert(record.value(QStringLiteral("serial")).toInteger());
        QCOMPARE(serials, (QSet<qint64>{1000, 1001, 1002, 1003}));

        Click("btnStationStop");
        QTRY_VERIFY_WITH_TIMEOUT(!FStation->Running(), Patience);
        QVERIFY(Find<QAbstractButton>("btnRefresh")->isEnabled());
        QVERIFY(FErrors.isEmpty());
    }

    void theStationButtonShowsTheStationWindow()
    {
        FWindow->show();
        QVERIFY(!FStation->isVisible());
        Click("btnStation");
        QVERIFY(FStation->isVisible());
    }

    // The program ends when its main window closes: a station window left open beside it,
    // with no station running, does not keep the program going on its own.
    void closingTheMainWindowEndsTheProgramWithTheStationWindowOpen()
    {
        FWindow->show();
        Click("btnStation");
        QVERIFY(FStation->isVisible());
        // The program's own event loop, which ends as the program would.
        QTimer::singleShot(0, FWindow, [this] { FWindow->close(); });
        // A timer of this test's own: it must not outlive the test and fire into another.
        bool goesOn = false;
        QTimer giveUp;
        giveUp.setSingleShot(true);
        connect(&giveUp, &QTimer::timeout, this, [&goesOn] {
            goesOn = true;
            QCoreApplication::quit();
        });
        giveUp.start(5000);
        QApplication::exec();

        QVERIFY2(!goesOn, "the program goes on with the station window alone");
    }

    // The main window's own Send under way: a station must not start beside it, and says so;
    // once the Send has ended, a Start runs.
    void aStartWhileTheMainWindowSendsIsRefused()
    {
        SetInputs();
        QVERIFY(Arrive() >= 0);
        Click("ckNadNotAssigned");
        QTRY_VERIFY_WITH_TIMEOUT(Find<QAbstractButton>("btnSend")->isEnabled(), Patience);
        Click("btnSend");
        QVERIFY2(StartRefused(), "the station started while the main window sent");
        QVERIFY2(Log().contains(QStringLiteral("the main window's operation has not ended yet")), qPrintable(Log()));
        QTRY_VERIFY_WITH_TIMEOUT(Find<QAbstractButton>("btnRefresh")->isEnabled(), Patience);
        QVERIFY2(!StartRefused(), qPrintable(Log()));
    }

    void aUnitThatFallsSilentTurnsRedAlone()
    {
        SetInputs();
        Click("btnStationStart");
        QVERIFY(Arrive() >= 0);
        const int silent = Arrive(5);
        QVERIFY(Arrive() >= 0);
        QTRY_COMPARE_WITH_TIMEOUT(Rows(), 3, Patience);
        int row = -1;
        for (int r = 0; r < Rows(); ++r)
            row = Cell(r, TStationUnits::ColUnit) == FSim->Address(silent) ? r : row;
        QVERIFY(row >= 0);
        // Silent once it has been taken, before it is done.
        QTRY_VERIFY_WITH_TIMEOUT(Cell(row, TStationUnits::ColStep) != QStringLiteral("waiting"), Patience);
        TSimFaults silence;
        silence.DropShare = 1;
        FSim->SetFaults(silent, silence);

        QTRY_VERIFY_WITH_TIMEOUT(AllEnded(), Patience);
        const QColor red = FStation->Units().index(row, 0).data(Qt::BackgroundRole).value<QBrush>().color();
        for (int r = 0; r < Rows(); ++r) {
            const QString result = Cell(r, TStationUnits::ColResult);
            const QVariant background = FStation->Units().index(r, 0).data(Qt::BackgroundRole);
            if (r == row) {
                QVERIFY2(result.startsWith(QStringLiteral("failed: ")) && result.size() > 8, qPrintable(result));
            } else {
                QCOMPARE(result, QStringLiteral("ok"));
                QVERIFY(background.value<QBrush>().color() != red);
            }
        }
        // The failed row stays until the operator clears it, and asks first.
        bool asked = false;
        FStation->Confirm = [&asked](const QString&) { return asked = true; };
        Click("btnStationStop");
        QTRY_VERIFY_WITH_TIMEOUT(!FStation->Running(), Patience);
        FStation->Confirm = [&asked](const QString&) {
            asked = true;
            return false;
        };
        Click("btnClearFinished");
        QVERIFY(asked);
        QCOMPARE(Rows(), 1);
        QVERIFY(Cell(0, TStationUnits::ColResult).startsWith(QStringLiteral("failed: ")));
        QCOMPARE(Records().size(), 3);
    }

    // Units in flight: the operator is asked, and they finish (the default) or are interrupted.
    void stoppedInTheMiddleKeepsEveryRecord_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<bool>("finish");
        for (const bool finish : {false, true}) {
            const char* choice = finish ? ", finished" : ", interrupted";
            QTest::newRow(qPrintable(QStringLiteral("Stop") + QLatin1String(choice))) << "btnStationStop" << finish;
            QTest::newRow(qPrintable(QStringLiteral("station window closed") + QLatin1String(choice)))
                << "station" << finish;
            QTest::newRow(qPrintable(QStringLiteral("main window closed") + QLatin1String(choice))) << "main" << finish;
        }
    }

    void stoppedInTheMiddleKeepsEveryRecord()
    {
        QFETCH(QString, how);
        QFETCH(bool, finish);
        FStopChoice = finish ? TfmStation::TStopChoice::Finish : TfmStation::TStopChoice::Interrupt;
        const QString outcome = finish ? QStringLiteral("ok") : QStringLiteral("interrupted");
        StartShown();
        QVERIFY(Arrive(20) >= 0);
        QVERIFY(Arrive(20) >= 0);
        QTRY_COMPARE_WITH_TIMEOUT(Rows(), 2, Patience);
        QTRY_VERIFY_WITH_TIMEOUT(Cell(0, TStationUnits::ColProgress) != QString() &&
                                     Cell(1, TStationUnits::ColProgress) != QString(),
                                 Patience);
        if (how == QLatin1String("station"))
            QVERIFY(!FStation->close());
        else if (how == QLatin1String("main"))
            QVERIFY(!FWindow->close());
        else
            Click("btnStationStop");

        QCOMPARE(FAskedToStop, 1);
        QTRY_VERIFY_WITH_TIMEOUT(!FStation->Running(), Patience);
        QCOMPARE(Column(TStationUnits::ColResult), QStringList(2, outcome));
        const QList<QJsonObject> records = Records();
        QCOMPARE(records.size(), 2);
        for (const QJsonObject& record : records)
            QCOMPARE(record.value(QStringLiteral("outcome")).toString(), outcome);
        if (how == QLatin1String("btnStationStop"))
            QVERIFY(FStation->isVisible());
        else
            QTRY_VERIFY_WITH_TIMEOUT(!FStation->isVisible(), Patience);
        QTRY_COMPARE_WITH_TIMEOUT(FWindow->isVisible(), how != QLatin1String("main"), Patience);
    }

    // Either window closed while the station waits for units, with none in flight: the
    // station stops at once and the window closed goes; Station... shows the station window
    // again, and the main window closed takes the station window with it, so that the
    // program ends.
    void closedWhileTheStationWaitsTheWindowGoes_data()
    {
        QTest::addColumn<bool>("mainWindow");
        QTest::newRow("station window") << false;
        QTest::newRow("main window") << true;
    }

    void closedWhileTheStationWaitsTheWindowGoes()
    {
        QFETCH(bool, mainWindow);
        StartShown();
        QVERIFY(FStation->Running());
        (mainWindow ? static_cast<QWidget*>(FWindow) : FStation)->close();
        QTRY_VERIFY_WITH_TIMEOUT(!FStation->Running(), Patience);
        QTRY_VERIFY_WITH_TIMEOUT(!FStation->isVisible(), 5000);
        QVERIFY2(!Find<QLabel>("lblStationCounts")->text().contains(QStringLiteral("waiting")),
                 qPrintable(Find<QLabel>("lblStationCounts")->text()));
        QTRY_COMPARE_WITH_TIMEOUT(FWindow->isVisible(), !mainWindow, 5000);
        if (!mainWindow) {
            Click("btnStation");
            QVERIFY(FStation->isVisible());
        }
    }

    // A stray Stop or close with units in flight, answered "go on": nothing stops, nothing
    // closes, and the units finish.
    void aStopOrCloseAnsweredGoOnChangesNothing()
    {
        FStopChoice = TfmStation::TStopChoice::GoOn;
        StartShown();
        QVERIFY(Arrive(20) >= 0);
        QTRY_VERIFY_WITH_TIMEOUT(Rows() == 1 && Cell(0, TStationUnits::ColProgress) != QString(), Patience);
        Click("btnStationStop");
        QVERIFY(!FStation->close());
        QVERIFY(!FWindow->close());
        QCOMPARE(FAskedToStop, 3);
        QVERIFY(FStation->Running());
        QTRY_COMPARE_WITH_TIMEOUT(Column(TStationUnits::ColResult), QStringList(QStringLiteral("ok")), Patience);
        QVERIFY(FStation->Running() && FStation->isVisible() && FWindow->isVisible());
        Click("btnStationStop");   // nothing in flight now: not asked
        QTRY_VERIFY_WITH_TIMEOUT(!FStation->Running(), Patience);
        QCOMPARE(FAskedToStop, 3);
        QVERIFY(FStation->isVisible() && FWindow->isVisible());
    }

    // SIGTERM (the session ends), SIGHUP (the terminal closed) or SIGINT while units are in
    // flight: nobody is there to answer a question, so the units stop after their request
    // under way, every record is kept, and both windows close; a second signal changes
    // nothing.
    void aSignalWithUnitsInFlightEndsInOrderWithoutAsking_data()
    {
        QTest::addColumn<int>("signal");
        QTest::newRow("SIGTERM") << SIGTERM;
        QTest::newRow("SIGHUP") << SIGHUP;
        QTest::newRow("SIGINT twice") << SIGINT;
    }

    void aSignalWithUnitsInFlightEndsInOrderWithoutAsking()
    {
        QFETCH(int, signal);
        StartShown();
        QVERIFY(Arrive(20) >= 0);
        QVERIFY(Arrive(20) >= 0);
        QTRY_VERIFY_WITH_TIMEOUT(Rows() == 2 && Cell(0, TStationUnits::ColProgress) != QString() &&
                                     Cell(1, TStationUnits::ColProgress) != QString(),
                                 Patience);
        ::raise(signal);
        if (signal == SIGINT)
            ::raise(signal);
        QTRY_VERIFY_WITH_TIMEOUT(!FStation->Running(), Patience);
        QTRY_VERIFY_WITH_TIMEOUT(!FStation->isVisible() && !FWindow->isVisible(), Patience);
        QCOMPARE(FAskedToStop, 0);
        QCOMPARE(FWindows->Signal(), signal);
        const QList<QJsonObject> records = Records();
        QCOMPARE(records.size(), 2);
        for (const QJsonObject& record : records)
            QCOMPARE(record.value(QStringLiteral("outcome")).toString(), QStringLiteral("interrupted"));
    }

    // Stop answered "finish", then the station window closed: the units finish while the
    // operator is asked, and the window goes once they have, whatever the answer.
    void closedWhileFinishingGoesOnceTheUnitsFinishedDuringTheQuestion()
    {
        FStopChoice = TfmStation::TStopChoice::Finish;
        StartShown();
        QVERIFY(Arrive(20) >= 0);
        QTRY_VERIFY_WITH_TIMEOUT(Rows() == 1 && Cell(0, TStationUnits::ColProgress) != QString(), Patience);
        Click("btnStationStop");
        FStation->AskHowToStop = [this](int) {
            if (!QTest::qWaitFor([this] { return !FStation->Running(); }, Patience))
                qWarning("the units did not finish");
            QTest::qWait(100);   // the operator answers a moment later
            return TfmStation::TStopChoice::GoOn;
        };
        FStation->close();
        QTRY_VERIFY_WITH_TIMEOUT(!FStation->isVisible(), 5000);
        QCOMPARE(Column(TStationUnits::ColResult), QStringList(QStringLiteral("ok")));
    }

    // A signal while the operator is being asked how to stop: the program's end stands, whatever
    // the answer given afterwards, before or after the units have stopped; every record is
    // kept, and both windows close.
    void aSignalWhileAskedHowToStopEndsWhateverTheAnswer_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<TfmStation::TStopChoice>("answer");
        QTest::addColumn<int>("answeredAfterMs");   // 0: while the units stop
        for (const char* how : {"btnStationStop", "station", "main"}) {
            QTest::newRow(qPrintable(QLatin1String(how) + QStringLiteral(", go on at once")))
                << how << TfmStation::TStopChoice::GoOn << 0;
            QTest::newRow(qPrintable(QLatin1String(how) + QStringLiteral(", finish once stopped")))
                << how << TfmStation::TStopChoice::Finish << 200;
        }
    }

    void aSignalWhileAskedHowToStopEndsWhateverTheAnswer()
    {
        QFETCH(QString, how);
        QFETCH(TfmStation::TStopChoice, answer);
        QFETCH(int, answeredAfterMs);
        FStation->AskHowToStop = [answer, answeredAfterMs](int) {
            // The question's own event loop hears the signal.
            ::raise(SIGTERM);
            QCoreApplication::processEvents();
            QTest::qWait(answeredAfterMs);
            return answer;
        };
        StartShown();
        QVERIFY(Arrive(20) >= 0);
        QTRY_VERIFY_WITH_TIMEOUT(Rows() == 1 && Cell(0, TStationUnits::ColProgress) != QString(), Patience);
        if (how == QLatin1String("station"))
            FStation->close();
        else if (how == QLatin1String("main"))
            FWindow->close();
        else
            Click("btnStationStop");
        QTRY_VERIFY_WITH_TIMEOUT(!FStation->Running(), Patience);
        QTRY_VERIFY2_WITH_TIMEOUT(!FStation->isVisible() && !FWindow->isVisible(), qPrintable(Log()), 5000);
        const QList<QJsonObject> records = Records();
        QCOMPARE(records.size(), 1);
        QCOMPARE(records.first().value(QStringLiteral("outcome")).toString(), QStringLiteral("interrupted"));
    }

    // A signal while the window's own question is open: nobody is there to answer it, so it
    // goes, and the program ends as on any signal.
    void aSignalClosesTheOpenQuestion_data()
    {
        QTest::addColumn<QString>("how");
        for (const char* how : {"btnStationStop", "station", "main"})
            QTest::newRow(how) << how;
    }

    void aSignalClosesTheOpenQuestion()
    {
        constexpr int QuestionLeftMs = 10000;
        QFETCH(QString, how);
        bool shown = false;
        // The timers below end with this test, whatever becomes of the question.
        QObject scope;
        FStation->AskHowToStop = [this, &shown, &scope](int inFlight) {
            QTimer::singleShot(100, &scope, [&shown] {
                shown = QApplication::activeModalWidget() != nullptr;
                ::raise(SIGTERM);
            });
            // Should the question stay, it is answered long after, so that the test ends.
            QTimer::singleShot(QuestionLeftMs, &scope, [] {
                if (QWidget* question = QApplication::activeModalWidget())
                    question->close();
            });
            return FAskForReal(inFlight);
        };
        StartShown();
        QVERIFY(Arrive(20) >= 0);
        QTRY_VERIFY_WITH_TIMEOUT(Rows() == 1 && Cell(0, TStationUnits::ColProgress) != QString(), Patience);
        QElapsedTimer clock;
        clock.start();
        if (how == QLatin1String("station"))
            FStation->close();
        else if (how == QLatin1String("main"))
            FWindow->close();
        else
            Click("btnStationStop");
        QVERIFY(shown);
        QVERIFY2(clock.elapsed() < QuestionLeftMs, "the question stayed open after the signal");
        QTRY_VERIFY_WITH_TIMEOUT(!FStation->Running(), Patience);
        QTRY_VERIFY_WITH_TIMEOUT(!FStation->isVisible() && !FWindow->isVisible(), 5000);
        const QList<QJsonObject> records = Records();
        QCOMPARE(records.size(), 1);
        QCOMPARE(records.first().value(QStringLiteral("outcome")).toString(), QStringLiteral("interrupted"));
    }

    // A signal during the main window's own Send: the send runs to its end and its record is
    // kept, then the window closes.
    void aSignalDuringTheMainWindowsSendKeepsItsRecord()
    {
        // The main window keeps its records in the default store, which other tests here
        // write to as well.
        const auto windowRecords = [] {
            TRecordStore store;
            QString error;
            QList<TStoredRecord> records;
            if (!store.Open(QString(), error) || !store.Query({}, records, error))
                qWarning("%s", qPrintable(error));
            return StoredRecordsJson(records);
        };
        const qsizetype before = windowRecords().size();
        FWindow->show();
        QVERIFY(Arrive(5) >= 0);
        Click("ckNadNotAssigned");
        QTRY_VERIFY_WITH_TIMEOUT(Find<QAbstractButton>("btnSend")->isEnabled(), Patience);
        SetInputs();   // loaded for the unit connected
        Click("btnSend");
        QTRY_VERIFY2_WITH_TIMEOUT(Find<QPlainTextEdit>("meStatus")->toPlainText().contains(QStringLiteral("sending")),
                                  qPrintable(Find<QPlainTextEdit>("meStatus")->toPlainText()), 10000);
        ::raise(SIGTERM);
        QTRY_VERIFY_WITH_TIMEOUT(!FWindow->isVisible(), Patience);
        QVERIFY2(Find<QPlainTextEdit>("meStatus")->toPlainText().contains(QStringLiteral("sent successfully")),
                 qPrintable(Find<QPlainTextEdit>("meStatus")->toPlainText()));
        const QList<QJsonObject> records = windowRecords();
        QCOMPARE(records.size(), before + 1);
        QCOMPARE(records.last().value(QStringLiteral("outcome")).toString(), QStringLiteral("ok"));
    }

    void aRecipeWithAChangedFileIsRefusedBeforeAnythingIsSent()
    {
        SetInputs();
        const QByteArray original = SampleKernel(3);
        const QString kernelPath = WriteFile(QStringLiteral("recipe-kernel.bin"), original);
        Type("leKernelBinary", kernelPath);
        TRecipe recipe;
        QString error;
        QVERIFY2(RecipeOfJob(QStringLiteral("release 3.1"), ShownJob(false), QString(), recipe, error),
                 qPrintable(error));
        const QString path = FDir.filePath(QStringLiteral("changed.json"));
        QVERIFY2(WriteRecipe(path, recipe, error), qPrintable(error));
        // One byte of the kernel changes after the recipe was saved.
        QByteArray changed = original;
        changed[changed.size() - 1] = char(changed.back() ^ 0x5A);
        WriteFile(QStringLiteral("recipe-kernel.bin"), changed);

        const int unit = Arrive();
        FStation->OpenRecipeFileName = [&path] { return path; };
        ClickInStation("btnOpenRecipe");
        QVERIFY(Find<QLabel>("lblRecipe")->text().contains(QStringLiteral("release 3.1")));
        Click("btnStationStart");
        QVERIFY(!FStation->Running());
        QVERIFY2(Log().contains(QStringLiteral("kernel file changed since the recipe was saved")), qPrintable(Log()));
        QVERIFY(Find<QAbstractButton>("btnRefresh")->isEnabled());   // the main window was never held
        QTest::qWait(1500);                                          // a discovery would have gone out by now
        QVERIFY(FSim->Unit(unit)->ReceivedFrames().isEmpty());
        QCOMPARE(Rows(), 0);
    }

    void aStationFromARecipeNamesItInEveryRecord()
    {
        SetInputs();
        TRecipe recipe;
        QString error;
        QVERIFY2(RecipeOfJob(QStringLiteral("release 3.1"), ShownJob(false), TRecordStore::DefaultSeries, recipe,
                             error),
                 qPrintable(error));
        const QString path = FDir.filePath(QStringLiteral("release.json"));
        QVERIFY2(WriteRecipe(path, recipe, error), qPrintable(error));
        {
            TRecordStore store;
            QVERIFY2(store.Open(FStorePath, error) && store.SetNextSerial(TRecordStore::DefaultSeries, 5000, error),
                     qPrintable(error));
        }
        FStation->OpenRecipeFileName = [&path] { return path; };
        ClickInStation("btnOpenRecipe");
        Click("btnStationStart");
        QVERIFY2(FStation->Running(), qPrintable(Log()));
        QVERIFY(Arrive() >= 0);
        QVERIFY(Arrive() >= 0);
        QTRY_COMPARE_WITH_TIMEOUT(Rows(), 2, Patience);
        QTRY_VERIFY_WITH_TIMEOUT(AllEnded(), Patience);
        Click("btnStationStop");
        QTRY_VERIFY_WITH_TIMEOUT(!FStation->Running(), Patience);

        // The numbers come from the recipe's series, in whichever order the two units, running at
        // once, took them; the main window's box is left alone.
        QStringList serials = Column(TStationUnits::ColSerial);
        serials.sort();
        QCOMPARE(serials, (QStringList{QStringLiteral("5000"), QStringLiteral("5001")}));
        QCOMPARE(Find<QLineEdit>("edSerialNumber")->text(), QStringLiteral("1000"));
        const QList<QJsonObject> records = Records();
        QCOMPARE(records.size(), 2);
        for (const QJsonObject& record : records) {
            QCOMPARE(record.value(QStringLiteral("recipe")).toString(), QStringLiteral("release 3.1"));
            QCOMPARE(record.value(QStringLiteral("kernelSourceSha256")).toString(), recipe.Job.Kernel->Sha256);
            QCOMPARE(record.value(QStringLiteral("programSourceSha256")).toString(), recipe.Job.Program->Sha256);
            QCOMPARE(record.value(QStringLiteral("series")).toString(), TRecordStore::DefaultSeries);
        }
    }

    void aStoreThatCannotBeOpenedIsToldInWords()
    {
        SetInputs();
        FStation->RecordsLocation = FDir.path();   // a folder, no SQLite file
        Type("edRecordsSerial", QStringLiteral("1000"));
        QVERIFY2(Find<QLabel>("lblRecordsStatus")->text().startsWith(QStringLiteral("the records cannot be read: ")),
                 qPrintable(Find<QLabel>("lblRecordsStatus")->text()));
        const int unit = Arrive();
        Click("btnStationStart");
        QVERIFY(!FStation->Running());
        QVERIFY2(Log().contains(QStringLiteral("error: the station did not start")), qPrintable(Log()));
        QVERIFY(Find<QAbstractButton>("btnRefresh")->isEnabled());
        QTest::qWait(1500);   // a discovery would have gone out by now
        QVERIFY(FSim->Unit(unit)->ReceivedFrames().isEmpty());
    }

    void aRecipeSavedAndOpenedGivesTheSameInputs()
    {
        SetInputs();
        Tick("ckStartPLC", true);
        Tick("ckSetNadAlias", true);
        Type("edNADAlias", QStringLiteral("12"));
        Tick("ckSetHardwareModel", true);
        Find<QComboBox>("cbHardwareModel")->setCurrentIndex(1);
        Tick("ckSetIEXBaudRate", true);
        Find<QComboBox>("cbIEXBaudRate")->setCurrentIndex(2);
        Tick("ckSetIPAddress", true);
        Tick("rbStaticIP", true);
        Type("edIPAddress", QStringLiteral("10.0.0.7"));
        Type("edSubnetMask", QStringLiteral("255.255.255.0"));
        Type("edGateway", QStringLiteral("10.0.0.1"));
        Type("edDNSServer", QStringLiteral("10.0.0.2"));
        FWindow->Job().SetVerifyAfterSend(true);
        const TJob saved = FWindow->InputsJob();
        QVERIFY(SettingsValid(saved.Settings));

        const QString path = FDir.filePath(QStringLiteral("round trip.json"));
        FWindow->AskRecipeName = [](QString& name, QString& series) {
            name = QStringLiteral("release %1");   // operator text, taken as it is
            series = QString();
            return true;
        };
        FWindow->SaveRecipeFileName = [&path](const QString&) { return path; };
        Click("btnSaveRecipe");
        QVERIFY2(FErrors.isEmpty(), qPrintable(FErrors.join(u'\n')));

        // Everything changed in between.
        Tick("ckKernel", false);
        Tick("ckStartPLC", false);
        Tick("ckSetNadAlias", false);
        Tick("rbDHCP", true);
        Tick("ckSetIPAddress", false);
        Find<QComboBox>("cbIEXBaudRate")->setCurrentIndex(0);
        FWindow->Job().SetVerifyAfterSend(false);

        FWindow->OpenRecipeFileName = [&path] { return path; };
        Click("btnOpenRecipe");
        QVERIFY2(FErrors.isEmpty(), qPrintable(FErrors.join(u'\n')));
        const TJob opened = FWindow->InputsJob();
        QVERIFY(opened == saved);
        QVERIFY(SettingsValid(opened.Settings));
        QVERIFY(FWindow->Job().VerifyAfterSend());
        QVERIFY(Find<QAbstractButton>("ckVerifyAfterSend")->isChecked());
        // The main window's controls show the recipe; the station pins none (the operator may
        // change the controls before a Start).
        QVERIFY(!FStation->Recipe());
    }

    void theRecordsPanelFindsAUnitBySerialNumber()
    {
        SetInputs();
        Click("btnStationStart");
        QVERIFY(Arrive() >= 0);
        QVERIFY(Arrive() >= 0);
        QTRY_COMPARE_WITH_TIMEOUT(Rows(), 2, Patience);
        QTRY_VERIFY_WITH_TIMEOUT(AllEnded(), Patience);
        Click("btnStationStop");
        QTRY_VERIFY_WITH_TIMEOUT(!FStation->Running(), Patience);

        const QAbstractItemModel* records = Find<QTableView>("tblRecords")->model();
        QTRY_COMPARE_WITH_TIMEOUT(records->rowCount(), 2, Patience);
        Type("edRecordsSerial", QStringLiteral("1001"));
        QCOMPARE(records->rowCount(), 1);
        QCOMPARE(records->index(0, 3).data().toString(), QStringLiteral("1001"));
        QCOMPARE(records->index(0, 4).data().toString(), QStringLiteral("ok"));
        Tick("ckRecordsFailedOnly", true);
        QCOMPARE(records->rowCount(), 0);
        Type("edRecordsSerial", QStringLiteral("12x"));
        QVERIFY(Find<QLabel>("lblRecordsStatus")->text().contains(QStringLiteral("not a serial number")));

        // The export writes what the panel shows.
        Tick("ckRecordsFailedOnly", false);
        Type("edRecordsSerial", QStringLiteral("1000"));
        const QString csv = FDir.filePath(QStringLiteral("export.csv"));
        FStation->ExportFileName = [&csv] { return csv; };
        Click("btnRecordsExport");
        QFile file(csv);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QList<QByteArray> lines = file.readAll().trimmed().split('\n');
        QCOMPARE(lines.size(), 2);
        QVERIFY(lines[1].contains(",1000,"));
    }

    // A static address or a NAD alias is one unit's: a station gives it to every unit it
    // takes, and they collide on the line. orvel-loader station refuses them; so must the
    // window, from its main window's inputs or from a recipe, before anything is sent.
    void aStaticAddressOrAliasForEveryUnitIsRefused_data()
    {
        QTest::addColumn<QString>("setting");
        QTest::addColumn<bool>("fromRecipe");
        QTest::newRow("static IP, main window") << "ip" << false;
        QTest::newRow("NAD alias, main window") << "alias" << false;
        QTest::newRow("static IP, recipe") << "ip" << true;
        QTest::newRow("NAD alias, recipe") << "alias" << true;
    }

    void aStaticAddressOrAliasForEveryUnitIsRefused()
    {
        QFETCH(QString, setting);
        QFETCH(bool, fromRecipe);
        SetInputs();
        if (setting == QLatin1String("ip")) {
            Tick("ckSetIPAddress", true);
            Tick("rbStaticIP", true);
            Type("edIPAddress", QStringLiteral("127.0.0.77"));
            Type("edSubnetMask", QStringLiteral("255.0.0.0"));
            Type("edGateway", QStringLiteral("127.0.0.1"));
            Type("edDNSServer", QStringLiteral("127.0.0.1"));
        } else {
            Tick("ckSetNadAlias", true);
            Type("edNADAlias", QStringLiteral("12"));
        }
        QVERIFY(SettingsValid(FWindow->InputsJob().Settings));
        if (fromRecipe) {
            TRecipe recipe;
            QString error;
            QVERIFY2(RecipeOfJob(QStringLiteral("one unit's"), ShownJob(false), QString(), recipe, error),
                     qPrintable(error));
            const QString path = FDir.filePath(QStringLiteral("one-unit.json"));
            QVERIFY2(WriteRecipe(path, recipe, error), qPrintable(error));
            QVERIFY(FStation->OpenRecipe(path));
        }
        // No unit arrives: nothing is sent whatever the outcome.
        QVERIFY2(StartRefused(), "the station started with one unit's address or alias for every unit");
        QVERIFY2(Log().contains(QStringLiteral("every unit")), qPrintable(Log()));
    }

    // The program ends (both windows destroyed) with units under way: their records are kept
    // as far as they got, and nothing waits for ever.
    void windowsDestroyedMidRunKeepEveryRecord()
    {
        StartShown();
        QVERIFY(Arrive(20) >= 0);
        QVERIFY(Arrive(20) >= 0);
        QTRY_COMPARE_WITH_TIMEOUT(Rows(), 2, Patience);
        QTRY_VERIFY_WITH_TIMEOUT(Cell(0, TStationUnits::ColProgress) != QString() &&
                                     Cell(1, TStationUnits::ColProgress) != QString(),
                                 Patience);
        FStation = nullptr;
        FWindow = nullptr;
        FWindows.reset();
        const QList<QJsonObject> records = Records();
        QCOMPARE(records.size(), 2);
        for (const QJsonObject& record : records)
            QCOMPARE(record.value(QStringLiteral("outcome")).toString(), QStringLiteral("interrupted"));
    }

    // A recipe that sends nothing and writes nothing is no job, as the main window's inputs
    // with nothing ticked are none.
    void aRecipeThatDoesNothingIsRefused()
    {
        TRecipe recipe;
        QString error;
        QVERIFY2(RecipeOfJob(QStringLiteral("empty"), TJob{}, QString(), recipe, error), qPrintable(error));
        const QString path = FDir.filePath(QStringLiteral("empty.json"));
        QVERIFY2(WriteRecipe(path, recipe, error), qPrintable(error));
        QVERIFY(FStation->OpenRecipe(path));
        QVERIFY2(StartRefused(), "the station started a job that sends nothing");
        QVERIFY2(Log().contains(QStringLiteral("nothing to send")), qPrintable(Log()));
    }

    // A recipe opened in the main window, and the main window's inputs changed after: the
    // station must not send what the main window no longer shows (here the program the
    // operator unticked) without a word.
    void aRecipeOpenedInTheMainWindowAndThenEditedIsNotSentAsSaved()
    {
        SetInputs();
        TRecipe recipe;
        QString error;
        QVERIFY2(RecipeOfJob(QStringLiteral("release 3.1"), ShownJob(false), TRecordStore::DefaultSeries, recipe,
                             error),
                 qPrintable(error));
        const QString path = FDir.filePath(QStringLiteral("edited.json"));
        QVERIFY2(WriteRecipe(path, recipe, error), qPrintable(error));
        {
            TRecordStore store;
            QVERIFY2(store.Open(FStorePath, error) && store.SetNextSerial(TRecordStore::DefaultSeries, 5000, error),
                     qPrintable(error));
        }
        FWindow->OpenRecipeFileName = [&path] { return path; };
        Click("btnOpenRecipe");   // the main window's
        QVERIFY2(FErrors.isEmpty(), qPrintable(FErrors.join(u'\n')));
        Tick("ckPLCProgram", false);
        QVERIFY(!FWindow->InputsJob().Program);

        Click("btnStationStart");
        if (!FStation->Running())
            return;   // refused: the operator learns it in the log
        QVERIFY(Arrive() >= 0);
        QTRY_COMPARE_WITH_TIMEOUT(Rows(), 1, Patience);
        QTRY_VERIFY_WITH_TIMEOUT(AllEnded(), Patience);
        Click("btnStationStop");
        QTRY_VERIFY_WITH_TIMEOUT(!FStation->Running(), Patience);
        const QList<QJsonObject> records = Records();
        QCOMPARE(records.size(), 1);
        QVERIFY2(records.front().value(QStringLiteral("programFile")).toString().isEmpty(),
                 "the program the operator unticked in the main window was sent");
    }

    // A recipe opened in the main window, the operator changing nothing, and its kernel file
    // changed on disk after: a Start refuses it in words before any unit is touched, as it
    // does for the recipe opened in the station window.
    void aRecipeOpenedInTheMainWindowWhoseFileChangedIsRefused()
    {
        SetInputs();
        const QByteArray original = SampleKernel(3);
        const QString kernelPath = WriteFile(QStringLiteral("main-recipe-kernel.bin"), original);
        Type("leKernelBinary", kernelPath);
        TRecipe recipe;
        QString error;
        QVERIFY2(RecipeOfJob(QStringLiteral("release 3.1"), ShownJob(false), QString(), recipe, error),
                 qPrintable(error));
        const QString path = FDir.filePath(QStringLiteral("main-changed.json"));
        QVERIFY2(WriteRecipe(path, recipe, error), qPrintable(error));
        FWindow->OpenRecipeFileName = [&path] { return path; };
        Click("btnOpenRecipe");   // the main window's
        QVERIFY2(FErrors.isEmpty(), qPrintable(FErrors.join(u'\n')));
        QByteArray changed = original;
        changed[changed.size() - 1] = char(changed.back() ^ 0x5A);
        WriteFile(QStringLiteral("main-recipe-kernel.bin"), changed);

        const int unit = Arrive();
        Click("btnStationStart");
        QTest::qWait(1500);   // a discovery would have gone out by now
        const bool started = FStation->Running();
        if (started) {
            Click("btnStationStop");
            QTRY_VERIFY_WITH_TIMEOUT(!FStation->Running(), Patience);
        }
        QVERIFY2(!started && Log().contains(QStringLiteral("kernel file changed since the recipe was saved")),
                 qPrintable(Log()));
        QVERIFY(FSim->Unit(unit)->ReceivedFrames().isEmpty());
    }

    // A recipe that verifies after send, opened in the station window, and Verify after send
    // unticked before the Start: the units are not verified, so their records must not count
    // them among the recipe's (or the recipe's verify must hold).
    void aRecipeWhoseVerifyWasUntickedIsNotRecordedAsIfVerified()
    {
        SetInputs();
        TRecipe recipe;
        QString error;
        QVERIFY2(RecipeOfJob(QStringLiteral("release 3.1"), ShownJob(true), QString(), recipe, error),
                 qPrintable(error));
        const QString path = FDir.filePath(QStringLiteral("verifying.json"));
        QVERIFY2(WriteRecipe(path, recipe, error), qPrintable(error));
        FStation->OpenRecipeFileName = [&path] { return path; };
        ClickInStation("btnOpenRecipe");
        QVERIFY(Find<QAbstractButton>("ckVerifyAfterSend")->isChecked());
        Find<QAbstractButton>("ckVerifyAfterSend")->click();

        Click("btnStationStart");
        QVERIFY2(FStation->Running(), qPrintable(Log()));
        QVERIFY(Arrive() >= 0);
        QTRY_COMPARE_WITH_TIMEOUT(Rows(), 1, Patience);
        QTRY_VERIFY_WITH_TIMEOUT(AllEnded(), Patience);
        Click("btnStationStop");
        QTRY_VERIFY_WITH_TIMEOUT(!FStation->Running(), Patience);
        const QList<QJsonObject> records = Records();
        QCOMPARE(records.size(), 1);
        const QString verify =
            records.front().value(QStringLiteral("steps")).toObject().value(QStringLiteral("verify")).toString();
        QVERIFY2(records.front().value(QStringLiteral("recipe")).toString().isEmpty() ||
                     verify != QStringLiteral("---"),
                 qPrintable(QStringLiteral("recorded as release 3.1's, verify step: ") + verify));
    }

    // A recipe with a series, opened in the main window and the controls left as it set them:
    // the station runs it as that recipe's job (its name on every record), so the numbers
    // come from the recipe's series, not from the main window's box.
    void aRecipeShownInTheMainWindowTakesItsNumbersFromItsSeries()
    {
        SetInputs();
        TRecipe recipe;
        QString error;
        QVERIFY2(RecipeOfJob(QStringLiteral("release 3.1"), ShownJob(false), TRecordStore::DefaultSeries, recipe,
                             error),
                 qPrintable(error));
        const QString path = FDir.filePath(QStringLiteral("main-series.json"));
        QVERIFY2(WriteRecipe(path, recipe, error), qPrintable(error));
        {
            TRecordStore store;
            QVERIFY2(store.Open(FStorePath, error) && store.SetNextSerial(TRecordStore::DefaultSeries, 5000, error),
                     qPrintable(error));
        }
        FWindow->OpenRecipeFileName = [&path] { return path; };
        Click("btnOpenRecipe");   // the main window's
        QVERIFY2(FErrors.isEmpty(), qPrintable(FErrors.join(u'\n')));

        Click("btnStationStart");
        QVERIFY2(FStation->Running(), qPrintable(Log()));
        QVERIFY(Arrive() >= 0);
        QTRY_COMPARE_WITH_TIMEOUT(Rows(), 1, Patience);
        QTRY_VERIFY_WITH_TIMEOUT(AllEnded(), Patience);
        Click("btnStationStop");
        QTRY_VERIFY_WITH_TIMEOUT(!FStation->Running(), Patience);
        const QList<QJsonObject> records = Records();
        QCOMPARE(records.size(), 1);
        QCOMPARE(records.front().value(QStringLiteral("recipe")).toString(), QStringLiteral("release 3.1"));
        QCOMPARE(records.front().value(QStringLiteral("series")).toString(), TRecordStore::DefaultSeries);
        QCOMPARE(records.front().value(QStringLiteral("serial")).toInteger(), 5000);
    }

    // A recipe opened in the main window, a setting changed, and the inputs saved as a recipe
    // of their own: the units then sent got the saved recipe's settings, so their records must
    // not count them among the opened recipe's.
    void aRecipeSavedAfterAnotherWasOpenedIsNotRecordedAsTheOpenedOne()
    {
        SetInputs();
        Tick("ckSetIEXBaudRate", true);
        Find<QComboBox>("cbIEXBaudRate")->setCurrentIndex(1);
        TRecipe recipe;
        QString error;
        QVERIFY2(RecipeOfJob(QStringLiteral("release 3.1"), ShownJob(false), QString(), recipe, error),
                 qPrintable(error));
        const QString opened = FDir.filePath(QStringLiteral("release-3.1.json"));
        QVERIFY2(WriteRecipe(opened, recipe, error), qPrintable(error));
        FWindow->OpenRecipeFileName = [&opened] { return opened; };
        Click("btnOpenRecipe");   // the main window's
        Find<QComboBox>("cbIEXBaudRate")->setCurrentIndex(2);
        const QString saved = FDir.filePath(QStringLiteral("release-3.2.json"));
        FWindow->AskRecipeName = [](QString& name, QString& series) {
            name = QStringLiteral("release 3.2");
            series = QString();
            return true;
        };
        FWindow->SaveRecipeFileName = [&saved](const QString&) { return saved; };
        Click("btnSaveRecipe");
        QVERIFY2(FErrors.isEmpty(), qPrintable(FErrors.join(u'\n')));

        Click("btnStationStart");
        QVERIFY2(FStation->Running(), qPrintable(Log()));
        QVERIFY(Arrive() >= 0);
        QTRY_COMPARE_WITH_TIMEOUT(Rows(), 1, Patience);
        QTRY_VERIFY_WITH_TIMEOUT(AllEnded(), Patience);
        Click("btnStationStop");
        QTRY_VERIFY_WITH_TIMEOUT(!FStation->Running(), Patience);
        const QList<QJsonObject> records = Records();
        QCOMPARE(records.size(), 1);
        QCOMPARE(records.front().value(QStringLiteral("outcome")).toString(), QStringLiteral("ok"));
        QVERIFY2(records.front().value(QStringLiteral("recipe")).toString() != QStringLiteral("release 3.1"),
                 "a unit sent with release 3.2's baud rate is recorded as release 3.1's");
    }

    // A unit that falls silent mid-send: its row tells the operator why in words, not a bare
    // "error" (as the message of a send whose unit stopped answering reads).
    void aUnitThatFallsSilentSaysWhyInWords()
    {
        SetInputs();
        Click("btnStationStart");
        const int silent = Arrive(5);
        QVERIFY(silent >= 0);
        QTRY_COMPARE_WITH_TIMEOUT(Rows(), 1, Patience);
        QTRY_VERIFY_WITH_TIMEOUT(Cell(0, TStationUnits::ColProgress) != QString(), Patience);
        TSimFaults silence;
        silence.DropShare = 1;
        FSim->SetFaults(silent, silence);
        QTRY_VERIFY_WITH_TIMEOUT(AllEnded(), Patience);
        Click("btnStationStop");
        QTRY_VERIFY_WITH_TIMEOUT(!FStation->Running(), Patience);
        const QString result = Cell(0, TStationUnits::ColResult);
        QVERIFY2(result.startsWith(QStringLiteral("failed: ")), qPrintable(result));
        QVERIFY2(result != QStringLiteral("failed: error"), qPrintable(result));
        const QList<QJsonObject> records = Records();
        QCOMPARE(records.size(), 1);
        QVERIFY2(records.front().value(QStringLiteral("message")).toString() != QStringLiteral("error"),
                 qPrintable(records.front().value(QStringLiteral("message")).toString()));
    }

    // Many fresh units at once, one at a time, a serial number each and nothing more: a
    // discovery's reply sent while a unit was still fresh, just before its runner wrote its
    // number, must not take it again once that runner finished (a second row, red, "serial
    // number already set", and a failed record for a good unit).
    void manyQuickUnitsOneAtATimeEachGetOneRow()
    {
        Tick("ckSerialNumber", true);
        Tick("ckAutoincrement", true);
        Type("edSerialNumber", QStringLiteral("1000"));
        Find<QSpinBox>("spParallel")->setValue(1);
        constexpr int Units = 40;
        for (int unit = 0; unit < Units; ++unit)
            QVERIFY(Arrive(20) >= 0);
        Click("btnStationStart");
        QVERIFY2(FStation->Running(), qPrintable(Log()));
        QTRY_VERIFY_WITH_TIMEOUT(Rows() >= Units && AllEnded(), Patience);
        QTest::qWait(2500);   // two more scans
        Click("btnStationStop");
        QTRY_VERIFY_WITH_TIMEOUT(!FStation->Running(), Patience);
        QCOMPARE(Column(TStationUnits::ColResult), QStringList(Units, QStringLiteral("ok")));
        QCOMPARE(Records().size(), Units);
    }

    // The time left is reckoned from the unit's first bytes, as orvel-loader's is: a unit that
    // waited for a free runner is not estimated at the pace of its wait.
    void timeLeftIsReckonedFromTheFirstBytes()
    {
        TStationUnits units;
        units.RepaintIntervalMs = 0;
        const QString ip = QStringLiteral("127.0.0.9");
        units.Taken(ip, -1);
        QTest::qWait(1500);   // waiting for a runner
        units.Progress(ip, 0, 1000);
        QTest::qWait(100);
        units.Progress(ip, 500, 1000);
        QCOMPARE(units.index(0, TStationUnits::ColTimeLeft).data().toString(), QStringLiteral("0:00"));
    }
};

QTEST_MAIN(TestStationWindow)
#include "tst_fStation.moc"
