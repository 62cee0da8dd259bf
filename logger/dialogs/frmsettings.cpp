#include "frmsettings.h"

#include "centralsender.h"
#include "centraluri.h"
#include "filehelpers.h"
#include "frmstring.h"
#include "globals.h"
#include "hostservices.h"
#include "outputpaths.h"
#include "settings.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSerialPortInfo>
#include <QTabWidget>
#include <QThread>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <memory>

namespace quillet {

namespace {

const QString kTelKeyPrefix = QStringLiteral("TEL,");
const QString kSettingError = QStringLiteral("Setting Error");
const QString kTelError = QStringLiteral("Error site phone number");

// Room on the left for the controls that belong to a check box above them.
constexpr int kIndent = 22;

QLabel *valueLabel(QWidget *parent)
{
    auto *label = new QLabel(parent);
    label->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    label->setMinimumWidth(140);
    label->setContentsMargins(4, 1, 4, 1);
    return label;
}

} // namespace

frmSettings::frmSettings(QWidget *parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Settings"));

    SSTab1 = new QTabWidget(this);
    SSTab1->addTab(buildBasicTab(), QStringLiteral("Basic"));
    SSTab1->addTab(buildCommunicationTab(), QStringLiteral("Communication"));
    SSTab1->addTab(buildMapTab(), QStringLiteral("Site phone number map "));

    cmdOK = new QPushButton(QStringLiteral("OK"), this);
    cmdCancel = new QPushButton(QStringLiteral("Cancel"), this);
    cmdApply = new QPushButton(QStringLiteral("Apply"), this);
    cmdOK->setDefault(true);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    for (QPushButton *b : {cmdOK, cmdCancel, cmdApply}) {
        b->setMinimumWidth(88);
        buttons->addWidget(b);
    }

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(SSTab1, 1);
    layout->addLayout(buttons);

    connect(cmdOK, &QPushButton::clicked, this, &frmSettings::okClicked);
    connect(cmdApply, &QPushButton::clicked, this, &frmSettings::applyClicked);
    connect(cmdCancel, &QPushButton::clicked, this, &QDialog::reject);

    connect(chkOrvane, &QCheckBox::clicked, this, [this] { chkOrvane->setChecked(true); });
    connect(chkMDB, &QCheckBox::toggled, this, &frmSettings::applyMDBRule);
    connect(txtMDBFilePath, &QLineEdit::textChanged, this, &frmSettings::applyMDBRule);
    connect(cmdTestMDB, &QPushButton::clicked, this, &frmSettings::testDatabase);
    connect(chkSoundAlert, &QCheckBox::toggled, this, &frmSettings::applySoundRule);
    connect(chkIsUseTelListMap, &QCheckBox::toggled, this, &frmSettings::applyMapRule);
    connect(cmdAddTel, &QPushButton::clicked, this, &frmSettings::AddNewTelNo);
    connect(cmdModifyTel, &QPushButton::clicked, this, &frmSettings::ModifyTelNo);
    connect(cmdDeleteTel, &QPushButton::clicked, this, &frmSettings::DeleteTelNo);
    connect(lvTelList, &QTreeWidget::itemDoubleClicked, this, [this] {
        if (cmdModifyTel->isEnabled())
            ModifyTelNo();
    });

    applyMDBRule();
    applySoundRule();
    applyMapRule();
    resize(sizeHint().expandedTo(QSize(560, 420)));
}

QWidget *frmSettings::buildBasicTab()
{
    auto *page = new QWidget;

    fraSaveAs = new QGroupBox(QStringLiteral("Save SMS As"), page);
    chkOrvane = new QCheckBox(QStringLiteral("Orvane (*.log) "), fraSaveAs);
    chkOrvane->setChecked(true);
    lblLogFilePath = new QLabel(QStringLiteral("File Path"), fraSaveAs);
    txtLogFilePath = new QLineEdit(fraSaveAs);
    lblLogFilePath->setBuddy(txtLogFilePath);
    chkMDB = new QCheckBox(QStringLiteral("Microsoft Access (*.mdb)"), fraSaveAs);
    Label1 = new QLabel(QStringLiteral("File Path"), fraSaveAs);
    txtMDBFilePath = new QLineEdit(fraSaveAs);
    Label1->setBuddy(txtMDBFilePath);
    txtMDBFilePath->setToolTip(
        QStringLiteral("A database file, or a central PostgreSQL database as a connection URI: "
                       "postgresql://user@host/database (the password goes in ~/.pgpass)"));
    cmdTestMDB = new QPushButton(QStringLiteral("Test"), fraSaveAs);
    cmdTestMDB->setToolTip(QStringLiteral("Connect to the central database and show its answer"));

    auto *saveGrid = new QGridLayout(fraSaveAs);
    saveGrid->setColumnMinimumWidth(0, kIndent);
    saveGrid->setColumnStretch(2, 1);
    saveGrid->addWidget(chkOrvane, 0, 0, 1, 4);
    saveGrid->addWidget(lblLogFilePath, 1, 1);
    saveGrid->addWidget(txtLogFilePath, 1, 2, 1, 2);
    saveGrid->addWidget(chkMDB, 2, 0, 1, 4);
    saveGrid->addWidget(Label1, 3, 1);
    saveGrid->addWidget(txtMDBFilePath, 3, 2);
    saveGrid->addWidget(cmdTestMDB, 3, 3);

    chkIsIgnoreZone = new QCheckBox(QStringLiteral(" Ignore the leading zone identifier."), page);
    lblZoneExample = new QLabel(QStringLiteral("Example: A1, A2, R1, R2, ......."), page);
    auto *zone = new QGridLayout;
    zone->setColumnMinimumWidth(0, kIndent);
    zone->addWidget(chkIsIgnoreZone, 0, 0, 1, 2);
    zone->addWidget(lblZoneExample, 1, 1);
    zone->setColumnStretch(1, 1);
    zone->setContentsMargins(9, 0, 9, 0);

    fraSound = new QGroupBox(page);
    chkSoundAlert = new QCheckBox(QStringLiteral("Sound Alert"), fraSound);
    Label3 = new QLabel(QStringLiteral("File Path"), fraSound);
    txtSoundAlertFilePath = new QLineEdit(fraSound);
    Label3->setBuddy(txtSoundAlertFilePath);
    Label5 = new QLabel(QStringLiteral("(*.wav)"), fraSound);
    auto *soundGrid = new QGridLayout(fraSound);
    soundGrid->setColumnMinimumWidth(0, kIndent);
    soundGrid->setColumnStretch(2, 1);
    soundGrid->addWidget(chkSoundAlert, 0, 0, 1, 4);
    soundGrid->addWidget(Label3, 1, 1);
    soundGrid->addWidget(txtSoundAlertFilePath, 1, 2);
    soundGrid->addWidget(Label5, 1, 3);

    auto *layout = new QVBoxLayout(page);
    layout->addWidget(fraSaveAs);
    layout->addSpacing(4);
    layout->addLayout(zone);
    layout->addSpacing(4);
    layout->addWidget(fraSound);
    layout->addStretch(1);
    return page;
}

QWidget *frmSettings::buildCommunicationTab()
{
    auto *page = new QWidget;
    auto *frame = new QGroupBox(page);

    cmbCommPort = new QComboBox(frame);
    cmbCommPort->setEditable(true);
    cmbCommPort->setInsertPolicy(QComboBox::NoInsert);
    cmbCommPort->setMinimumWidth(180);
    lblBaudRate = valueLabel(frame);
    lblDataBit = valueLabel(frame);
    lblParityBit = valueLabel(frame);
    lblStopBit = valueLabel(frame);

    auto *grid = new QGridLayout(frame);
    grid->setHorizontalSpacing(12);
    grid->setVerticalSpacing(10);
    const struct
    {
        const char *caption;
        QWidget *value;
    } rows[] = {{"CommPort :", cmbCommPort},
                {"&Baud rate :", lblBaudRate},
                {"&Data bit :", lblDataBit},
                {"&Parity bit :", lblParityBit},
                {"&Stop bit :", lblStopBit}};
    int row = 0;
    for (const auto &r : rows) {
        auto *caption = new QLabel(QString::fromLatin1(r.caption), frame);
        // Only the port can be changed, so every mnemonic leads to it.
        caption->setBuddy(cmbCommPort);
        grid->addWidget(caption, row, 0, Qt::AlignRight);
        grid->addWidget(r.value, row, 1, Qt::AlignLeft);
        ++row;
    }
    grid->setColumnStretch(2, 1);

    auto *layout = new QVBoxLayout(page);
    layout->addWidget(frame);
    layout->addStretch(1);
    return page;
}

QWidget *frmSettings::buildMapTab()
{
    auto *page = new QWidget;
    auto *frame = new QGroupBox(page);

    chkIsUseTelListMap = new QCheckBox(QStringLiteral("Site phone numer map"), frame);
    chkGiveUpMsg =
        new QCheckBox(QStringLiteral("Give up message if site phone numer is undefined."), frame);
    lvTelList = new QTreeWidget(frame);
    lvTelList->setColumnCount(2);
    lvTelList->setHeaderLabels(
        {QStringLiteral("Site Phone Number"), QStringLiteral("Description")});
    lvTelList->setRootIsDecorated(false);
    lvTelList->setUniformRowHeights(true);
    lvTelList->setAllColumnsShowFocus(true);
    lvTelList->setSelectionMode(QAbstractItemView::SingleSelection);
    lvTelList->header()->resizeSection(0, 160);
    lvTelList->header()->setStretchLastSection(true);

    cmdAddTel = new QPushButton(QStringLiteral("Add"), frame);
    cmdDeleteTel = new QPushButton(QStringLiteral("Delete"), frame);
    cmdModifyTel = new QPushButton(QStringLiteral("Modify"), frame);
    auto *side = new QVBoxLayout;
    for (QPushButton *b : {cmdAddTel, cmdDeleteTel, cmdModifyTel}) {
        b->setMinimumWidth(88);
        side->addWidget(b);
    }
    side->addStretch(1);

    auto *listRow = new QHBoxLayout;
    listRow->addWidget(lvTelList, 1);
    listRow->addLayout(side);

    auto *box = new QVBoxLayout(frame);
    box->addWidget(chkIsUseTelListMap);
    box->addWidget(chkGiveUpMsg);
    box->addSpacing(4);
    box->addLayout(listRow, 1);

    auto *layout = new QVBoxLayout(page);
    layout->addWidget(frame);
    return page;
}

void frmSettings::applyMDBRule()
{
    const bool on = chkMDB->isChecked();
    Label1->setEnabled(on);
    txtMDBFilePath->setEnabled(on);
    // A file needs no test; a test under way is not started twice.
    cmdTestMDB->setEnabled(on && IsCentralURI(txtMDBFilePath->text()) &&
                           !cmdTestMDB->property("testing").toBool());
}

void frmSettings::testDatabase()
{
    const QString uri = txtMDBFilePath->text().trimmed();
    cmdTestMDB->setProperty("testing", true);
    cmdTestMDB->setText(QStringLiteral("Testing..."));
    applyMDBRule();
    auto answer = std::make_shared<QString>();
    auto ok = std::make_shared<bool>(false);
    QThread *worker =
        QThread::create([uri, answer, ok] { *ok = TestCentralConnection(uri, *answer); });
    QPointer<frmSettings> self(this);
    // The thread outlives a dialog closed meanwhile; its answer is dropped then.
    connect(worker, &QThread::finished, qApp, [self, worker, answer, ok] {
        worker->deleteLater();
        if (!self)
            return;
        self->cmdTestMDB->setProperty("testing", false);
        self->cmdTestMDB->setText(QStringLiteral("Test"));
        self->applyMDBRule();
        MsgBox(*answer, BoxButtons::Ok, *ok ? BoxIcon::Information : BoxIcon::Critical,
               QStringLiteral("Database Test"));
    });
    worker->start();
}

void frmSettings::applySoundRule()
{
    const bool on = chkSoundAlert->isChecked();
    Label3->setEnabled(on);
    Label5->setEnabled(on);
    txtSoundAlertFilePath->setEnabled(on);
}

void frmSettings::applyMapRule()
{
    const bool on = chkIsUseTelListMap->isChecked();
    for (QWidget *w :
         std::initializer_list<QWidget *>{cmdAddTel, cmdModifyTel, cmdDeleteTel, chkGiveUpMsg})
        w->setEnabled(on);
    // The list stays scrollable for viewing; its rows are greyed and cannot
    // be picked while the map is off, and they are kept.
    if (!on)
        lvTelList->clearSelection();
    for (int i = 0; i < lvTelList->topLevelItemCount(); ++i) {
        QTreeWidgetItem *item = lvTelList->topLevelItem(i);
        item->setFlags(on ? item->flags() | Qt::ItemIsEnabled : item->flags() & ~Qt::ItemIsEnabled);
    }
}

QStringList frmSettings::PortNames()
{
    QStringList names;
    for (int n = 1; n <= 16; ++n)
        names << QStringLiteral("COM%1").arg(n);
    QStringList devices;
    for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts())
        if (!info.systemLocation().isEmpty() && !devices.contains(info.systemLocation()))
            devices << info.systemLocation();
    devices.sort();
    return names + devices;
}

