#include "service.h"

#include "mainwindow.h"

namespace quillet::app {

ServiceReporter::ServiceReporter(QObject *parent) : QObject(parent) {}

void ServiceReporter::attach(frmMain &form)
{
    m_form = &form;
    connect(&form, &frmMain::statusPanelsChanged, this, [this] { sendStatus(); });
}

QByteArray ServiceReporter::statusLine() const
{
    if (!m_form)
        return QByteArray();
    QString line = m_form->statusPanelText(QStringLiteral("Status"));
    // What keeps the logger from its work: "Offline (SIM not ready: SIM PIN; retrying)".
    const QString note = m_form->statusPanelText(QStringLiteral("Note"));
    if (!note.isEmpty())
        line += QStringLiteral(" (") + note + QLatin1Char(')');
    const QString action = m_form->statusPanelText(QStringLiteral("Action"));
    if (!action.isEmpty())
        line += QStringLiteral(", ") + action;
    return SdNotify::statusLine(line);
}

void ServiceReporter::ready()
{
    m_lastStatus = statusLine();
    m_ready = true;
    m_notify.send("READY=1\n" + m_lastStatus);
}

void ServiceReporter::sendStatus()
{
    if (!m_ready)
        return;
    const QByteArray line = statusLine();
    if (line == m_lastStatus)
        return;
    m_lastStatus = line;
    m_notify.send(line);
}

void ServiceReporter::pollProgress()
{
    const qint64 usec = m_notify.watchdogUsec();
    if (usec <= 0 || !m_ready)
        return;
    if (m_sinceHeartbeat.isValid() && m_sinceHeartbeat.nsecsElapsed() / 1000 < usec / 2)
        return;
    m_sinceHeartbeat.start();
    m_notify.send("WATCHDOG=1");
}

void ServiceReporter::stopping()
{
    m_notify.send("STOPPING=1");
}

} // namespace quillet::app
