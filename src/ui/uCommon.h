// uCommon: small helpers the window and its dialogs share: the program's version text,
// the message log line and the pictures compiled into the program.
#pragma once

#include <QDateTime>
#include <QString>

// The first parts of a dotted version text: 3 parts of "3.0.6.0" give "3.0.6"; 4 or more
// give the whole text; 0 or less, or an empty text, give an empty text.
QString VersionTextParts(const QString& fileVersion, int parts);
// The same for the version this program was built as.
QString GetVersionText(int parts);

// One line of the message log: "yyyy-mm-dd hh:nn:ss: " and the text.
QString MessageLogLine(const QDateTime& moment, const QString& text);

// Makes the pictures (":/RED", ":/GREEN", ":/YELLOW", ":/GREY", ":/logo", ":/about")
// available; they live in a static library, whose resources are not registered by themselves.
void InitPictureResources();