void frmSettings::LoadFormObj()
{
    txtLogFilePath->setText(G.LogFilePath);
    chkOrvane->setChecked(true);

    chkMDB->setChecked(G.IsSaveAsMDB);
    txtMDBFilePath->setText(G.IsSaveAsMDB ? G.MDBFilePath : QString());
    chkSoundAlert->setChecked(G.IsUseSoundAlert);
    txtSoundAlertFilePath->setText(G.IsUseSoundAlert ? G.SoundFilePath : QString());
    chkIsIgnoreZone->setChecked(G.IsIgnoreZoneIdentifier);

    cmbCommPort->clear();
    cmbCommPort->addItems(PortNames());
    const int port = cmbCommPort->findText(G.COMPORT);
    if (port >= 0)
        cmbCommPort->setCurrentIndex(port);
    else
        cmbCommPort->setEditText(G.COMPORT);

    lblBaudRate->setText(G.BAUDRATE);
    lblDataBit->setText(G.DATABIT);
    lblParityBit->setText(G.PARITYBIT);
    lblStopBit->setText(G.STOPBIT);

    // The entries are shown (greyed) even while the map is off: switching the
    // map off must not throw them away.
    lvTelList->clear();
    const int count = std::clamp(int(G.SitePhoneNumberCount), 0, MapSlots);
    for (int i = 0; i < count; ++i) {
        auto *item = new QTreeWidgetItem(lvTelList);
        setRow(item, G.SitePhoneNumberMap[i].PhoneNo, G.SitePhoneNumberMap[i].SiteName);
    }
    chkIsUseTelListMap->setChecked(G.EnableSitePhoneNumberMap);
    chkGiveUpMsg->setChecked(G.IsGiveUpUnknownSitePhoneNumberSMS);

    applyMDBRule();
    applySoundRule();
    applyMapRule();
    focusTarget = nullptr;
}

