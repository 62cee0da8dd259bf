#pragma once
// Ties the pieces together: the pty, the frame assembler, the device with its
// faults, the modem and its SIM store, and the commands that steer them.

#include "device.h"
#include "frames.h"
#include "modem.h"
#include "ptyport.h"
#include "simstore.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

namespace devsim {

class Simulator : public QObject
{
    Q_OBJECT
public:
    Simulator(int capacity, int firstSlot, QObject *parent = nullptr);

    SimStore &store() { return m_store; }
    Modem &modem() { return m_modem; }
    Device &device() { return m_device; }
    PtyPort &port() { return m_port; }

    // Runs one control command (see CommandHelp) and returns its answer:
    // "ok ..." or "error: ...", or the lines of a dump.
    QString execute(const QString &line);

    // Stores the message a message line describes; false with a message
    // otherwise. Beyond the message fields, parts=N [ref=R] [refbits=8|16]
    // [slots=S1,S2,...] cut a long text into N parts with concatenation
    // headers and store part i in slot Si ("-" leaves that part out, to come
    // later or never).
    bool deliver(const QString &line, QString &answer);

    // A plain modem on the line: AT text straight from the pty, answers
    // written back as the modem types them; no device, no frames.
    void setDirect(bool on) { m_direct = on; }
    bool direct() const { return m_direct; }

    // The store as message lines, between "# store ..." and "# end".
    QString dump() const;
    // Rewrite this file with the dump after every change of the store.
    void setStateFile(const QString &path) { m_stateFile = path; }
    bool writeDump(const QString &path, QString &error) const;

    void setGapMs(int ms) { m_gap.setInterval(ms); }
    // Messages sent with AT+CMGS come back into the store (from the number
    // they were sent to) after `ms`, once the modem is registered and the
    // store has room; -1: they never come back (a hung path).
    void setLoopbackMs(int ms) { m_loopbackMs = ms; }
    void setVerbose(bool on) { m_verbose = on; }

    static QString CommandHelp();

signals:
    void quitRequested();

private:
    void onReceived(const QByteArray &bytes);
    // Direct mode: writes what the modem has typed and not yet written.
    void pumpTyped();
    bool storeParts(const StoredSms &whole, const QList<Word> &partWords, QString &answer);
    void serve(const QList<QByteArray> &requests);
    void storeChanged();
    // The commands for the modem's network and its sent messages
    // (registration, signal, deletes, loopback); empty for any other.
    QString executeNetwork(const QString &command, const QStringList &args);
    void loopBack(const SentSms &sent);
    QString faultSummary() const;
    void log(const QString &text) const;

    QElapsedTimer m_clock;
    SimStore m_store;
    Modem m_modem;
    Device m_device;
    PtyPort m_port;
    FrameAssembler m_assembler;
    QTimer m_gap;
    QTimer m_silentEnd;
    QTimer m_typing;
    bool m_direct = false;
    quint64 m_pumpedAnswer = 0;
    qsizetype m_pumped = 0;
    QString m_stateFile;
    bool m_verbose = false;
    int m_loopbackMs = -1;
};

} // namespace devsim
