#include "fAbout.h"
#include "ui_fAbout.h"

#include "uCommon.h"

#include <QDesktopServices>
#include <QMouseEvent>

QUrl AboutLinkUrl(const QString& caption)
{
    const QString text = caption.trimmed();
    if (text.contains(u'@'))
        return QUrl(QStringLiteral("mailto:") + text);
    return QUrl::fromUserInput(text);
}

TfmAbout::TfmAbout(QWidget* parent) : QDialog(parent), ui(std::make_unique<Ui::fmAbout>())
{
    InitPictureResources();
    ui->setupUi(this);
    setFixedSize(size());
    QPalette white = palette();
    white.setColor(QPalette::Window, Qt::white);
    setPalette(white);
    for (QLabel* link : {ui->lblWebAddress, ui->lblMailAddress}) {
        QPalette grey = link->palette();
        grey.setColor(QPalette::WindowText, Qt::gray);
        link->setPalette(grey);
        link->installEventFilter(this);
    }
    ui->lblVersionNum->setText(GetVersionText(3));
}

TfmAbout::~TfmAbout() = default;

bool TfmAbout::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::MouseButtonRelease && static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton)
        Label5Click(watched);
    return QDialog::eventFilter(watched, event);
}

void TfmAbout::Label5Click(QObject* sender)
{
    if (const auto* label = qobject_cast<QLabel*>(sender))
        QDesktopServices::openUrl(AboutLinkUrl(label->text()));
}