bool frmSettings::CheckFormObj()
{
    for (QLineEdit *box : {txtLogFilePath, txtMDBFilePath, txtSoundAlertFilePath})
        box->setText(box->text().trimmed());

    if (chkMDB->isChecked() && IsCentralURI(txtMDBFilePath->text())) {
        CentralTarget target;
        QString why;
        if (!ParseCentralURI(txtMDBFilePath->text(), target, why)) {
            MsgBox(QStringLiteral("The database URI cannot be used!\r\n") + why, BoxButtons::Ok,
                   BoxIcon::Critical, kSettingError);
            focusTarget = txtMDBFilePath;
            return false;
        }
    }
    if (!chkSoundAlert->isChecked())
        return true;
    if (txtSoundAlertFilePath->text().isEmpty()) {
        MsgBox(QStringLiteral("Sound Alert file path cannot be empty!"), BoxButtons::Ok,
               BoxIcon::Critical, kSettingError);
        focusTarget = txtSoundAlertFilePath;
        return false;
    }
    const QString path = GetFullPath(txtSoundAlertFilePath->text());
    if (!FileExists(path)) {
        MsgBox(QStringLiteral("Sound Alert file path is not exist!\r\nSound Alert file path = ") +
                   path,
               BoxButtons::Ok, BoxIcon::Critical, kSettingError);
        focusTarget = txtSoundAlertFilePath;
        return false;
    }
    return true;
}

