#include "frmabout.h"

#include "commsms.h"
#include "mainwindow.h"
#include "pipeline.h"

#include <QApplication>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>
#include <QVersionNumber>

namespace quillet {

QString frmAbout::VersionText(const QString &version)
{
    const QVersionNumber v = QVersionNumber::fromString(version);
    return QStringLiteral("Version %1.%2.%3")
        .arg(v.majorVersion())
        .arg(v.minorVersion())
        .arg(v.microVersion());
}

QString frmAbout::SerialNumberText(CommSMS *device, bool polling)
{
    QString sn;
    if (device && !polling && !device->IsBusy() && !device->ReadProductSNFromDevice(sn))
        sn.clear();
    return QStringLiteral("S/N: ") + sn;
}

frmAbout::frmAbout(QWidget *parent) : QDialog(parent)
{
    setAttribute(Qt::WA_DeleteOnClose);
    const QString title = QApplication::applicationName();
    setWindowTitle(QStringLiteral("About ") + title);

    // Opened from the main window: its icon, and the serial number of its
    // pipeline's device.
    const auto *form = qobject_cast<const frmMain *>(parent);
    const AlarmPipeline *pipeline = form ? form->pipeline() : nullptr;
    QIcon icon = form ? form->windowIcon() : QApplication::windowIcon();
    if (icon.isNull())
        icon = style()->standardIcon(QStyle::SP_MessageBoxInformation);
    picIcon = new QLabel(this);
    picIcon->setPixmap(icon.pixmap(48, 48));
    picIcon->setAlignment(Qt::AlignTop | Qt::AlignHCenter);

    lblTitle = new QLabel(title, this);
    QFont titleFont(QStringLiteral("Arial"));
    titleFont.setPointSize(20);
    titleFont.setBold(true);
    lblTitle->setFont(titleFont);

    QString version = QCoreApplication::applicationVersion();
    if (version.isEmpty())
        version = QStringLiteral(QUILLET_VERSION);
    lblVersion = new QLabel(VersionText(version), this);

    // The exchange waits up to (CommRetry + 1) silent timeouts.
    QApplication::setOverrideCursor(Qt::WaitCursor);
    lblSN = new QLabel(SerialNumberText(pipeline ? pipeline->Device() : nullptr,
                                        pipeline && pipeline->IsPolling()),
                       this);
    QApplication::restoreOverrideCursor();
    lblSN->setTextInteractionFlags(Qt::TextSelectableByMouse);

    auto *line = new QFrame(this);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);

    lblMaker1 = new QLabel(QStringLiteral("SMS alarm logger for unattended field sites."), this);
    lblMaker2 = new QLabel(QStringLiteral("Brantwick. All rights reserved."), this);
    QFont small = lblMaker1->font();
    small.setPointSizeF(small.pointSizeF() * 0.9);
    lblMaker1->setFont(small);
    lblMaker2->setFont(small);

    cmdOK = new QPushButton(QStringLiteral("OK"), this);
    cmdOK->setDefault(true);
    cmdOK->setMinimumWidth(88);
    connect(cmdOK, &QPushButton::clicked, this, &QDialog::accept);

    auto *text = new QVBoxLayout;
    text->setSpacing(4);
    text->addWidget(lblTitle);
    text->addWidget(lblVersion);
    text->addWidget(lblSN);
    text->addStretch(1);

    auto *top = new QHBoxLayout;
    top->setSpacing(16);
    top->addWidget(picIcon, 0, Qt::AlignTop);
    top->addLayout(text, 1);

    auto *bottom = new QHBoxLayout;
    auto *maker = new QVBoxLayout;
    maker->setSpacing(2);
    maker->addWidget(lblMaker1);
    maker->addWidget(lblMaker2);
    bottom->addLayout(maker, 1);
    bottom->addSpacing(32);
    bottom->addWidget(cmdOK, 0, Qt::AlignBottom);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(18, 18, 18, 14);
    layout->setSpacing(12);
    layout->addLayout(top);
    layout->addWidget(line);
    layout->addLayout(bottom);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

} // namespace quillet
