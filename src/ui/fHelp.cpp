#include "fHelp.h"
#include "ui_fHelp.h"

#include <QFile>

TfmHelp::TfmHelp(QWidget* parent) : QDialog(parent), ui(std::make_unique<Ui::fmHelp>())
{
    ui->setupUi(this);
    setWindowFlag(Qt::WindowMaximizeButtonHint);
}

TfmHelp::~TfmHelp() = default;

void TfmHelp::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (!ui->meHelp->document()->isEmpty())
        return;
    QFile file(FileName);
    if (file.open(QIODevice::ReadOnly | QIODevice::Text))
        ui->meHelp->setPlainText(QString::fromUtf8(file.readAll()));
}