bool frmSettings::SaveFormObj()
{
    const QString logPath = txtLogFilePath->text().trimmed();
    G.LogFilePath = logPath.isEmpty() ? QStringLiteral("Quillet.log") : logPath;
    G.IsSaveAsMDB = chkMDB->isChecked();
    if (G.IsSaveAsMDB)
        G.MDBFilePath = txtMDBFilePath->text().trimmed();
    G.IsUseSoundAlert = chkSoundAlert->isChecked();
    if (G.IsUseSoundAlert)
        G.SoundFilePath = txtSoundAlertFilePath->text().trimmed();
    G.IsIgnoreZoneIdentifier = chkIsIgnoreZone->isChecked();
    // The port and the baud rate are taken by Save2SettingFile.

    // The rows are kept whether or not the map is on; the switch only decides
    // whether they are used.
    G.SitePhoneNumberCount = 0;
    const int rows = std::min(lvTelList->topLevelItemCount(), MaxSiteEntries);
    for (int i = 0; i < rows; ++i) {
        const QTreeWidgetItem *item = lvTelList->topLevelItem(i);
        SiteEntry &slot = G.SitePhoneNumberMap[G.SitePhoneNumberCount++];
        slot.PhoneNo = item->text(0).trimmed();
        slot.SiteName = item->text(1).trimmed();
    }
    G.EnableSitePhoneNumberMap = chkIsUseTelListMap->isChecked();
    if (G.EnableSitePhoneNumberMap)
        G.IsGiveUpUnknownSitePhoneNumberSMS = chkGiveUpMsg->isChecked();

    // Rows waiting for a central database go to the new URI at once, not
    // only with the next alarm.
    if (G.IsSaveAsMDB && IsCentralURI(G.MDBFilePath))
        CheckMDBFilePath(false);
    return Save2SettingFile();
}

