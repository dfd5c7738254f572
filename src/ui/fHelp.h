// fHelp: the help window, showing the operator's help text from a file beside the program,
// or from the installed data folder of the program (ProgramDataFile). The file is read at
// the first showing that finds it; later showings keep that text.
#pragma once

#include <QDialog>

#include <memory>

namespace Ui {
class fmHelp;
}

class TfmHelp : public QDialog {
    Q_OBJECT
public:
    explicit TfmHelp(QWidget* parent = nullptr);
    ~TfmHelp() override;

    QString FileName;

protected:
    // FormShow: loads the file while nothing is shown yet.
    void showEvent(QShowEvent* event) override;

private:
    std::unique_ptr<Ui::fmHelp> ui;
};
