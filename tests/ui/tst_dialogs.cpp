// The window's helpers and small dialogs: version text, message log line, the about box
// with its links, the help window's one-time loading and the password dialog's echo.
#include "fAbout.h"
#include "fHelp.h"
#include "fPassword.h"
#include "uCommon.h"

#include <QCheckBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QTest>

class TestDialogs : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void versionText_data()
    {
        QTest::addColumn<QString>("fileVersion");
        QTest::addColumn<int>("parts");
        QTest::addColumn<QString>("text");
        QTest::newRow("none") << "3.0.6.0" << 0 << "";
        QTest::newRow("negative") << "3.0.6.0" << -1 << "";
        QTest::newRow("one") << "3.0.6.0" << 1 << "3";
        QTest::newRow("two") << "3.0.6.0" << 2 << "3.0";
        QTest::newRow("three") << "3.0.6.0" << 3 << "3.0.6";
        QTest::newRow("four") << "3.0.6.0" << 4 << "3.0.6.0";
        QTest::newRow("more than there are") << "3.0.6.0" << 9 << "3.0.6.0";
        QTest::newRow("no version information") << "" << 3 << "";
    }

    void versionText()
    {
        QFETCH(QString, fileVersion);
        QFETCH(int, parts);
        QFETCH(QString, text);
        QCOMPARE(VersionTextParts(fileVersion, parts), text);
    }

    void builtVersion() { QCOMPARE(GetVersionText(3), QStringLiteral("3.0.6")); }

    void messageLogLine_data()
    {
        QTest::addColumn<QDateTime>("moment");
        QTest::addColumn<QString>("line");
        QTest::newRow("morning") << QDateTime(QDate(2026, 3, 2), QTime(9, 5, 7)) << "2026-03-02 09:05:07: text";
        QTest::newRow("afternoon") << QDateTime(QDate(2026, 12, 31), QTime(23, 59, 59)) << "2026-12-31 23:59:59: text";
    }

    void messageLogLine()
    {
        QFETCH(QDateTime, moment);
        QFETCH(QString, line);
        QCOMPARE(MessageLogLine(moment, QStringLiteral("text")), line);
    }

    void aboutBox()
    {
        TfmAbout about;
        QCOMPARE(about.windowTitle(), QStringLiteral("About..."));
        QCOMPARE(about.size(), QSize(347, 139));
        QCOMPARE(about.findChild<QLabel*>(QStringLiteral("lblVersionNum"))->text(), QStringLiteral("3.0.6"));
        QVERIFY(!about.findChild<QLabel*>(QStringLiteral("imProduct"))->pixmap().isNull());
        // The mail label opens the mail program with the address, without a blank before it.
        const auto* web = about.findChild<QLabel*>(QStringLiteral("lblWebAddress"));
        const auto* mail = about.findChild<QLabel*>(QStringLiteral("lblMailAddress"));
        QCOMPARE(AboutLinkUrl(web->text()), QUrl(QStringLiteral("https://www.orvel-controls.example")));
        QCOMPARE(AboutLinkUrl(mail->text()), QUrl(QStringLiteral("mailto:support@orvel-controls.example")));
        QCOMPARE(AboutLinkUrl(mail->text()).path(), QStringLiteral("support@orvel-controls.example"));
    }

    void helpLoadedOnce()
    {
        QTemporaryDir folder;
        TfmHelp help;
        help.FileName = folder.filePath(QStringLiteral("Readme.txt"));
        const auto* memo = help.findChild<QPlainTextEdit*>(QStringLiteral("meHelp"));
        const auto write = [&help](const QByteArray& text) {
            QFile file(help.FileName);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(text);
        };
        const auto showAndClose = [&help] {
            help.show();
            help.close();
        };

        showAndClose();   // no file yet: empty, and tried again next time
        QCOMPARE(memo->toPlainText(), QString());
        write("first\n");
        showAndClose();
        QCOMPARE(memo->toPlainText(), QStringLiteral("first\n"));
        write("edited\n");
        showAndClose();
        QCOMPARE(memo->toPlainText(), QStringLiteral("first\n"));
    }

    void showPassword()
    {
        TfmPassword password;
        auto* edit = password.findChild<QLineEdit*>(QStringLiteral("edPassword"));
        auto* show = password.findChild<QCheckBox*>(QStringLiteral("cbShowPassword"));
        QCOMPARE(show->text(), QStringLiteral("Show password "));
        QCOMPARE(edit->echoMode(), QLineEdit::Password);
        show->setChecked(true);
        QCOMPARE(edit->echoMode(), QLineEdit::Normal);
        show->setChecked(false);
        QCOMPARE(edit->echoMode(), QLineEdit::Password);
    }
};

QTEST_MAIN(TestDialogs)
#include "tst_dialogs.moc"
