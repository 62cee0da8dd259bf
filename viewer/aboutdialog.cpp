#include "aboutdialog.h"

#include "icons.h"
#include "stringtable.h"

#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QVersionNumber>

namespace orvane {

CAboutDlg::CAboutDlg(QWidget *parent) : QDialog(parent)
{
    setWindowTitle(Str(IDS_ABOUT_TITLE));
    setObjectName(QStringLiteral("aboutDialog"));

    auto *icon = new QLabel(this);
    icon->setPixmap(MakeIcon(IconKind::App).pixmap(32, 32));
    icon->setAlignment(Qt::AlignTop);
    // The build's version, as the packages carry it; the Chinese title names
    // its first two parts.
    const QVersionNumber build = QVersionNumber::fromString(QStringLiteral(QUILLET_VERSION));
    const QByteArray shortVersion =
        QVersionNumber(build.majorVersion(), build.minorVersion()).toString().toLatin1();
    auto *product = new QLabel(StrF(IDS_ABOUT_PRODUCT, shortVersion.constData()), this);
    auto *version = new QLabel(StrF(IDS_ABOUT_VERSION, QUILLET_VERSION), this);
    auto *platforms = new QLabel(Str(IDS_ABOUT_PLATFORMS), this);
    for (QLabel *label : {product, version, platforms})
        label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto *ok = new QPushButton(Str(IDS_OK), this);
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);

    auto *layout = new QGridLayout(this);
    layout->setContentsMargins(16, 16, 16, 12);
    layout->setHorizontalSpacing(16);
    layout->addWidget(icon, 0, 0, 3, 1);
    layout->addWidget(product, 0, 1);
    layout->addWidget(version, 1, 1);
    layout->addWidget(platforms, 2, 1);
    layout->addWidget(ok, 0, 2, Qt::AlignTop);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

} // namespace orvane
