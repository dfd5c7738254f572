// The main window against simulated controllers on loopback: connecting, the information
// panel, discovery, the NAD choices that fail, the password, a NAD typed key by key and the
// production run through the Send button and the unit's record it leaves in the record
// store. The host's adapter table is made up (only the loopback adapter), so the link binds
// to 127.0.0.1; the simulator runs in-process on a free port. The data folder, where the
// record store lives, is a temporary one. No test ticks "Direct connection", which would
// send to 255.255.255.255.
#include "fMain.h"
#include "fPassword.h"
#include "IconColour.h"
#include "LoopbackAdapter.h"
#include "StoredRecordsJson.h"
#include "OrvelSimulator.h"
#include "Recipe.h"
#include "RecordStore.h"
#include "SampleImages.h"
#include "SettingsStore.h"
#include "uABus.h"

#include <algorithm>

#include <QAbstractButton>
#include <QComboBox>
#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QSysInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUdpSocket>
#include <QtEndian>

#include <functional>
#include <memory>

namespace {

TSimControllerConfig Unit(uint32_t serial, uint16_t loaderMajor)
{
    TSimControllerConfig config;
    config.Serial = serial;
    config.LoaderMajor = loaderMajor;
    config.Kernel = SampleKernel(loaderMajor);
    config.Program = SealedProgram(SampleProgram(), loaderMajor == 2);
    return config;
}

}   // namespace

class TestConnectedWindow : public QObject {
    Q_OBJECT

private:
    template <typename T>
    T* Find(const char* name) const
    {
        return FWindow->findChild<T*>(QLatin1String(name));
    }
    QString Text(const char* label) const { return Find<QLabel>(label)->text(); }
    QString Colour(const char* icon) const { return IconColour(Find<QLabel>(icon)); }
    QComboBox* Nad() const { return Find<QComboBox>("cbNAD"); }

    // The log without its time stamps.
    QStringList LogLines() const
    {
        QStringList lines = Find<QPlainTextEdit>("meStatus")->toPlainText().split(u'\n', Qt::SkipEmptyParts);
        for (QString& line : lines)
            line.remove(QRegularExpression(QStringLiteral("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d: ")));
        return lines;
    }

    // Starts the simulator with the controllers added so far and points the link at it.
    void StartSimulator()
    {
        QString error;
        QVERIFY2(FSim->Start(0, &error), qPrintable(error));
        FWindow->LinkOptions.Port = FSim->Port();
        QCOMPARE(Find<QComboBox>("cbEthAdapter")->currentText(), QStringLiteral("Loopback (127.0.0.1)"));
    }

    // Until the runner has done what it was asked (its simulated units answer meanwhile):
    // a connection that nobody answers takes eight attempts of half a second.
    void Settle() const { QTRY_VERIFY_WITH_TIMEOUT(!FWindow->Runner->Busy(), 30000); }

    // Operation buttons as the next idle update leaves them.
    bool OperationsEnabled() const
    {
        FWindow->alActionsUpdate();
        return Find<QAbstractButton>("btnSend")->isEnabled();
    }

    TLoopbackAdapter FLoopback;   // the host's only adapter while the tests run
    QTemporaryDir FDir;
    std::unique_ptr<TfmMain> FWindow;
    // The job the main window shows, saved as a recipe with verify after send or not.
    TJob ShownJob(bool verify) const
    {
        TJob job = FWindow->InputsJob();
        job.Verify = verify;
        return job;
    }

