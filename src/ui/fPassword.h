// fPassword: the dialog in which the operator enters the password whose code every
// command frame carries. The text goes in and out through Password.
#pragma once

#include <QDialog>

#include <memory>

namespace Ui {
class fmPassword;
}

class TfmPassword : public QDialog {
    Q_OBJECT
public:
    explicit TfmPassword(QWidget* parent = nullptr);
    ~TfmPassword() override;

    QString Password;

protected:
    // FormShow: the edit shows Password and takes the focus.
    void showEvent(QShowEvent* event) override;

private Q_SLOTS:
    void btnOKClick();
    void cbShowPasswordClick();

private:
    std::unique_ptr<Ui::fmPassword> ui;
};
