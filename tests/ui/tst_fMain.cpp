// The main window offscreen: its controls, its state at start, the input checks with their
// icons, the idle update of the operation buttons, the stored serial number and the
// password. The settings store lives in a temporary folder and the host's adapter table is
// made up (the loopback adapter only); no test makes the link send.
#include "fMain.h"
#include "fPassword.h"
#include "IconColour.h"
#include "LoopbackAdapter.h"
#include "uABus.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUdpSocket>

#include <memory>

namespace {

QSettings StoredSettings()
{
    return QSettings(QStringLiteral("Maradine"), QStringLiteral("OrvelBinLoader"));
}

}   // namespace

class TestMainWindow : public QObject {
    Q_OBJECT

private:
    template <typename T>
    T* Find(const char* name) const
    {
        return FWindow->findChild<T*>(QLatin1String(name));
    }
    QLabel* Icon(const char* name) const { return Find<QLabel>(name); }
    void Check(const char* box, bool on) const { Find<QAbstractButton>(box)->setChecked(on); }
    void Type(const char* edit, const QString& text) const { Find<QLineEdit>(edit)->setText(text); }

    void NewWindow()
    {
        FWindow.reset();   // its end stores the serial number, as the program's end does
        FWindow = std::make_unique<TfmMain>();
        FWindow->ErrorMessage = [this](const QString& text) { FErrors.append(text); };
    }

    // The password dialog, answered by the "operator" once it is up.
    void AnswerPassword(TfmPassword& dialog, const QString& typed, bool ok, QString* shown)
    {
        QTimer::singleShot(0, &dialog, [&dialog, typed, ok, shown] {
            auto* edit = dialog.findChild<QLineEdit*>(QStringLiteral("edPassword"));
            *shown = edit->text();
            edit->setText(typed);
            QTest::mouseClick(dialog.findChild<QPushButton*>(ok ? QStringLiteral("btnOK")
                                                                : QStringLiteral("btnCancel")),
                              Qt::LeftButton);
        });
        QTest::mouseClick(Find<QPushButton>("btnPassword"), Qt::LeftButton);
    }

