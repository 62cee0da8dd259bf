#pragma once
// frmAbout: the program's title, version and the serial number of the SMS
// device, read from the device each time the box is opened.

#include <QDialog>
#include <QString>

class QLabel;
class QPushButton;

namespace quillet {

class CommSMS;

class frmAbout : public QDialog
{
    Q_OBJECT
public:
    // Asks the logger's driver for the serial number before it is shown.
    explicit frmAbout(QWidget *parent = nullptr);

    // "Version 1.2.7" from a version text; missing parts count as 0.
    static QString VersionText(const QString &version);
    // "S/N: " and the device's serial number. Nothing follows "S/N: " when
    // there is no driver, the device does not answer, or the driver is in the
    // middle of an exchange (a poll): a second exchange would interleave
    // frames with the running one.
    static QString SerialNumberText(CommSMS *device, bool polling);

    QLabel *picIcon = nullptr;
    QLabel *lblTitle = nullptr;
    QLabel *lblVersion = nullptr;
    QLabel *lblSN = nullptr;
    QLabel *lblMaker1 = nullptr;
    QLabel *lblMaker2 = nullptr;
    QPushButton *cmdOK = nullptr;
};

} // namespace quillet