bool frmSettings::Save2SettingFile()
{
    // An empty port would read back as "COM1"; take that now so the running
    // logger and the file agree.
    const QString port = cmbCommPort->currentText().trimmed();
    G.COMPORT = port.isEmpty() ? QStringLiteral("COM1") : port;
    G.BAUDRATE = lblBaudRate->text();
    if (quillet::Save2SettingFile())
        return true;
    MsgBox(QStringLiteral("Unable to write the setting file!\r\nSetting file = ") +
               GetFullPath(G.SettingFile),
           BoxButtons::Ok, BoxIcon::Critical, kSettingError);
    return false;
}

void frmSettings::setRow(QTreeWidgetItem *item, const QString &phone, const QString &description)
{
    item->setText(0, phone);
    item->setText(1, description);
    item->setData(0, Qt::UserRole, kTelKeyPrefix + phone);
}

QTreeWidgetItem *frmSettings::selectedRow() const
{
    const QList<QTreeWidgetItem *> selected = lvTelList->selectedItems();
    return selected.isEmpty() ? nullptr : selected.first();
}

void frmSettings::AddNewTelNo()
{
    if (lvTelList->topLevelItemCount() >= MaxSiteEntries) {
        MsgBox(QStringLiteral("The site phone number map is full: at most %1 site phone numbers "
                              "can be defined.")
                   .arg(MaxSiteEntries),
               BoxButtons::Ok, BoxIcon::Critical, kTelError);
        return;
    }
    frmString &form = frmString::Instance();
    const QString result =
        form.KeyInString(QStringLiteral("New site phone number"), QStringLiteral("Phone numer :"),
                         QString(), QStringLiteral("Description :"), QString());
    if (result != frmString::OkResult)
        return;
    const QString phone = form.KeyInString1;
    const QString description = form.KeyInString2;
    if (!IsTelNoValid(phone, -1))
        return;
    auto *item = new QTreeWidgetItem(lvTelList);
    setRow(item, phone, description);
    lvTelList->setCurrentItem(item);
}

