// A second program that takes serial numbers from the kept settings counter while another
// does the same, for the test that two programs never give one number twice:
//
//   settings_serial_taker SETTINGS_DIR COUNT    prints "taken: N N ..." on one line
#include "SerialCounter.h"

#include <QCoreApplication>
#include <QSettings>

#include <cstdio>

int main(int argc, char* argv[])
{
    QCoreApplication application(argc, argv);
    const QStringList arguments = application.arguments();
    if (arguments.size() != 3)
        return 2;
    for (const QSettings::Format format : {QSettings::NativeFormat, QSettings::IniFormat})
        QSettings::setPath(format, QSettings::UserScope, arguments[1]);
    TSettingsSerialCounter counter(1);
    QString line = QStringLiteral("taken:");
    for (int i = arguments[2].toInt(); i > 0; --i)
        line += u' ' + QString::number(counter.Take().Number);
    std::printf("%s\n", qPrintable(line));
    return 0;
}
