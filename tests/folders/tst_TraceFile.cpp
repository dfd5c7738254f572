// The trace file: its category's lines go to the file, stamped; every other message still
// reaches the handler that was there before, so that installing the trace hides no warning.
#include "ProgramFolders.h"
#include "TraceFile.h"

#include "TestPrinters.h"

#include <QDir>
#include <QFile>
#include <QLoggingCategory>
#include <QRegularExpression>

#include <gtest/gtest.h>

namespace {

Q_LOGGING_CATEGORY(lcTraced, "orvel.test.traced")
Q_LOGGING_CATEGORY(lcOther, "orvel.test.other")

QStringList Passed;   // what reached the handler installed before the trace

void Capture(QtMsgType, const QMessageLogContext&, const QString& message)
{
    Passed << message;
}

TEST(TraceFile, CategoryToTheFileEverythingElsePassedOn)
{
    const QString path = QDir(WritableProgramFolder()).filePath(QStringLiteral("trace-test.log"));
    QFile::remove(path);
    qInstallMessageHandler(Capture);
    InstallTraceFile(lcTraced().categoryName(), QStringLiteral("trace-test.log"));
    qCInfo(lcTraced).noquote() << "TX:AA55";
    qCWarning(lcOther).noquote() << "a warning";
    qCInfo(lcTraced).noquote() << "RJ:noise";
    qInstallMessageHandler(nullptr);

    EXPECT_EQ(Passed, QStringList{QStringLiteral("a warning")});
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly | QIODevice::Text)) << path.toStdString();
    const QStringList lines = QString::fromUtf8(file.readAll()).split(u'\n', Qt::SkipEmptyParts);
    file.remove();
    ASSERT_EQ(lines.size(), 2);
    const QRegularExpression stamp(QStringLiteral(R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} (.*)$)"));
    EXPECT_EQ(stamp.match(lines[0]).captured(1), QStringLiteral("TX:AA55"));
    EXPECT_EQ(stamp.match(lines[1]).captured(1), QStringLiteral("RJ:noise"));
}

}   // namespace
