// fAbout: the about box: product picture, name, version, the maker's notice and two link
// labels (web page, mail address) that open in the desktop's browser or mail program.
#pragma once

#include <QDialog>
#include <QUrl>

#include <memory>

namespace Ui {
class fmAbout;
}

// What a link label's caption opens: a mail address (it holds an at sign) as a mailto:
// address, anything else as a web address.
QUrl AboutLinkUrl(const QString& caption);

class TfmAbout : public QDialog {
    Q_OBJECT
public:
    explicit TfmAbout(QWidget* parent = nullptr);
    ~TfmAbout() override;

protected:
    // The link labels have no click signal of their own; a release of the left button on
    // one of them is its click.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Label5Click(QObject* sender);

    std::unique_ptr<Ui::fmAbout> ui;
};
