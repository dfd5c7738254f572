// TDropDownComboBox: a combo box that says when its list is about to open, so that the
// window can refill the list first (the host's adapters, the controllers that answer). A
// list that takes a while to fill opens when it is full: the handler defers it and opens it
// itself.
#pragma once

#include <QComboBox>

class TDropDownComboBox : public QComboBox {
    Q_OBJECT
public:
    using QComboBox::QComboBox;

    void showPopup() override
    {
        FDeferred = false;
        Q_EMIT dropDown();
        if (!FDeferred)
            QComboBox::showPopup();
    }
    // From a dropDown handler: the list opens only with ShowListNow.
    void DeferPopup() { FDeferred = true; }
    void ShowListNow() { QComboBox::showPopup(); }

Q_SIGNALS:
    void dropDown();

private:
    bool FDeferred = false;
};
