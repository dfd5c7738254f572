#include "fHelp.h"
#include "ui_fHelp.h"

#include "ProgramFolders.h"

#include <QFile>
#include <QFileInfo>

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
    // FileName names the text beside the program; an installed program has it in its data folder.
    const QFileInfo named(FileName);
    QFile file(ProgramDataFile(named.absolutePath(), named.fileName()));
    if (file.open(QIODevice::ReadOnly | QIODevice::Text))
        ui->meHelp->setPlainText(QString::fromUtf8(file.readAll()));
}
