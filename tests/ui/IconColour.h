// IconColour: which of the window's status pictures a label shows, by name, for the window
// tests that check the icons beside the inputs and verify checks.
#pragma once

#include <QImage>
#include <QLabel>
#include <QPixmap>
#include <QString>

// "GREY", "GREEN", "RED" or "YELLOW", as the resources name them; "none" for anything else.
inline QString IconColour(const QLabel* icon)
{
    const QImage shown = icon->pixmap().toImage();
    for (const char* name : {"GREY", "GREEN", "RED", "YELLOW"}) {
        if (shown == QPixmap(QStringLiteral(":/") + QLatin1String(name)).toImage())
            return QLatin1String(name);
    }
    return QStringLiteral("none");
}