void frmSettings::ModifyTelNo()
{
    QTreeWidgetItem *item = selectedRow();
    if (!item)
        return;
    const int position = lvTelList->indexOfTopLevelItem(item) + 1;
    frmString &form = frmString::Instance();
    const QString result = form.KeyInString(QStringLiteral("Modify site phone number"),
                                            QStringLiteral("phone number :"), item->text(0),
                                            QStringLiteral("Description :"), item->text(1));
    if (result != frmString::OkResult)
        return;
    if (!IsTelNoValid(form.KeyInString1, position))
        return;
    setRow(item, form.KeyInString1, form.KeyInString2);
}

void frmSettings::DeleteTelNo()
{
    delete selectedRow();
}

bool frmSettings::IsTelNoValid(const QString &tmpTelNo, int tmpiIndex)
{
    const QString phone = tmpTelNo.trimmed();
    if (phone.isEmpty()) {
        MsgBox(QStringLiteral("Site phone number can not be blank."), BoxButtons::Ok,
               BoxIcon::Critical, kTelError);
        return false;
    }
    // The file keeps a number and its description apart by the first comma.
    if (phone.contains(QLatin1Char(','))) {
        MsgBox(QStringLiteral("Site phone number can not contain a comma."), BoxButtons::Ok,
               BoxIcon::Critical, kTelError);
        return false;
    }
    // Numbers are stored trimmed, so blanks round them do not make them differ.
    for (int i = 1; i <= lvTelList->topLevelItemCount(); ++i) {
        if (i != tmpiIndex && lvTelList->topLevelItem(i - 1)->text(0).trimmed() == phone) {
            MsgBox(QStringLiteral("The same site phone number has already been defined in the "
                                  "site phone number Map."),
                   BoxButtons::Ok, BoxIcon::Critical, kTelError);
            return false;
        }
    }
    return true;
}

void frmSettings::focusAfterFailedCheck()
{
    if (!focusTarget)
        return;
    // The box may sit on a tab that is not showing.
    for (int i = 0; i < SSTab1->count(); ++i)
        if (SSTab1->widget(i)->isAncestorOf(focusTarget))
            SSTab1->setCurrentIndex(i);
    focusTarget->setFocus();
}

void frmSettings::applyClicked()
{
    if (CheckFormObj())
        SaveFormObj();
    else
        focusAfterFailedCheck();
}

void frmSettings::okClicked()
{
    if (!CheckFormObj()) {
        focusAfterFailedCheck();
        return;
    }
    // When the file could not be written the dialog stays open: the operator
    // has been told and may try again.
    if (SaveFormObj())
        accept();
}

} // namespace quillet
