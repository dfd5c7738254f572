#include "fPassword.h"
#include "ui_fPassword.h"

TfmPassword::TfmPassword(QWidget* parent) : QDialog(parent), ui(std::make_unique<Ui::fmPassword>())
{
    ui->setupUi(this);
    setFixedSize(size());
    connect(ui->btnOK, &QPushButton::clicked, this, &TfmPassword::btnOKClick);
    connect(ui->btnCancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(ui->cbShowPassword, &QCheckBox::toggled, this, &TfmPassword::cbShowPasswordClick);
}

TfmPassword::~TfmPassword() = default;

void TfmPassword::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    ui->edPassword->setText(Password);
    ui->edPassword->setFocus();
}

void TfmPassword::btnOKClick()
{
    Password = ui->edPassword->text();
    accept();
}

void TfmPassword::cbShowPasswordClick()
{
    ui->edPassword->setEchoMode(ui->cbShowPassword->isChecked() ? QLineEdit::Normal : QLineEdit::Password);
}
