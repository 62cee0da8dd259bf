#pragma once
// frmSettings: the logger's settings dialog. It edits the global settings
// (log file, database and sound options, zone handling, serial port, site
// phone number map) and writes them to the settings file; the running logger
// takes the new values from the global state at once.

#include <QDialog>
#include <QPointer>
#include <QString>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTabWidget;
class QTreeWidget;
class QTreeWidgetItem;

namespace quillet {

class frmSettings : public QDialog
{
    Q_OBJECT
public:
    explicit frmSettings(QWidget *parent = nullptr);

    // Fills the controls from the global settings.
    void LoadFormObj();
    // Trims the three path boxes and checks the sound file when the alert is
    // on; shows the "Setting Error" box and sets focusTarget when it fails.
    bool CheckFormObj();
    // Copies the controls into the global settings and writes the file.
    // False (after a box) when the file could not be written.
    bool SaveFormObj();
    // Writes the global settings, taking the port from the port list and the
    // baud rate from its label. False (after a box) when writing failed.
    bool Save2SettingFile();
    void AddNewTelNo();
    void ModifyTelNo();
    void DeleteTelNo();
    // Checks a phone number for the row at the 1-based position tmpiIndex
    // (-1 for a new row): not blank, no comma, not defined by another row.
    bool IsTelNoValid(const QString &tmpTelNo, int tmpiIndex);

    // The port list: "COM1" to "COM16", then the serial devices present.
    static QStringList PortNames();
    // The map file reads back this many entries, so no more can be defined.
    static constexpr int MaxSiteEntries = 255;

    QTabWidget *SSTab1 = nullptr;
    QPushButton *cmdOK = nullptr;
    QPushButton *cmdCancel = nullptr;
    QPushButton *cmdApply = nullptr;

    // Basic
    QGroupBox *fraSaveAs = nullptr;
    QCheckBox *chkOrvane = nullptr;
    QLabel *lblLogFilePath = nullptr;
    QLineEdit *txtLogFilePath = nullptr;
    QCheckBox *chkMDB = nullptr;
    QLabel *Label1 = nullptr;
    QLineEdit *txtMDBFilePath = nullptr;
    // Connects to the central database the box names, from a thread of its
    // own, and shows the server's answer.
    QPushButton *cmdTestMDB = nullptr;
    QCheckBox *chkIsIgnoreZone = nullptr;
    QLabel *lblZoneExample = nullptr;
    QGroupBox *fraSound = nullptr;
    QCheckBox *chkSoundAlert = nullptr;
    QLabel *Label3 = nullptr;
    QLineEdit *txtSoundAlertFilePath = nullptr;
    QLabel *Label5 = nullptr;

    // Communication
    QComboBox *cmbCommPort = nullptr;
    QLabel *lblBaudRate = nullptr;
    QLabel *lblDataBit = nullptr;
    QLabel *lblParityBit = nullptr;
    QLabel *lblStopBit = nullptr;

    // Site phone number map
    QCheckBox *chkIsUseTelListMap = nullptr;
    QCheckBox *chkGiveUpMsg = nullptr;
    QTreeWidget *lvTelList = nullptr;
    QPushButton *cmdAddTel = nullptr;
    QPushButton *cmdDeleteTel = nullptr;
    QPushButton *cmdModifyTel = nullptr;

    // The control to focus after a failed check.
    QPointer<QWidget> focusTarget;

private:
    QWidget *buildBasicTab();
    QWidget *buildCommunicationTab();
    QWidget *buildMapTab();
    void applyMDBRule();
    void testDatabase();
    void applySoundRule();
    void applyMapRule();
    void okClicked();
    void applyClicked();
    void focusAfterFailedCheck();
    void setRow(QTreeWidgetItem *item, const QString &phone, const QString &description);
    QTreeWidgetItem *selectedRow() const;
};

} // namespace quillet