    TLoopbackAdapter FLoopback;   // the host's only adapter while the tests run
    QTemporaryDir FSettingsFolder;
    std::unique_ptr<TfmMain> FWindow;
    QStringList FErrors;

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(FSettingsFolder.isValid());
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, FSettingsFolder.path());
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, FSettingsFolder.path());
    }

    void init()
    {
        StoredSettings().clear();   // every test starts as the first run on an account
        FErrors.clear();
        NewWindow();
    }

    void cleanup() { FWindow.reset(); }

    void controls_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("caption");   // null: the control has none
        const QList<std::pair<const char*, const char*>> rows = {
            {"gbInformation", "Information"},
            {"gbConfiguration", "Configuration"},
            {"gbStatus", "Status"},
            {"lblCaptionPlatform", "Platform:"},
            {"lblCaptionPLCStatus", "PLC status:"},
            {"lblCaptionIPAddress", "IP address:"},
            {"lblCaptionLoaderVersion", "Loader version:"},
            {"lblCaptionSerial", "Serial number:"},
            {"lblCaptionKernelVersion", "Kernel version:"},
            {"lblCaptionNADAlias", "NAD alias:"},
            {"lblCaptionHardwareModel", "Hardware model:"},
            {"lblCaptionIEXBaudrate", "IEX baudrate:"},
            {"lblCaptionKernelTransferDate", "Transfer date:"},
            {"lblCaptionPLCProgram", "PLC program:"},
            {"lblCaptionFileSystem", "File system:"},
            {"lblCaptionPLCProgramTransferDate", "Transfer date:"},
            {"lblCaptionModbusAddress", "Modbus address:"},
            {"lblEthAdapter", "Network adapter:"},
            {"cbEthAdapter", ""},
            {"imEthernet", ""},
            {"ckDirectConnection", "&Direct connection"},
            {"btnPassword", "Password"},
            {"lblOrvelNad", "Orvel NAD:"},
            {"cbNAD", ""},
            {"ckNadNotAssigned", "No serial number"},
            {"imOrvel", ""},
            {"ckSerialNumber", "Serial number:"},
            {"edSerialNumber", ""},
            {"ckAutoincrement", "Autoincrement"},
            {"ckKernel", "Kernel"},
            {"leKernelBinary", ""},
            {"btnBrowseKernel", "&Browse"},
            {"imKernel", ""},
            {"ckPLCProgram", "PLC program"},
            {"leTamixBinary", ""},
            {"btnBrowseTamix", "&Browse"},
            {"imTamix", ""},
            {"ckStartPLC", "Start PLC"},
            {"ckSetRTC", "Set RTC"},
            {"ckSetNadAlias", "NAD alias:"},
            {"edNADAlias", ""},
            {"imNADAlias", ""},
            {"ckSetHardwareModel", "Hardware model:"},
            {"cbHardwareModel", ""},
            {"ckSetIEXBaudRate", "IEX baudrate:"},
            {"cbIEXBaudRate", ""},
            {"ckSetIPAddress", "IP address:"},
            {"rbDHCP", "DHCP"},
            {"rbStaticIP", "Static"},
            {"lblIPAddress", "IP address:"},
            {"edIPAddress", ""},
            {"imIPAddress", ""},
            {"lblSubnetMask", "Subnet mask:"},
            {"edSubnetMask", ""},
            {"imSubnetMask", ""},
            {"lblGateway", "Gateway:"},
            {"edGateway", ""},
            {"imGateway", ""},
            {"lblDNSServer", "DNS server:"},
            {"edDNSServer", ""},
            {"imDNSServer", ""},
            {"lblCurrent", "Current:"},
            {"pbCurrent", ""},
            {"lblTotal", "Total:"},
            {"pbTotal", ""},
            {"lblLog", "Log:"},
            {"meStatus", ""},
            {"imVerifyConfig", ""},
            {"lblVerifyConfig", "config"},
            {"imVerifyKernel", ""},
            {"lblVerifyKernel", "kernel"},
            {"imVerifyPLCProgram", ""},
            {"lblVerifyPLCProgram", "program"},
            {"pnlHeader", ""},
            {"imLogo", ""},
            {"pnlSeparator", ""},
            {"pnlFooter", ""},
            {"btnRefresh", "&Refresh"},
            {"btnSend", "&Send"},
            {"btnVerify", "&Verify"},
            {"btnStart", "S&tart PLC"},
            {"btnStop", "Sto&p PLC"},
            {"btnSaveKernel", "Save"},
            {"btnSaveProgram", "Save"},
            {"btnHelp", "&Help"},
            {"btnAbout", "&About"},
            {"btnClose", "&Close"},
            {"acSend", "&Send"},
            {"acVerify", "&Verify"},
            {"acStart", "S&tart PLC"},
            {"acStop", "Sto&p PLC"},
            {"acSaveKernel", "Save"},
            {"acSaveProgram", "Save"},
            {"acClose", "&Close"},
            {"acHelp", "&Help"},
            {"acAbout", "&About"},
        };
        for (const auto& [name, caption] : rows)
            QTest::newRow(name) << QString::fromLatin1(name) << (*caption ? QString::fromUtf8(caption) : QString());
    }

    void controls()
    {
        QFETCH(QString, name);
        QFETCH(QString, caption);
        const QObject* control = FWindow->findChild<QObject*>(name);
        QVERIFY2(control, qPrintable(name));
        if (caption.isNull())
            return;
        const QVariant title = control->property("title");
        QCOMPARE((title.isValid() ? title : control->property("text")).toString(), caption);
    }

    void hints_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("toolTip");
        QTest::addColumn<QString>("statusTip");
        // The settings boxes keep their hints out of tooltips.
        QTest::newRow("ckSerialNumber") << "ckSerialNumber"
                                        << ""
                                        << "Set serial number";
        QTest::newRow("ckKernel") << "ckKernel"
                                  << ""
                                  << "Write kernel";
        QTest::newRow("ckPLCProgram") << "ckPLCProgram"
                                      << ""
                                      << "Write plc program";
        QTest::newRow("ckStartPLC") << "ckStartPLC"
                                    << ""
                                    << "Start PLC";
        QTest::newRow("ckSetRTC") << "ckSetRTC"
                                  << ""
                                  << "Set real-time clock";
        QTest::newRow("ckNadNotAssigned") << "ckNadNotAssigned"
                                          << "Use for production, when serial number is not assigned yet"
                                          << "";
        QTest::newRow("btnSaveKernel") << "btnSaveKernel"
                                       << "Kernel memory dump from plc"
                                       << "Kernel memory dump from plc";
        QTest::newRow("btnSaveProgram") << "btnSaveProgram"
                                        << "Program memory dump from plc"
                                        << "Program memory dump from plc";
        QTest::newRow("cbEthAdapter") << "cbEthAdapter"
                                      << "Loopback (127.0.0.1)"
                                      << "";
    }

    void hints()
    {
        QFETCH(QString, name);
        QFETCH(QString, toolTip);
        QFETCH(QString, statusTip);
        const auto* control = FWindow->findChild<QWidget*>(name);
        QVERIFY(control);
        QCOMPARE(control->toolTip(), toolTip);
        QCOMPARE(control->statusTip(), statusTip);
    }

    void startUp()
    {
        QCOMPARE(FWindow->windowTitle(), QStringLiteral("OrvelBinLoader v3.0.6"));
        QCOMPARE(FWindow->minimumSize(), QSize(861, 650));
        QCOMPARE(FWindow->maximumSize(), QSize(861, 650));
        QVERIFY(FWindow->ParametersValid);
        QCOMPARE(FWindow->Password, QString());
        QCOMPARE(FWindow->LinkOptions.PasswordCode, uint16_t(0));
        // Nothing was sent: a socket that sent would have been bound on the way.
        QTRY_VERIFY(!FWindow->Runner->Busy());
        QCOMPARE(FWindow->SessionState.BoundPort, 0);

        for (const char* icon :
             {"imEthernet", "imOrvel", "imKernel", "imTamix", "imNADAlias", "imIPAddress", "imSubnetMask", "imGateway",
              "imDNSServer", "imVerifyConfig", "imVerifyKernel", "imVerifyPLCProgram"})
            QVERIFY2(IconColour(Icon(icon)) == QLatin1String("GREY"), icon);
        for (const char* button : {"btnSend", "btnVerify", "btnStart", "btnStop", "btnSaveKernel", "btnSaveProgram"})
            QVERIFY2(!Find<QWidget>(button)->isEnabled(), button);
        for (const char* button : {"btnRefresh", "btnHelp", "btnAbout", "btnClose"})
            QVERIFY2(Find<QWidget>(button)->isEnabled(), button);
        for (const char* input :
             {"edSerialNumber", "ckAutoincrement", "leKernelBinary", "btnBrowseKernel", "leTamixBinary",
              "btnBrowseTamix", "edNADAlias", "cbHardwareModel", "cbIEXBaudRate", "rbDHCP", "rbStaticIP", "edIPAddress",
              "lblIPAddress", "edSubnetMask", "edGateway", "edDNSServer", "lblDNSServer"})
            QVERIFY2(!Find<QWidget>(input)->isEnabled(), input);

        QVERIFY(Find<QRadioButton>("rbDHCP")->isChecked());
        QCOMPARE(Find<QComboBox>("cbHardwareModel")->currentIndex(), -1);
        QCOMPARE(Find<QComboBox>("cbIEXBaudRate")->currentIndex(), -1);
        QCOMPARE(Find<QLineEdit>("edSerialNumber")->text(), QStringLiteral("0"));   // first run
        QCOMPARE(Find<QComboBox>("cbEthAdapter")->currentText(), QStringLiteral("Loopback (127.0.0.1)"));
        for (const char* value : {"lblInfoPlatform", "lblInfoPLCStatus", "lblInfoIPAddress", "lblInfoLoaderVersion",
                                  "lblInfoSerial", "lblInfoKernelVersion", "lblInfoNADAlias", "lblInfoHardwareModel",
                                  "lblInfoIEXBaudrate", "lblInfoKernelTransferDate", "lblInfoPLCProgram",
                                  "lblInfoFileSystem", "lblInfoPLCProgramTransferDate", "lblInfoModbusAddress"}) {
            QVERIFY2(Find<QLabel>(value), value);
            QVERIFY2(Find<QLabel>(value)->text().isEmpty(), value);   // never the design text
        }
    }

    void operationButtonsFollowConnection_data()
    {
        QTest::addColumn<bool>("connected");
        QTest::addColumn<bool>("identified");
        QTest::addColumn<int>("loaderMajor");
        QTest::addColumn<bool>("enabled");
        QTest::newRow("not connected") << false << true << 2 << false;
        QTest::newRow("loader 2") << true << true << 2 << true;
        QTest::newRow("loader 3") << true << true << 3 << true;
        QTest::newRow("old loader 1") << true << true << 1 << false;
        QTest::newRow("old loader 0") << true << true << 0 << false;
        QTest::newRow("not identified") << true << false << 0 << true;
    }

    void operationButtonsFollowConnection()
    {
        QFETCH(bool, connected);
        QFETCH(bool, identified);
        QFETCH(int, loaderMajor);
        QFETCH(bool, enabled);
        TControllerInfo info;
        info.Identified = identified;
        info.Identification.LoaderMajor = uint16_t(loaderMajor);
        FWindow->SessionState.Connected = connected;
        FWindow->SessionState.OldLoader = info.IsOldLoader();
        for (const char* button : {"btnSend", "btnVerify", "btnStart", "btnStop", "btnSaveKernel", "btnSaveProgram"})
            QTRY_COMPARE(Find<QWidget>(button)->isEnabled(), enabled);
    }

    void disabledControlsWaitForTheOperation()
    {
        // Every box ticked, so that each input would be enabled by its box alone.
        for (const char* box : {"ckSerialNumber", "ckKernel", "ckPLCProgram", "ckSetNadAlias", "ckSetHardwareModel",
                                "ckSetIEXBaudRate", "ckSetIPAddress", "rbStaticIP"})
            Check(box, true);
        FWindow->SessionState.Connected = true;
        FWindow->alActionsUpdate();
        FWindow->DisableControls();
        FWindow->alActionsUpdate();
        const char* inputs[] = {"btnSend",        "btnVerify",          "btnStart",        "btnStop",
                                "btnRefresh",     "gbConfiguration",    "btnSaveKernel",   "btnSaveProgram",
                                "ckSerialNumber", "edSerialNumber",     "ckAutoincrement", "ckKernel",
                                "leKernelBinary", "btnBrowseKernel",    "ckPLCProgram",    "leTamixBinary",
                                "btnBrowseTamix", "ckStartPLC",         "ckSetRTC",        "ckSetNadAlias",
                                "edNADAlias",     "ckSetHardwareModel", "cbHardwareModel", "ckSetIEXBaudRate",
                                "cbIEXBaudRate",  "ckSetIPAddress",     "rbDHCP",          "rbStaticIP",
                                "edIPAddress",    "edSubnetMask",       "edGateway",       "edDNSServer"};
        for (const char* control : inputs)
            QVERIFY2(!Find<QWidget>(control)->isEnabled(), control);
        for (const char* control : {"btnHelp", "btnAbout", "btnClose", "gbInformation"})
            QVERIFY2(Find<QWidget>(control)->isEnabled(), control);

        // A box ticked meanwhile (by the program) enables nothing while the operation runs.
        Check("ckStartPLC", true);
        QVERIFY(!Find<QWidget>("ckStartPLC")->isEnabled());

        FWindow->EnableControls();
        FWindow->alActionsUpdate();
        for (const char* control : inputs)
            QVERIFY2(Find<QWidget>(control)->isEnabled(), control);
    }

    void nadAlias_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("valid");
        QTest::newRow("empty means 0") << "" << true;
        QTest::newRow("0") << "0" << true;
        QTest::newRow("largest") << "2147483647" << true;
        QTest::newRow("hexadecimal") << "$7FFFFFFF" << true;
        QTest::newRow("-1") << "-1" << false;
        QTest::newRow("-5") << "-5" << false;
        QTest::newRow("beyond 32 bits signed") << "2147483648" << false;
        QTest::newRow("not a number") << "12ab" << false;
        QTest::newRow("a blank") << " " << false;
    }

    void nadAlias()
    {
        QFETCH(QString, text);
        QFETCH(bool, valid);
        Check("ckSetNadAlias", true);
        Type("edNADAlias", text);
        QCOMPARE(IconColour(Icon("imNADAlias")), valid ? QStringLiteral("GREEN") : QStringLiteral("RED"));
        QCOMPARE(FWindow->ParametersValid, valid);

        Check("ckSetNadAlias", false);
        QCOMPARE(Find<QLineEdit>("edNADAlias")->text(), QString());
        QCOMPARE(IconColour(Icon("imNADAlias")), QStringLiteral("GREY"));
        QVERIFY(FWindow->ParametersValid);
    }

    // Text an operator (or a scanner, or a paste) may put into any field: never a crash,
    // always a refusal the window shows.
    void hostileText_data()
    {
        QTest::addColumn<QString>("edit");
        QTest::addColumn<QString>("icon");   // empty: the serial number box, which has none
        QTest::addColumn<QString>("text");
        const QList<std::pair<QString, QString>> fields = {
            {"edNADAlias", "imNADAlias"}, {"edIPAddress", "imIPAddress"}, {"edSubnetMask", "imSubnetMask"},
            {"edGateway", "imGateway"},   {"edDNSServer", "imDNSServer"}, {"edSerialNumber", ""}};
        const QList<std::pair<const char*, QString>> texts = {{"blank", QStringLiteral("   ")},
                                                              {"overlong", QString(300, QLatin1Char('9'))},
                                                              {"non-ASCII digits",
                                                               QStringLiteral("\uFF11\uFF12.\uFF13.\uFF14.5")},
                                                              {"non-ASCII letters",
                                                               QStringLiteral("\u00FC\u00DF\u4E2D")},
                                                              {"out of range", QStringLiteral("99999999999999999999")},
                                                              {"groups out of range", QStringLiteral("256.300.999.1")}};
        for (const auto& [edit, icon] : fields)
            for (const auto& [name, text] : texts)
                QTest::newRow(qPrintable(edit + QLatin1Char(' ') + QLatin1String(name))) << edit << icon << text;
    }

    void hostileText()
    {
        QFETCH(QString, edit);
        QFETCH(QString, icon);
        QFETCH(QString, text);
        Check("ckSerialNumber", true);
        Check("ckSetNadAlias", true);
        Check("ckSetIPAddress", true);
        Check("rbStaticIP", true);
        // Every other field valid, so that only the hostile text can make the settings invalid.
        const QList<std::pair<const char*, const char*>> valid = {
            {"edSerialNumber", "1000"},        {"edNADAlias", "5"},          {"edIPAddress", "192.168.1.20"},
            {"edSubnetMask", "255.255.255.0"}, {"edGateway", "192.168.1.1"}, {"edDNSServer", "8.8.8.8"}};
        for (const auto& [field, fieldText] : valid)
            Type(field, QLatin1String(fieldText));
        QVERIFY(FWindow->ParametersValid);
        Type(qPrintable(edit), text);
        if (icon.isEmpty()) {
            QCOMPARE(FWindow->SerialNumber, -1);
            return;
        }
        QCOMPARE(IconColour(Icon(qPrintable(icon))), QStringLiteral("RED"));
        QVERIFY(!FWindow->ParametersValid);
    }

    // A typed model must name an item, in any case, or the settings are invalid: a model
    // that named nothing used to be ignored while the send rewrote the kernel.
    void hardwareModelText_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("index");   // the item the operation takes, -1: invalid
        QTest::newRow("item") << "Orvel-K" << 1;
        QTest::newRow("other case") << "orvel-l" << 2;
        QTest::newRow("names no item") << "orvel-x" << -1;
        QTest::newRow("part of an item") << "Orvel" << -1;
        QTest::newRow("empty") << "" << -1;
    }

    void hardwareModelText()
    {
        QFETCH(QString, text);
        QFETCH(int, index);
        Check("ckSetHardwareModel", true);
        Find<QComboBox>("cbHardwareModel")->setCurrentIndex(0);   // an earlier pick must not count
        Find<QComboBox>("cbHardwareModel")->setEditText(text);
        QCOMPARE(IconColour(Icon("imHardwareModel")), index >= 0 ? QStringLiteral("GREEN") : QStringLiteral("RED"));
        QCOMPARE(FWindow->ParametersValid, index >= 0);
        QCOMPARE(FWindow->InputsJob().Settings.HardwareModel, index);

        Check("ckSetHardwareModel", false);
        QCOMPARE(IconColour(Icon("imHardwareModel")), QStringLiteral("GREY"));
        QVERIFY(FWindow->ParametersValid);
    }

    void staticIp_data()
    {
        QTest::addColumn<QStringList>("fields");   // address, mask, gateway, DNS server
        QTest::addColumn<QString>("icons");        // G(reen) or R(ed) per field
        QTest::newRow("valid, no gateway")
            << QStringList{"192.168.1.20", "255.255.255.0", "0.0.0.0", "8.8.8.8"} << "GGGG";
        QTest::newRow("mask with a hole")
            << QStringList{"192.168.1.20", "255.255.0.255", "0.0.0.0", "8.8.8.8"} << "GRGG";
        QTest::newRow("no DNS server") << QStringList{"192.168.1.20", "255.255.255.0", "192.168.1.1", ""} << "GGGR";
        QTest::newRow("short address") << QStringList{"192.168.1", "255.255.255.0", "192.168.1.1", "8.8.8.8"} << "RGGG";
        QTest::newRow("all empty") << QStringList{"", "", "", ""} << "RRRR";
    }

    void staticIp()
    {
        QFETCH(QStringList, fields);
        QFETCH(QString, icons);
        Check("ckSetIPAddress", true);
        Check("rbStaticIP", true);
        const char* edits[] = {"edIPAddress", "edSubnetMask", "edGateway", "edDNSServer"};
        const char* iconNames[] = {"imIPAddress", "imSubnetMask", "imGateway", "imDNSServer"};
        for (int i = 0; i < 4; ++i) {
            QVERIFY(Find<QLineEdit>(edits[i])->isEnabled());
            Type(edits[i], fields[i]);
        }
        QString shown;
        for (const char* icon : iconNames)
            shown += IconColour(Icon(icon)).at(0);
        QCOMPARE(shown, icons);
        QCOMPARE(FWindow->ParametersValid, icons == QLatin1String("GGGG"));

        // Back to DHCP: the static settings are gone and count for nothing.
        Check("rbDHCP", true);
        for (int i = 0; i < 4; ++i) {
            QCOMPARE(Find<QLineEdit>(edits[i])->text(), QString());
            QVERIFY(!Find<QLineEdit>(edits[i])->isEnabled());
            QCOMPARE(IconColour(Icon(iconNames[i])), QStringLiteral("GREY"));
        }
        QVERIFY(FWindow->ParametersValid);
    }

    void invalidAliasLeavesIpIconsAlone()
    {
        Check("ckSetIPAddress", true);
        Check("rbStaticIP", true);
        Type("edIPAddress", QStringLiteral("10.0.0.1"));
        QCOMPARE(IconColour(Icon("imIPAddress")), QStringLiteral("GREEN"));
        QCOMPARE(IconColour(Icon("imGateway")), QStringLiteral("RED"));

        Check("ckSetNadAlias", true);
        Type("edNADAlias", QStringLiteral("abc"));
        Type("edGateway", QStringLiteral("10.0.0.254"));
        QCOMPARE(IconColour(Icon("imGateway")), QStringLiteral("RED"));   // not checked again
        QVERIFY(!FWindow->ParametersValid);

        Type("edNADAlias", QStringLiteral("7"));
        QCOMPARE(IconColour(Icon("imGateway")), QStringLiteral("GREEN"));
    }

    void dependentInputs_data()
    {
        QTest::addColumn<QString>("box");
        QTest::addColumn<QStringList>("dependents");
        QTest::addColumn<QString>("fileIcon");   // the row's file icon while ticked, if it has one
        QTest::newRow("serial number") << "ckSerialNumber" << QStringList{"edSerialNumber", "ckAutoincrement"} << "";
        QTest::newRow("kernel") << "ckKernel" << QStringList{"leKernelBinary", "btnBrowseKernel"} << "imKernel";
        QTest::newRow("program") << "ckPLCProgram" << QStringList{"leTamixBinary", "btnBrowseTamix"} << "imTamix";
        QTest::newRow("NAD alias") << "ckSetNadAlias" << QStringList{"edNADAlias"} << "";
        QTest::newRow("hardware model") << "ckSetHardwareModel" << QStringList{"cbHardwareModel"} << "";
        QTest::newRow("IEX baud rate") << "ckSetIEXBaudRate" << QStringList{"cbIEXBaudRate"} << "";
        QTest::newRow("IP address") << "ckSetIPAddress" << QStringList{"rbDHCP", "rbStaticIP"} << "";
    }

    void dependentInputs()
    {
        QFETCH(QString, box);
        QFETCH(QStringList, dependents);
        QFETCH(QString, fileIcon);
        for (bool on : {true, false}) {
            FWindow->ShowVerifyResult(TVerifyCheck::Kernel, true);
            Check(qPrintable(box), on);
            for (const QString& dependent : dependents)
                QCOMPARE(FWindow->findChild<QWidget*>(dependent)->isEnabled(), on);
            // An earlier verify result no longer describes the inputs.
            QCOMPARE(IconColour(Icon("imVerifyKernel")), QStringLiteral("GREY"));
            // A ticked file row without a loaded file is red.
            if (!fileIcon.isEmpty())
                QCOMPARE(IconColour(FWindow->findChild<QLabel*>(fileIcon)),
                         on ? QStringLiteral("RED") : QStringLiteral("GREY"));
        }
    }

    void serialNumberText_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("number");
        QTest::newRow("leading zeros") << "00042" << 42;
        QTest::newRow("empty") << "" << -1;
        QTest::newRow("letters") << "abc" << -1;
        QTest::newRow("leading blanks") << "  7" << 7;
        QTest::newRow("trailing blank") << "7 " << -1;
        QTest::newRow("signs") << "+5" << 5;
        QTest::newRow("negative") << "-12" << -12;
        QTest::newRow("dollar hex") << "$1F" << 31;
        QTest::newRow("x hex") << "x1f" << 31;
        QTest::newRow("0X hex") << "0X1F" << 31;
        QTest::newRow("signed hex") << "-$10" << -16;
        QTest::newRow("prefix only") << "0x" << -1;
        QTest::newRow("largest") << "2147483647" << 2147483647;
        QTest::newRow("smallest") << "-$80000000" << int(-2147483648LL);   // the box takes 10 characters
        QTest::newRow("one too large") << "2147483648" << -1;
        QTest::newRow("hex beyond 31 bits") << "$FFFFFFFF" << -1;
    }

    void serialNumberText()
    {
        QFETCH(QString, text);
        QFETCH(int, number);
        Type("edSerialNumber", QStringLiteral("1"));
        Type("edSerialNumber", text);
        QCOMPARE(FWindow->SerialNumber, number);
        QCOMPARE(FWindow->InputsJob().Serial.Number, number);
    }

    void serialNumberKeptBetweenRuns_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("shownNextTime");
        QTest::newRow("number") << "1234"
                                << "1234";
        // A box without a number leaves the stored number as it was (here: none).
        QTest::newRow("no number") << "abc"
                                   << "0";
    }

    void serialNumberKeptBetweenRuns()
    {
        QFETCH(QString, typed);
        QFETCH(QString, shownNextTime);
        Type("edSerialNumber", typed);
        NewWindow();
        QCOMPARE(Find<QLineEdit>("edSerialNumber")->text(), shownNextTime);
        QCOMPARE(FWindow->SerialNumber, shownNextTime.toInt());
    }

    void storedSerialNumber_data()
    {
        QTest::addColumn<QVariant>("stored");
        QTest::addColumn<QString>("shown");
        QTest::newRow("integer") << QVariant(42) << "42";
        QTest::newRow("integer as text") << QVariant(QStringLiteral("77")) << "77";
        QTest::newRow("negative") << QVariant(-1) << "0";
        QTest::newRow("every number given") << QVariant(QStringLiteral("2147483648")) << "0";
        QTest::newRow("missing") << QVariant() << "0";
        QTest::newRow("text") << QVariant(QStringLiteral("abc")) << "0";
        QTest::newRow("beyond 32 bits") << QVariant(QStringLiteral("4294967296")) << "0";
        QTest::newRow("list") << QVariant(QStringList{"1", "2"}) << "0";
        QTest::newRow("bytes") << QVariant(QByteArray("\x01\x02", 2)) << "0";
    }

    void storedSerialNumber()
    {
        QFETCH(QVariant, stored);
        QFETCH(QString, shown);
        FWindow.reset();
        if (stored.isValid())
            StoredSettings().setValue(QStringLiteral("SerialNumber"), stored);
        else
            StoredSettings().remove(QStringLiteral("SerialNumber"));
        NewWindow();
        QCOMPARE(Find<QLineEdit>("edSerialNumber")->text(), shown);
    }

    // The runner stores an advanced number as it advances it; the window shows it, and
    // stores the box's number when it closes.
    void serialNumberAdvancedIsStored()
    {
        FWindow->SerialNumberAdvanced(5001);
        QCOMPARE(Find<QLineEdit>("edSerialNumber")->text(), QStringLiteral("5001"));
        QCOMPARE(FWindow->SerialNumber, 5001);
        FWindow.reset();
        QCOMPARE(StoredSettings().value(QStringLiteral("SerialNumber")).toInt(), 5001);
    }

    void password()
    {
        TfmPassword dialog(FWindow.get());
        FWindow->SetDialogs(nullptr, &dialog, nullptr);
        QString shown;

        AnswerPassword(dialog, QStringLiteral("abc"), true, &shown);
        QCOMPARE(shown, QString());
        QCOMPARE(FWindow->Password, QStringLiteral("abc"));
        QCOMPARE(FWindow->LinkOptions.PasswordCode, uint16_t(0x7F00));

        AnswerPassword(dialog, QStringLiteral("changed"), false, &shown);
        QCOMPARE(shown, QStringLiteral("abc"));   // the password entered before
        QCOMPARE(FWindow->Password, QStringLiteral("abc"));
        QCOMPARE(FWindow->LinkOptions.PasswordCode, uint16_t(0x7F00));

        AnswerPassword(dialog, QString(), true, &shown);
        QCOMPARE(FWindow->Password, QString());
        QCOMPARE(FWindow->LinkOptions.PasswordCode, uint16_t(0));
    }

    void messageLog()
    {
        FWindow->AddMessage(QStringLiteral("first"));
        FWindow->AddMessage(QStringLiteral("second"));
        const QStringList lines = Find<QPlainTextEdit>("meStatus")->toPlainText().split(u'\n');
        QCOMPARE(lines.size(), 2);
        const QRegularExpression stamp(QStringLiteral("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d: second$"));
        QVERIFY2(stamp.match(lines[1]).hasMatch(), qPrintable(lines[1]));

        FWindow->ShowVerifyResult(TVerifyCheck::Program, false);
        FWindow->ResetStatus();
        QCOMPARE(Find<QPlainTextEdit>("meStatus")->toPlainText(), QString());
        QCOMPARE(IconColour(Icon("imVerifyPLCProgram")), QStringLiteral("GREY"));
    }

    void progressBars_data()
    {
        QTest::addColumn<int>("position");
        QTest::addColumn<int>("maximum");
        QTest::addColumn<int>("shownPosition");
        QTest::addColumn<int>("shownMaximum");
        QTest::newRow("half way") << 150 << 300 << 150 << 300;
        QTest::newRow("nothing to move") << 0 << 0 << 0 << 1;   // not a busy indicator
        QTest::newRow("beyond the end") << 388 << 300 << 300 << 300;
    }

    void progressBars()
    {
        QFETCH(int, position);
        QFETCH(int, maximum);
        QFETCH(int, shownPosition);
        QFETCH(int, shownMaximum);
        FWindow->ShowProgress(position, maximum, position, maximum);
        for (const char* name : {"pbCurrent", "pbTotal"}) {
            const auto* bar = Find<QProgressBar>(name);
            QCOMPARE(bar->maximum(), shownMaximum);
            QCOMPARE(bar->value(), shownPosition);
        }
    }

    void hardwareModelChoice_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("index");
        QTest::newRow("item") << "Orvel-L" << 2;
        QTest::newRow("typed, no item") << "Orvel-X" << -1;
        QTest::newRow("emptied") << "" << -1;
    }

    void hardwareModelChoice()
    {
        QFETCH(QString, text);
        QFETCH(int, index);
        Check("ckSetHardwareModel", true);
        auto* models = Find<QComboBox>("cbHardwareModel");
        models->setCurrentIndex(1);
        QCOMPARE(FWindow->InputsJob().Settings.HardwareModel, 1);
        models->setEditText(text);
        QCOMPARE(FWindow->InputsJob().Settings.HardwareModel, index);
    }

    void browse_data()
    {
        QTest::addColumn<QString>("box");
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("edit");
        QTest::addColumn<QString>("message");
        QTest::newRow("kernel") << "ckKernel"
                                << "btnBrowseKernel"
                                << "leKernelBinary"
                                << "invalid kernel file";
        QTest::newRow("program") << "ckPLCProgram"
                                 << "btnBrowseTamix"
                                 << "leTamixBinary"
                                 << "invalid plc program";
    }

    void browse()
    {
        QFETCH(QString, box);
        QFETCH(QString, button);
        QFETCH(QString, edit);
        QFETCH(QString, message);
        QTemporaryDir folder;
        const QString junk = folder.filePath(QStringLiteral("junk.bin"));
        QFile file(junk);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QByteArray(100, 'x'));
        file.close();

        Check(qPrintable(box), true);
        auto* log = Find<QPlainTextEdit>("meStatus");
        QString answer;
        FWindow->OpenFileName = [&answer] { return answer; };

        FWindow->AddMessage(QStringLiteral("kept"));
        QTest::mouseClick(FWindow->findChild<QPushButton*>(button), Qt::LeftButton);   // cancelled
        QVERIFY(log->toPlainText().endsWith(QLatin1String(": kept")));

        // The same file chosen twice is loaded twice, each time in a cleared log.
        answer = junk;
        for (int choice = 0; choice < 2; ++choice) {
            QTest::mouseClick(FWindow->findChild<QPushButton*>(button), Qt::LeftButton);
            QCOMPARE(FWindow->findChild<QLineEdit*>(edit)->text(), junk);
            QTRY_VERIFY(!FWindow->Runner->Busy());
            const QStringList lines = log->toPlainText().split(u'\n');
            QCOMPARE(lines.size(), 1);
            QVERIFY2(lines[0].endsWith(QLatin1String(": ") + message), qPrintable(lines[0]));
        }
        QVERIFY(FErrors.isEmpty());
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_fMain.moc"
