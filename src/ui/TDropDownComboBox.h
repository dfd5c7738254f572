// TDropDownComboBox: a combo box that says when its list is about to open, so that the
// window can refill the list first (the host's adapters, the controllers that answer).
#pragma once

#include <QComboBox>

class TDropDownComboBox : public QComboBox {
    Q_OBJECT
public:
    using QComboBox::QComboBox;

    void showPopup() override
    {
        Q_EMIT dropDown();
        QComboBox::showPopup();
    }

Q_SIGNALS:
    void dropDown();
};