    // That job saved as recipe "release 3.1" and opened in the window again, as an operator
    // would; false, and why, when it could not be saved.
    bool SaveAndOpenShownRecipe(bool verify, TRecipe& saved)
    {
        QString error;
        const QString path = FDir.filePath(QStringLiteral("release.json"));
        if (!RecipeOfJob(QStringLiteral("release 3.1"), ShownJob(verify), QString(), saved, error) ||
            !WriteRecipe(path, saved, error)) {
            qWarning("%s", qPrintable(error));
            return false;
        }
        FWindow->OpenRecipeFileName = [path] { return path; };
        Find<QAbstractButton>("btnOpenRecipe")->click();
        return true;
    }
    std::unique_ptr<TControllerSimulator> FSim;
    QStringList FErrors;

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(FDir.isValid());
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, FDir.path());
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, FDir.path());
        QStandardPaths::setTestModeEnabled(true);   // the data folder under HOME/.qttest
        qputenv("HOME", FDir.path().toLocal8Bit());
    }

    void init()
    {
        QSettings(QStringLiteral("Maradine"), QStringLiteral("OrvelBinLoader")).clear();
        QDir(DataFolder()).removeRecursively();
        QFile::remove(DataFolder());
        FErrors.clear();
        FSim = std::make_unique<TControllerSimulator>();
        FWindow = std::make_unique<TfmMain>();
        FWindow->ErrorMessage = [this](const QString& text) { FErrors.append(text); };
        FWindow->Runner->SetProductionLogPath(ProductionLogPath());
        FWindow->Runner->SetFixedWaits([](int) {});   // the simulator needs no settling time
        QFile::remove(ProductionLogPath());
    }

    void cleanup()
    {
        FWindow.reset();
        FSim.reset();
    }

    void connectsAndShowsTheController_data()
    {
        QTest::addColumn<int>("loaderMajor");
        QTest::addColumn<QString>("platform");
        QTest::addColumn<QString>("loaderVersion");
        QTest::addColumn<QString>("serial");
        QTest::addColumn<QString>("kernelVersion");
        QTest::addColumn<QString>("program");
        QTest::addColumn<bool>("operations");
        QTest::newRow("ARM") << 3 << "Orvel/ARM"
                             << "3.0"
                             << "4711"
                             << "3.1.7"
                             << "ok" << true;
        QTest::newRow("XA") << 2 << "Orvel/XA"
                            << "2.0"
                            << "4711"
                            << "2.1.7"
                            << "ok" << true;
        QTest::newRow("old loader") << 1 << "-"
                                    << "-"
                                    << "-"
                                    << "-"
                                    << "-" << false;
    }

    void connectsAndShowsTheController()
    {
        QFETCH(int, loaderMajor);
        FSim->AddController(Unit(4711, uint16_t(loaderMajor)));
        FSim->AddController(Unit(5000, 3));
        StartSimulator();

        // Another unit first, so that the panel and the buttons have something to replace.
        Nad()->setEditText(QStringLiteral("5000"));
        Settle();
        QCOMPARE(Text("lblInfoSerial"), QStringLiteral("5000"));
        QVERIFY(OperationsEnabled());

        Nad()->setEditText(QStringLiteral("4711"));
        Settle();
        QCOMPARE(FWindow->SessionState.LocalIP, QStringLiteral("127.0.0.1"));
        QCOMPARE(Colour("imEthernet"), QStringLiteral("YELLOW"));   // lo has no gateway
        QCOMPARE(Colour("imOrvel"), QStringLiteral("GREEN"));
        QTEST(Text("lblInfoPlatform"), "platform");
        QTEST(Text("lblInfoLoaderVersion"), "loaderVersion");
        QTEST(Text("lblInfoSerial"), "serial");
        QTEST(Text("lblInfoKernelVersion"), "kernelVersion");
        QTEST(Text("lblInfoPLCProgram"), "program");
        QCOMPARE(Text("lblInfoIPAddress").section(u' ', 0, 0), QStringLiteral("127.0.0.2"));
        QTEST(OperationsEnabled(), "operations");
    }

    void failedChoiceLeavesThePanelEmpty_data()
    {
        QTest::addColumn<bool>("noSerialNumber");
        QTest::addColumn<QString>("nad");
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("orvel");
        QTest::newRow("nothing answers -1") << true << ""
                                            << "error connecting to -1"
                                            << "RED";
        QTest::newRow("NAD 0") << false << "0"
                               << "invalid nad"
                               << "GREY";
    }

    void failedChoiceLeavesThePanelEmpty()
    {
        QFETCH(bool, noSerialNumber);
        QFETCH(QString, nad);
        FSim->AddController(Unit(5000, 3));
        StartSimulator();
        Nad()->setEditText(QStringLiteral("5000"));
        Settle();
        QVERIFY(OperationsEnabled());

        FWindow->LinkOptions.Attempts = 2;   // nothing answers: two attempts say so as well as eight
        if (noSerialNumber)
            Find<QAbstractButton>("ckNadNotAssigned")->click();
        else
            Nad()->setEditText(nad);
        Settle();

        QCOMPARE(Nad()->isEnabled(), !noSerialNumber);
        QCOMPARE(Nad()->currentText(), nad);
        QTEST(LogLines().value(0), "line");
        QCOMPARE(LogLines().size(), 1);
        QTEST(Colour("imOrvel"), "orvel");
        QCOMPARE(Text("lblInfoSerial"), QString());
        QCOMPARE(Text("lblInfoPlatform"), QString());
        QVERIFY(!OperationsEnabled());
    }

    void discoveryListsEachNadOnceSortedAsText()
    {
        for (uint32_t serial : {25u, 100u, 25u})
            FSim->AddController(Unit(serial, 3));
        StartSimulator();
        const auto listed = [this] {
            Nad()->showPopup();
            Settle();
            Nad()->hidePopup();
            QStringList items;
            for (int i = 0; i < Nad()->count(); ++i)
                items << Nad()->itemText(i);
            return items;
        };

        // The first thing the operator does: the broadcast still leaves through the chosen adapter.
        QCOMPARE(listed(), QStringList({"100", "25"}));
        QCOMPARE(FWindow->SessionState.LocalIP, QStringLiteral("127.0.0.1"));
        QVERIFY(FWindow->SessionState.BoundPort != 0);
        QCOMPARE(Nad()->currentText(), QString());
        QCOMPARE(Colour("imOrvel"), QStringLiteral("GREY"));

        Nad()->setCurrentIndex(1);
        Settle();
        QCOMPARE(Text("lblInfoSerial"), QStringLiteral("25"));
        QCOMPARE(Colour("imOrvel"), QStringLiteral("GREEN"));

        // Listing again forgets the controller; nothing connects until the operator picks one.
        QCOMPARE(listed(), QStringList({"100", "25"}));
        QCOMPARE(Nad()->currentText(), QString());
        QCOMPARE(Colour("imOrvel"), QStringLiteral("GREY"));
        QCOMPARE(Text("lblInfoSerial"), QString());
        QVERIFY(!OperationsEnabled());
    }

    // The unit answers the ping and its identification to anyone; the headers only to
    // frames that carry its password code.
    void passwordGoesOutWithEveryFrame()
    {
        const uint16_t code = TextChecksum(QStringLiteral("bench-7"), 0);
        TSimControllerConfig config = Unit(77, 3);
        config.PasswordCode = code;
        TSimController& unit = FSim->AddController(config);
        StartSimulator();

        Nad()->setEditText(QStringLiteral("77"));
        Settle();
        QCOMPARE(Text("lblInfoSerial"), QStringLiteral("77"));
        QCOMPARE(Text("lblInfoKernelVersion"), QStringLiteral("-"));

        TfmPassword dialog;
        FWindow->SetDialogs(nullptr, &dialog, nullptr);
        QTimer::singleShot(0, &dialog, [&dialog] {
            dialog.findChild<QLineEdit*>(QStringLiteral("edPassword"))->setText(QStringLiteral("bench-7"));
            QTest::mouseClick(dialog.findChild<QPushButton*>(QStringLiteral("btnOK")), Qt::LeftButton);
        });
        QTest::mouseClick(Find<QPushButton>("btnPassword"), Qt::LeftButton);
        const qsizetype before = unit.ReceivedFrames.size();
        Find<QAbstractButton>("btnRefresh")->click();
        Settle();

        QCOMPARE(Colour("imOrvel"), QStringLiteral("GREEN"));
        QCOMPARE(Text("lblInfoKernelVersion"), QStringLiteral("3.1.7"));
        QCOMPARE(LogLines(), QStringList({"connected"}));
        const QList<QByteArray> frames = unit.ReceivedFrames.mid(before);
        QVERIFY(!frames.isEmpty());
        for (const QByteArray& frame : frames)   // the code sits just before the checksum
            QCOMPARE(qFromLittleEndian<uint16_t>(frame.constData() + frame.size() - 4), code);
    }

    // The window's thread is free while the runner connects, so the keys typed after the
    // first one arrive while the connection to NAD 1 waits for an answer that never comes.
    void typedNadEndsConnectedToTheWholeNumber()
    {
        FSim->AddController(Unit(1234, 3));
        StartSimulator();
        QTimer::singleShot(0, Nad(), [this] { QTest::keyClicks(Nad(), QStringLiteral("234")); });
        QTest::keyClicks(Nad(), QStringLiteral("1"));
        Settle();

        QCOMPARE(Nad()->currentText(), QStringLiteral("1234"));
        QCOMPARE(FWindow->SessionState.Nad, 1234);
        // The connection to NAD 1 let go of the socket when it gave way; it was bound again.
        QCOMPARE(FWindow->SessionState.LocalIP, QStringLiteral("127.0.0.1"));
        QCOMPARE(Colour("imOrvel"), QStringLiteral("GREEN"));
        QCOMPARE(Text("lblInfoSerial"), QStringLiteral("1234"));
        QCOMPARE(Text("lblInfoPlatform"), QStringLiteral("Orvel/ARM"));
        QCOMPARE(LogLines(), QStringList({"connected"}));
        QVERIFY(OperationsEnabled());
    }

    QString ProductionLogPath() const { return FDir.filePath(QStringLiteral("OrvelBinLoader.log")); }

    static QString DataFolder() { return QFileInfo(TRecordStore::DefaultPath()).path(); }

    // A fresh unit, files for a kernel and a program, every production box ticked: what
    // the Send button needs for a whole production run.
    TSimController& PrepareProductionRun(const QByteArray& kernel, const QByteArray& program)
    {
        TSimControllerConfig fresh = Unit(0xFFFFFFFF, 3);
        fresh.Program.clear();
        TSimController& unit = FSim->AddController(fresh);
        StartSimulator();
        const QString kernelPath = WriteFile(QStringLiteral("kernel.bin"), kernel);
        const QString programPath = WriteFile(QStringLiteral("program.bin"), program);

        Find<QAbstractButton>("ckNadNotAssigned")->click();
        Settle();
        for (const char* box :
             {"ckSerialNumber", "ckAutoincrement", "ckKernel", "ckPLCProgram", "ckStartPLC", "ckSetRTC"})
            Find<QAbstractButton>(box)->setChecked(true);
        Find<QLineEdit>("edSerialNumber")->setText(QStringLiteral("1000"));
        Find<QLineEdit>("leKernelBinary")->setText(kernelPath);
        Find<QLineEdit>("leTamixBinary")->setText(programPath);
        Settle();
        FWindow->alActionsUpdate();   // the idle update enables Send for the connected unit
        return unit;
    }

    QString WriteFile(const QString& name, const QByteArray& bytes)
    {
        const QString path = FDir.filePath(name);
        QFile file(path);
        if (file.open(QIODevice::WriteOnly))
            file.write(bytes);
        return path;
    }

    QStringList ProductionLogLines() const
    {
        QFile log(ProductionLogPath());
        if (!log.open(QIODevice::ReadOnly))
            return {};
        return QString::fromLatin1(log.readAll()).split(u'\n', Qt::SkipEmptyParts);
    }

    // Runs action once, in the middle of the operation, when the log shows line.
    void WhenLogShows(const QString& line, const std::function<void()>& action)
    {
        auto* log = Find<QPlainTextEdit>("meStatus");
        auto done = std::make_shared<bool>(false);
        connect(log, &QPlainTextEdit::textChanged, FWindow.get(), [this, line, action, done] {
            if (*done || !LogLines().endsWith(line))
                return;
            *done = true;
            action();
        });
    }

    void productionRunThroughTheSendButton()
    {
        const QByteArray kernel = SampleKernel(3, 32 * 1024);
        const QByteArray program = SampleProgram(20 * 1024);
        TSimController& unit = PrepareProductionRun(kernel, program);
        QCOMPARE(Text("lblInfoSerial"), QStringLiteral("none"));
        QVERIFY(OperationsEnabled());

        Find<QAbstractButton>("btnSend")->click();
        Settle();

        QCOMPARE(LogLines(), QStringList({"starting loader", "erasing flash", "sending kernel", "starting kernel",
                                          "erasing flash", "sending plc program", "sent successfully",
                                          "starting plc program", "command executed successfully",
                                          "writing real-time clock", "command executed successfully", "connected"}));
        QVERIFY(FErrors.isEmpty());
        const QStringList logLines = ProductionLogLines();
        QCOMPARE(logLines.size(), 1);
        QVERIFY2(logLines[0].contains(QStringLiteral("serial 000001000 ok")), qPrintable(logLines[0]));

        QCOMPARE(unit.Serial(), 1000u);
        QVERIFY(unit.HoldsValidProgram());
        QCOMPARE(unit.Memory(0x20000 + 16, uint32_t(program.size() - 16)), program.mid(16));
        QCOMPARE(unit.PlcState, uint8_t(2));

        // The window reconnects under the new number and offers the next one.
        QCOMPARE(FWindow->SessionState.Nad, 1000);
        QCOMPARE(Colour("imOrvel"), QStringLiteral("GREEN"));
        QCOMPARE(Text("lblInfoSerial"), QStringLiteral("1000"));
        QCOMPARE(Text("lblInfoKernelVersion"), QStringLiteral("3.1.7"));
        QCOMPARE(Find<QLineEdit>("edSerialNumber")->text(), QStringLiteral("1001"));
        QVERIFY(OperationsEnabled());
    }

    // A station gave numbers meanwhile: the window gives the next number the station left,
    // shows it and says so, and on closing never sets the stored number back.
    void autoincrementGoesOnAfterNumbersGivenElsewhere()
    {
        TSimController& unit = PrepareProductionRun(SampleKernel(3, 16 * 1024), SampleProgram(4 * 1024));
        StoreNextSerialAtLeast(1500);

        Find<QAbstractButton>("btnSend")->click();
        Settle();

        QCOMPARE(unit.Serial(), 1500u);
        QVERIFY2(LogLines().contains(QStringLiteral("serial number 1500 given instead of 1000: the numbers "
                                                    "below it were given already")),
                 qPrintable(LogLines().join(u'\n')));
        QCOMPARE(Find<QLineEdit>("edSerialNumber")->text(), QStringLiteral("1501"));
        Find<QLineEdit>("edSerialNumber")->setText(QStringLiteral("7"));
        FWindow.reset();
        QCOMPARE(LoadStoredNextSerial(), 1501);
    }

    // A station in another process gave 1000 by --serial and entered it in the default store;
    // the stored counter still says 1000. The window must not write 1000 into a second unit.
    void autoincrementPassesOverANumberTheStoreKnowsAsGiven()
    {
        TSimController& unit = PrepareProductionRun(SampleKernel(3, 16 * 1024), SampleProgram(4 * 1024));
        StoreNextSerialAtLeast(1000);
        {
            TRecordStore store;
            QString error;
            QVERIFY2(store.Open(QString(), error), qPrintable(error));
            QVERIFY2(store.ClaimSerial(1000, QStringLiteral("--serial"), QStringLiteral("other"), error),
                     qPrintable(error));
        }

        Find<QAbstractButton>("btnSend")->click();
        Settle();

        QVERIFY2(unit.Serial() != 1000u, qPrintable(LogLines().join(u'\n')));
    }

    // In the middle of a send the operator (or the program) changes the program file, tries
    // a Save button and types a setting: none of it reaches the send, which ends with the
    // bytes it started with and its log line; the inputs were locked meanwhile.
    void inputDuringASendDoesNotReachIt()
    {
        const QByteArray kernel = SampleKernel(3, 16 * 1024);
        const QByteArray program = SampleProgram(8 * 1024);
        TSimController& unit = PrepareProductionRun(kernel, program);
        const QString otherProgram = WriteFile(QStringLiteral("other.bin"), SampleProgram(30 * 1024));
        QStringList saveAsked;
        FWindow->SaveFileName = [&saveAsked](const QString& name) {
            saveAsked << name;
            return QString();
        };
        QStringList locked;
        WhenLogShows(QStringLiteral("sending plc program"), [&] {
            for (const char* input : {"leTamixBinary", "btnBrowseTamix", "btnSaveKernel", "btnSaveProgram",
                                      "edNADAlias", "ckSetNadAlias", "edSerialNumber", "btnSend", "cbNAD"})
                if (!Find<QWidget>(input)->isEnabled())
                    locked << QLatin1String(input);
            Find<QLineEdit>("leTamixBinary")->setText(otherProgram);
            QTest::mouseClick(Find<QAbstractButton>("btnSaveKernel"), Qt::LeftButton);
            Find<QAbstractButton>("btnSaveProgram")->click();
            QTest::mouseClick(Find<QAbstractButton>("ckSetNadAlias"), Qt::LeftButton);
            QTest::keyClicks(Find<QLineEdit>("edNADAlias"), QStringLiteral("77"));
        });

        Find<QAbstractButton>("btnSend")->click();
        Settle();

        QCOMPARE(locked.size(), 9);
        QVERIFY(saveAsked.isEmpty());
        QVERIFY(LogLines().contains(QStringLiteral("sent successfully")));
        QCOMPARE(ProductionLogLines().size(), 1);
        QCOMPARE(unit.Memory(0x20000 + 16, uint32_t(program.size() - 16)), program.mid(16));
        QVERIFY(unit.HoldsValidProgram());
        QVERIFY(!Find<QAbstractButton>("ckSetNadAlias")->isChecked());
        QCOMPARE(Find<QLineEdit>("edNADAlias")->text(), QString());
        // Afterwards the window is usable again, with the program file changed meanwhile.
        QVERIFY(OperationsEnabled());
        QVERIFY(Find<QWidget>("leTamixBinary")->isEnabled());
        QCOMPARE(Colour("imTamix"), QStringLiteral("GREEN"));
    }

    // Closing during a send keeps the window up until the unit is complete, then it closes
    // by itself.
    void closeDuringASendWaitsForIt()
    {
        const QByteArray kernel = SampleKernel(3, 16 * 1024);
        const QByteArray program = SampleProgram(8 * 1024);
        TSimController& unit = PrepareProductionRun(kernel, program);
        FWindow->show();
        bool visibleAfterClose = false;
        WhenLogShows(QStringLiteral("sending kernel"), [&] {
            QVERIFY(!FWindow->close());
            visibleAfterClose = FWindow->isVisible();
        });

        Find<QAbstractButton>("btnSend")->click();
        Settle();

        QVERIFY(visibleAfterClose);
        QVERIFY(LogLines().contains(QStringLiteral("the window closes when the operation has ended")));
        QVERIFY(LogLines().contains(QStringLiteral("sent successfully")));
        QCOMPARE(ProductionLogLines().size(), 1);
        QVERIFY(unit.HoldsValidProgram());
        QVERIFY(!FWindow->isVisible());
    }

    // Closing while a connection waits for a unit that never answers: a connection writes
    // nothing, so its wait is cut short and the window closes long before the attempts would
    // have run out (eight of half a second).
    void closeDuringAConnectionEndsIt()
    {
        FSim->AddController(Unit(5000, 3));
        StartSimulator();
        FWindow->show();
        Nad()->setEditText(QStringLiteral("4242"));
        QElapsedTimer clock;
        clock.start();
        QVERIFY(!FWindow->close());
        QTRY_VERIFY_WITH_TIMEOUT(!FWindow->isVisible(), 10000);
        QVERIFY2(clock.elapsed() < 3000, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(LogLines(), QStringList());
    }

    // The record of a send names the recipe opened in the window while the controls show it
    // and the files sent are the recipe's as pinned; a file chosen after it is not the
    // recipe's.
    void sendNamesTheOpenedRecipeWhileItsFilesAreSent_data()
    {
        QTest::addColumn<bool>("kernelChosenAfter");
        QTest::addColumn<QString>("recipe");
        QTest::newRow("files as pinned") << false << QStringLiteral("release 3.1");
        QTest::newRow("kernel chosen after") << true << QString();
    }
    void sendNamesTheOpenedRecipeWhileItsFilesAreSent()
    {
        QFETCH(bool, kernelChosenAfter);
        QFETCH(QString, recipe);
        PrepareProductionRun(SampleKernel(3, 16 * 1024), SampleProgram(8 * 1024));
        TRecipe saved;
        QString error;
        QVERIFY(SaveAndOpenShownRecipe(false, saved));
        if (kernelChosenAfter) {
            QByteArray other = SampleKernel(3, 16 * 1024);
            other[other.size() - 1] = char(other.back() ^ 0x5A);
            Find<QLineEdit>("leKernelBinary")->setText(WriteFile(QStringLiteral("other-kernel.bin"), other));
        }
        Settle();
        FWindow->alActionsUpdate();

        Find<QAbstractButton>("btnSend")->click();
        Settle();

        TRecordStore store;
        QVERIFY2(store.Open(QString(), error), qPrintable(error));
        QList<TStoredRecord> stored;
        QVERIFY2(store.Query({}, stored, error), qPrintable(error));
        const QList<QJsonObject> records = StoredRecordsJson(stored);
        QCOMPARE(records.size(), 1);
        QCOMPARE(records[0].value(QStringLiteral("outcome")).toString(), QStringLiteral("ok"));
        QCOMPARE(records[0].value(QStringLiteral("recipe")).toString(), recipe);
    }

    // The recipe opened in the window, the controls left as it set them, and its kernel file
    // changed on disk after: the window's own Send refuses it in words before the unit is
    // touched, as the station does, instead of sending the changed file without a word.
    void sendOfTheShownRecipeWhoseFileChangedIsRefused()
    {
        const QByteArray kernel = SampleKernel(3, 16 * 1024);
        PrepareProductionRun(kernel, SampleProgram(8 * 1024));
        TRecipe saved;
        QString error;
        QVERIFY(SaveAndOpenShownRecipe(false, saved));
        QByteArray changed = kernel;
        changed[changed.size() - 1] = char(changed.back() ^ 0x5A);
        WriteFile(QStringLiteral("kernel.bin"), changed);
        Settle();
        FWindow->alActionsUpdate();

        Find<QAbstractButton>("btnSend")->click();
        Settle();

        const QString said = (LogLines() + FErrors).join(u'\n');
        QVERIFY2(said.contains(QLatin1String("kernel file changed since the recipe was saved")), qPrintable(said));
        // The unit held a kernel of its own before: that nothing was sent shows in the log.
        QVERIFY2(!LogLines().contains(QStringLiteral("sending kernel")),
                 "the changed kernel was sent while the window showed the recipe");
    }

    // The kernel was loaded while its file held an older build; the file then became the
    // release a recipe was saved of, and the operator opens that recipe, whose kernel path is
    // the one in the box already. The window's Send checks the file on disk against the
    // recipe: it must then send those bytes, not the older ones it loaded before, or refuse.
    void sendOfTheShownRecipeSendsTheBytesItChecked()
    {
        QByteArray older = SampleKernel(3, 16 * 1024);
        older[older.size() - 1] = char(older.back() ^ 0x5A);
        TSimController& unit = PrepareProductionRun(older, SampleProgram(8 * 1024));
        const QByteArray release = SampleKernel(3, 16 * 1024);
        WriteFile(QStringLiteral("kernel.bin"), release);
        TRecipe saved;
        QString error;
        QVERIFY(SaveAndOpenShownRecipe(false, saved));
        Settle();
        FWindow->alActionsUpdate();

        Find<QAbstractButton>("btnSend")->click();
        Settle();

        const bool sent = LogLines().contains(QStringLiteral("sent successfully"));
        QVERIFY2(!sent || unit.Memory(0x10000 + uint32_t(release.size()) - 1024, 1024) == release.right(1024),
                 "the window sent the kernel it had loaded before, not the recipe's it checked");
    }

    // A recipe that verifies after send, opened in the window: the window's own Send does not
    // verify, so its record must not name the recipe (or the send must verify as the recipe
    // says).
    void sendNamesARecipeThatVerifiesOnlyWhenItVerified()
    {
        PrepareProductionRun(SampleKernel(3, 16 * 1024), SampleProgram(8 * 1024));
        TRecipe saved;
        QString error;
        QVERIFY(SaveAndOpenShownRecipe(true, saved));
        Settle();
        FWindow->alActionsUpdate();

        Find<QAbstractButton>("btnSend")->click();
        Settle();

        TRecordStore store;
        QVERIFY2(store.Open(QString(), error), qPrintable(error));
        QList<TStoredRecord> stored;
        QVERIFY2(store.Query({}, stored, error), qPrintable(error));
        const QList<QJsonObject> records = StoredRecordsJson(stored);
        QCOMPARE(records.size(), 1);
        QCOMPARE(records[0].value(QStringLiteral("outcome")).toString(), QStringLiteral("ok"));
        const QString verify =
            records[0].value(QStringLiteral("steps")).toObject().value(QStringLiteral("verify")).toString();
        QVERIFY2(records[0].value(QStringLiteral("recipe")).toString().isEmpty() || verify != QStringLiteral("---"),
                 qPrintable(QStringLiteral("recorded as the recipe's, verify step: ") + verify));
    }

    // A unit that falls silent after it took its number and its kernel: its record in the
    // default store says so, step by step, with the hash of the kernel it holds.
    void sendLeavesItsUnitsRecordEvenWhenItFails()
    {
        const QByteArray kernel = SampleKernel(3, 16 * 1024);
        TSimController& unit = PrepareProductionRun(kernel, SampleProgram(8 * 1024));
        FWindow->LinkOptions.Timeout = 50;
        FWindow->LinkOptions.Attempts = 2;
        // Gone after the serial number's block, the kernel's and two of the program's.
        TSimFaults gone;
        gone.VanishAfterWrites = 1 + kernel.size() / 256 + 2;
        unit.SetFaults(gone);

        Find<QAbstractButton>("btnSend")->click();
        Settle();

        QVERIFY(FErrors.isEmpty());
        TRecordStore store;
        QString error;
        QVERIFY2(store.Open(QString(), error), qPrintable(error));
        QList<TStoredRecord> stored;
        QVERIFY2(store.Query({}, stored, error), qPrintable(error));
        const QList<QJsonObject> records = StoredRecordsJson(stored);
        QCOMPARE(records.size(), 1);
        const QJsonObject& record = records[0];
        const QJsonObject steps = record.value(QStringLiteral("steps")).toObject();
        QCOMPARE(record.value(QStringLiteral("unit")).toString(), unit.Address);
        QCOMPARE(record.value(QStringLiteral("station")).toString(), QSysInfo::machineHostName());
        QCOMPARE(record.value(QStringLiteral("outcome")).toString(), QStringLiteral("failed"));
        QCOMPARE(record.value(QStringLiteral("serial")).toInt(), 1000);
        QCOMPARE(steps.value(QStringLiteral("serial")).toString(), QStringLiteral("ok"));
        QCOMPARE(steps.value(QStringLiteral("kernel")).toString(), QStringLiteral("ok"));
        QCOMPARE(steps.value(QStringLiteral("program")).toString(), QStringLiteral("err"));
        QCOMPARE(record.value(QStringLiteral("kernelSha256")).toString(),
                 QString::fromLatin1(
                     QCryptographicHash::hash(unit.Memory(0x10000, uint32_t(kernel.size())), QCryptographicHash::Sha256)
                         .toHex()));
        QVERIFY(record.value(QStringLiteral("message")).toString().startsWith(QStringLiteral("error")));
        QVERIFY(record.value(QStringLiteral("resent")).toInt() > 0);
        QCOMPARE(ProductionLogLines().size(), 1);   // the text log as it always was
    }

    // The unit vanished in the middle of its send; the send has ended (failed, its record
    // kept) and the window now reconnects to a unit that no longer answers. A close then
    // writes nothing that could be cut off: like any connection to a silent unit, it is
    // cut short and the window closes long before the attempts would have run out.
    void closeWhileReconnectingAfterAFailedSendEndsIt()
    {
        const QByteArray kernel = SampleKernel(3, 16 * 1024);
        TSimController& unit = PrepareProductionRun(kernel, SampleProgram(8 * 1024));
        FWindow->LinkOptions.Timeout = 500;
        FWindow->LinkOptions.Attempts = 8;
        TSimFaults gone;
        gone.VanishAfterWrites = 1 + kernel.size() / 256 + 2;
        unit.SetFaults(gone);
        FWindow->show();
        QElapsedTimer clock;
        connect(FWindow->Runner, &TSessionRunner::Finished, FWindow.get(), [&] {
            clock.start();
            QTimer::singleShot(100, FWindow.get(), [this] { FWindow->close(); });
        });

        Find<QAbstractButton>("btnSend")->click();
        QTRY_VERIFY_WITH_TIMEOUT(clock.isValid(), 60000);
        QTRY_VERIFY_WITH_TIMEOUT(!FWindow->isVisible(), 10000);
        QVERIFY2(clock.elapsed() < 3000, qPrintable(QString::number(clock.elapsed()) + u'\n' + LogLines().join(u'\n')));
        QCOMPARE(ProductionLogLines().size(), 1);
    }

    // The kernel file was built for the other platform: the send refuses it before the unit
    // takes the serial number, so the unit stays fresh and the number stays in the box.
    void kernelOfTheOtherPlatformIsRefusedBeforeTheSerialNumber()
    {
        TSimController& unit = PrepareProductionRun(SampleKernel(2, 16 * 1024), SampleProgram(4 * 1024));

        Find<QAbstractButton>("btnSend")->click();
        Settle();

        QCOMPARE(unit.Serial(), NoSerialNumber);
        QVERIFY2(LogLines().contains(QStringLiteral("error: no valid kernel file")),
                 qPrintable(LogLines().join(u'\n')));
        QCOMPARE(Find<QLineEdit>("edSerialNumber")->text(), QStringLiteral("1000"));
        QCOMPARE(unit.CommandCounts.value(CmdEraseFlash), 0);
    }

    // The fresh ARM unit the window connected to is swapped, before the Send, for a fresh XA
    // unit that answers at the same address: the Send must not write the first unit's
    // loader record and its platform's kernel into the second.
    void sendToAUnitSwappedSinceTheConnectionTouchesNothing()
    {
        TSimController& unit = PrepareProductionRun(SampleKernel(3, 16 * 1024), SampleProgram(4 * 1024));
        TLoaderRecord xa;
        xa.LoaderMajor = 2;
        xa.Serial = NoSerialNumber;
        unit.LoaderRecord = LoaderRecordToBytes(xa);
        unit.Restart();

        Find<QAbstractButton>("btnSend")->click();
        Settle();

        QCOMPARE(LoaderRecordFromBytes(unit.LoaderRecord).LoaderMajor, uint16_t(2));
        QVERIFY2(unit.CommandCounts.value(CmdEraseFlash) == 0, qPrintable(LogLines().join(u'\n')));
    }

    // The operator picks another program file and clicks Send straight away, while the runner
    // still loads the file: the button is enabled, so the click must send (the file just
    // chosen), or at least say why it did not; a click dropped without a word leaves the
    // operator believing the unit was written.
    void sendClickedWhileTheNewFileLoadsIsNotDroppedSilently()
    {
        TSimController& unit = PrepareProductionRun(SampleKernel(3, 16 * 1024), SampleProgram(8 * 1024));
        const QByteArray other = SampleProgram(12 * 1024);
        const QString otherPath = WriteFile(QStringLiteral("other.bin"), other);
        QVERIFY(OperationsEnabled());

        Find<QLineEdit>("leTamixBinary")->setText(otherPath);
        QVERIFY(Find<QAbstractButton>("btnSend")->isEnabled());
        Find<QAbstractButton>("btnSend")->click();
        Settle();

        QVERIFY2(LogLines().contains(QStringLiteral("sent successfully")), qPrintable(LogLines().join(u'\n')));
        QCOMPARE(unit.Memory(0x20000 + 16, uint32_t(other.size() - 16)), other.mid(16));
    }

    // The data folder cannot be made: no store can say whether the serial number was given
    // already, so the unit gets none and nothing else; the attempt's record is kept nowhere,
    // and the operator is told.
    void recordKeptNowhereIsShownToTheOperator()
    {
        QFile blocker(DataFolder());
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        TSimController& unit = PrepareProductionRun(SampleKernel(3, 16 * 1024), SampleProgram(8 * 1024));

        Find<QAbstractButton>("btnSend")->click();
        Settle();

        QCOMPARE(unit.Serial(), NoSerialNumber);
        QCOMPARE(unit.CommandCounts.value(CmdEraseFlash), 0);
        const QStringList lines = LogLines();
        QVERIFY2(std::any_of(lines.cbegin(), lines.cend(),
                             [](const QString& line) {
                                 return line.startsWith(QLatin1String("error: no serial number: record store "));
                             }),
                 qPrintable(lines.join(u'\n')));
        QCOMPARE(FErrors.size(), 1);
        QVERIFY2(FErrors[0].contains(QStringLiteral("could be kept neither in the store")), qPrintable(FErrors[0]));
        QVERIFY(LogLines().contains(QStringLiteral("error: ") + FErrors[0]));
    }
};

QTEST_MAIN(TestConnectedWindow)
#include "tst_fMainConnected.moc"
