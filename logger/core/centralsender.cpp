#include "centralsender.h"

#include "centralschema.h"
#include "centraluri.h"
#include "database.h"
#include "globals.h"
#include "hostservices.h"
#include "outbox.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QMutex>
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QThread>
#include <QTimer>
#include <QUuid>
#include <QVariant>
#include <atomic>
#include <cstdio>
#include <libpq-fe.h>
#include <memory>
#include <sys/socket.h>

namespace quillet {

namespace {

const QString kTable = QStringLiteral("tarrow");
const QString kPgConnection = QStringLiteral("QuilletCentral");
const QString kOutboxConnection = QStringLiteral("QuilletOutboxSender");

// The few words the status bar has room for.
QString classify(const QSqlError &error)
{
    const QString code = error.nativeErrorCode();
    const QString text = error.databaseText();
    if (code == QLatin1String("42501") || text.contains(QLatin1String("permission denied")))
        return QStringLiteral("no privilege");
    if (code == QLatin1String("42P01"))
        return QStringLiteral("no table");
    if (text.contains(QLatin1String("could not translate host name")))
        return QStringLiteral("unknown host");
    if (text.contains(QLatin1String("password")) ||
        text.contains(QLatin1String("authentication")) ||
        text.contains(QLatin1String("pg_hba.conf")) ||
        (text.contains(QLatin1String("role \"")) && text.contains(QLatin1String("does not exist"))))
        return QStringLiteral("login refused");
    if (text.contains(QLatin1String("database \"")) &&
        text.contains(QLatin1String("does not exist")))
        return QStringLiteral("no such database");
    if (text.startsWith(QLatin1String("invalid")))
        return QStringLiteral("bad URI option");
    // 57P01..57P03: shut down by an administrator, shutting down, starting up.
    if (code.startsWith(QLatin1String("57P")) || text.contains(QLatin1String("shutting down")) ||
        text.contains(QLatin1String("starting up")) || error.type() == QSqlError::ConnectionError ||
        text.contains(QLatin1String("connection")) || text.contains(QLatin1String("server")) ||
        text.contains(QLatin1String("timeout")))
        return QStringLiteral("server unreachable");
    return QStringLiteral("server error");
}

QString detailOf(const QSqlError &error)
{
    QString text = error.databaseText().isEmpty() ? error.text() : error.databaseText();
    return text.simplified();
}

// One element of an array value, quoted: the array's own syntax, inside a
// value that is bound, never spliced into the statement. PostgreSQL text
// holds no NUL; the log shows it as its visible symbol too.
void appendArrayElement(QString &array, const QString &value)
{
    if (array.size() > 0)
        array += QLatin1Char(',');
    array += QLatin1Char('"');
    for (const QChar c : value) {
        if (c == QLatin1Char('"') || c == QLatin1Char('\\'))
            array += QLatin1Char('\\');
        array += c.unicode() == 0 ? QChar(0x2400) : c;
    }
    array += QLatin1Char('"');
}

QStringList schemaStatements()
{
    QStringList statements;
    QString current;
    for (const QString &line : CentralSchemaSql().split(QLatin1Char('\n'))) {
        const qsizetype comment = line.indexOf(QLatin1String("--"));
        current += (comment < 0 ? line : line.left(comment)) + QLatin1Char('\n');
        if (current.trimmed().endsWith(QLatin1Char(';'))) {
            statements << current.trimmed().chopped(1);
            current.clear();
        }
    }
    return statements;
}

// Opens a QPSQL connection; false with the reason and the server's words.
bool openCentral(const QString &name, const CentralTarget &target, QString &reason, QString &detail)
{
    if (!QSqlDatabase::isDriverAvailable(QStringLiteral("QPSQL"))) {
        reason = QStringLiteral("no PostgreSQL driver");
        detail = QStringLiteral("Qt's PostgreSQL driver QPSQL is not installed (Debian package "
                                "libqt6sql6-psql)");
        return false;
    }
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), name);
    db.setConnectOptions(target.connectOptions());
    if (db.open())
        return true;
    reason = classify(db.lastError());
    detail = detailOf(db.lastError());
    return false;
}

class Sender;
Sender *s_sender = nullptr;

// ---- what the GUI thread shows ----

// The one view of the sender that the whole program shares, like the
// connections under it; whoever shows it hears of its changes.
class View : public QObject
{
    Q_OBJECT
public:
    bool active = false;
    qint64 waiting = 0;    // as the sender last counted, plus pending
    QList<qint64> pending; // rows added since that count
    QString reason;
    QString detail;

    void reset()
    {
        active = false;
        waiting = 0;
        pending.clear();
        reason.clear();
        detail.clear();
    }

signals:
    void changed();
};

View &centralView()
{
    static View view;
    return view;
}

void refreshPanel()
{
    emit centralView().changed();
}

quint64 s_serial = 0; // of the sender in use

void ApplyCentralReport(quint64 from, qint64 waiting, qint64 lastId, const QString &reason,
                        const QString &detail, const QString &trace)
{
    // A report still queued from a sender stopped since tells nothing now.
    if (from != s_serial) {
        if (!trace.isEmpty())
            WriteDebugTrace(trace);
        return;
    }
    // A row the GUI thread added after the sender's count is still pending.
    centralView().pending.removeIf([lastId](qint64 id) { return id <= lastId; });
    if (waiting >= 0)
        centralView().waiting = waiting + centralView().pending.size();
    centralView().reason = reason;
    centralView().detail = detail;
    // Last: the trace lets events through, and a newer report run among them
    // must not have its state overwritten by this older one.
    if (!trace.isEmpty())
        WriteDebugTrace(trace);
    refreshPanel();
}

// ---- the worker ----
class Sender
{
public:
    Sender()
    {
        thread = new QThread;
        thread->setObjectName(QStringLiteral("central sender"));
        context = new QObject;
        context->moveToThread(thread);
        thread->start();
        QMetaObject::invokeMethod(context, [this] {
            timer = new QTimer(context);
            timer->setSingleShot(true);
            QObject::connect(timer, &QTimer::timeout, context, [this] { cycle(); });
        });
    }

    // GUI thread.
    void configure(const QString &uri, const QString &outboxPath)
    {
        {
            QMutexLocker lock(&mutex);
            m_uri = uri;
            m_outboxPath = outboxPath;
            ++m_generation;
        }
        wake();
    }
    void wake()
    {
        QMetaObject::invokeMethod(context, [this] {
            // A wait after a failure is kept: new alarms do not hurry a retry.
            if (!stopping && timer && !timer->isActive())
                cycle();
        });
    }
    // Unblocks a network call that waits on a server that stopped answering.
    void cutConnection()
    {
        QMutexLocker lock(&mutex);
        if (m_socket >= 0)
            ::shutdown(m_socket, SHUT_RDWR);
    }

    QThread *thread = nullptr;
    QObject *context = nullptr;
    std::atomic<bool> stopping{false};
    const quint64 serial = ++s_serial;

    // Worker thread from here on.
    void finish()
    {
        if (timer)
            timer->stop();
        closeCentral();
        CloseOutbox(kOutboxConnection);
        QThread::currentThread()->quit();
    }

private:
    void cycle();
    bool ensureCentral(QString &reason, QString &detail);
    bool send(const QList<OutboxRow> &rows, QString &reason, QString &detail);
    void closeCentral();
    void fail(qint64 waiting, const QString &reason, const QString &detail);
    void report(qint64 waiting, const QString &reason, const QString &detail, const QString &trace);
    qint64 m_lastId = 0; // the highest outbox id at the last count

    QMutex mutex;
    QString m_uri, m_outboxPath;
    quint64 m_generation = 0;
    int m_socket = -1;

    QTimer *timer = nullptr;
    quint64 m_seen = 0;
    CentralTarget m_target;
    QString m_parseError;
    bool m_check = false; // connect once even with nothing to send: early word of a fault
    bool m_open = false;
    int m_wait = 0;
    std::unique_ptr<QSqlQuery> m_insert;
};

void Sender::report(qint64 waiting, const QString &reason, const QString &detail,
                    const QString &trace)
{
    QMetaObject::invokeMethod(
        qApp, [serial = serial, lastId = m_lastId, waiting, reason, detail, trace] {
            ApplyCentralReport(serial, waiting, lastId, reason, detail, trace);
        });
}

void Sender::fail(qint64 waiting, const QString &reason, const QString &detail)
{
    m_wait = m_wait == 0 ? CentralRetryMs() : std::min(2 * m_wait, 30 * CentralRetryMs());
    report(waiting, reason, detail,
           QStringLiteral("Central database: %1 (%2); %3 rows wait, retry in %4 ms")
               .arg(reason, detail)
               .arg(waiting)
               .arg(m_wait));
    timer->start(m_wait);
}

void Sender::closeCentral()
{
    m_insert.reset();
    {
        QMutexLocker lock(&mutex);
        m_socket = -1;
    }
    ReleaseConnection(kPgConnection);
    m_open = false;
}

bool Sender::ensureCentral(QString &reason, QString &detail)
{
    if (m_open)
        return true;
    if (!openCentral(kPgConnection, m_target, reason, detail)) {
        ReleaseConnection(kPgConnection);
        return false;
    }
    QSqlDatabase db = QSqlDatabase::database(kPgConnection, false);
    const QVariant handle = db.driver()->handle();
    if (handle.isValid() && qstrcmp(handle.typeName(), "pg_conn*") == 0) {
        PGconn *conn = *static_cast<PGconn *const *>(handle.constData());
        QMutexLocker lock(&mutex);
        m_socket = PQsocket(conn);
    }
    // Created at the first connection, unless an administrator made it: a
    // login that may not create tables in the schema is refused even a
    // CREATE TABLE IF NOT EXISTS. Loggers that start together take turns
    // (two creating one table at once would fail one of them).
    QSqlQuery q(db);
    auto exists = [&] {
        return q.exec(QStringLiteral("SELECT to_regclass('%1') IS NOT NULL").arg(kTable)) &&
               q.next() && q.value(0).toBool();
    };
    bool ok = true;
    if (!exists() && q.lastError().type() == QSqlError::NoError) {
        ok =
            db.transaction() &&
            q.exec(
                QStringLiteral("SELECT pg_advisory_xact_lock(hashtext('quillet %1'))").arg(kTable));
        if (ok && !exists())
            for (const QString &statement : schemaStatements())
                if (!(ok = q.exec(statement)))
                    break;
        ok = ok && q.lastError().type() == QSqlError::NoError;
        if (ok)
            ok = db.commit();
        else
            db.rollback();
    } else if (q.lastError().type() != QSqlError::NoError) {
        ok = false;
    }
    if (!ok) {
        const QSqlError error =
            q.lastError().type() != QSqlError::NoError ? q.lastError() : db.lastError();
        reason = classify(error);
        detail = detailOf(error);
        q = QSqlQuery(); // released before their connection
        db = QSqlDatabase();
        closeCentral();
        return false;
    }
    m_open = true;
    return true;
}

bool Sender::send(const QList<OutboxRow> &rows, QString &reason, QString &detail)
{
    if (!m_insert) {
        // Each column one bound array: the server reads a batch as five
        // values instead of parsing thousands of literals, and the ids
        // follow the outbox's order. The unique key drops an alarm another
        // logger (or an earlier try whose answer was lost) already stored.
        m_insert = std::make_unique<QSqlQuery>(QSqlDatabase::database(kPgConnection, false));
        const QString sql =
            QStringLiteral("INSERT INTO %1 (Date, AlarmCallerID, AlarmMessage, logger, "
                           "received_at) SELECT d, c, m, l, r FROM unnest(?::text[], ?::text[], "
                           "?::text[], ?::text[], ?::timestamptz[]) WITH ORDINALITY AS "
                           "b(d, c, m, l, r, n) ORDER BY n ON CONFLICT DO NOTHING")
                .arg(kTable);
        if (!m_insert->prepare(sql)) {
            reason = classify(m_insert->lastError());
            detail = detailOf(m_insert->lastError());
            m_insert.reset();
            return false;
        }
    }
    QString columns[5];
    for (QString &c : columns)
        c.reserve(rows.size() * 48);
    for (const OutboxRow &row : rows) {
        const QString *values[] = {&row.date, &row.callerID, &row.message, &row.logger,
                                   &row.receivedAt};
        for (int i = 0; i < 5; ++i)
            appendArrayElement(columns[i], *values[i]);
    }
    for (QString &c : columns) {
        c.prepend(QLatin1Char('{'));
        c.append(QLatin1Char('}'));
        m_insert->addBindValue(c);
    }
    // One statement, committed by the server before it answers.
    if (m_insert->exec())
        return true;
    reason = classify(m_insert->lastError());
    detail = detailOf(m_insert->lastError());
    return false;
}

void Sender::cycle()
{
    if (stopping)
        return;
    QString uri, outboxPath;
    quint64 generation;
    {
        QMutexLocker lock(&mutex);
        uri = m_uri;
        outboxPath = m_outboxPath;
        generation = m_generation;
    }
    QString error;
    if (generation != m_seen) {
        m_seen = generation;
        closeCentral();
        CloseOutbox(kOutboxConnection);
        if (!ParseCentralURI(uri, m_target, m_parseError))
            m_parseError = m_parseError.isEmpty() ? QStringLiteral("malformed") : m_parseError;
        else
            m_parseError.clear();
        m_check = true;
        m_wait = 0;
    }
    if (!IsOutboxOpen(kOutboxConnection) && !OpenOutbox(kOutboxConnection, outboxPath, error)) {
        fail(-1, QStringLiteral("outbox unreadable"), error);
        return;
    }
    QList<OutboxRow> rows;
    if (!ReadOutboxRows(kOutboxConnection, CentralBatchRows, rows, error)) {
        CloseOutbox(kOutboxConnection);
        fail(-1, QStringLiteral("outbox unreadable"), error);
        return;
    }
    const qint64 waiting = CountOutboxRows(kOutboxConnection, &m_lastId);
    if (rows.isEmpty() && !m_check) {
        m_wait = 0;
        report(waiting, QString(), QString(), QString());
        return;
    }
    if (!m_parseError.isEmpty()) {
        fail(waiting, QStringLiteral("malformed URI"), m_parseError);
        return;
    }
    QString reason, detail;
    if (!ensureCentral(reason, detail)) {
        fail(waiting, reason, detail);
        return;
    }
    const bool firstWord = m_check;
    m_check = false;
    if (rows.isEmpty()) {
        m_wait = 0;
        report(waiting, QString(), QString(),
               firstWord
                   ? QStringLiteral("Central database: connected to %1").arg(m_target.describe())
                   : QString());
        return;
    }
    if (!send(rows, reason, detail)) {
        // Whatever the server did with the batch, it is sent again: a copy
        // it stored already is dropped by the unique key.
        closeCentral();
        fail(waiting, reason, detail);
        return;
    }
    if (!RemoveOutboxRows(kOutboxConnection, rows.last().id, error)) {
        fail(waiting, QStringLiteral("outbox unwritable"), error);
        return;
    }
    m_wait = 0;
    // Recounted by the next cycle, which comes at once.
    const qint64 left = qMax<qint64>(0, waiting - rows.size());
    report(left, QString(), QString(),
           QStringLiteral("Central database: %1 rows sent to %2, %3 wait")
               .arg(rows.size())
               .arg(m_target.describe())
               .arg(left));
    timer->start(0); // the next batch after the events queued meanwhile
}

} // namespace

int CentralRetryMs()
{
    static const int ms = [] {
        bool ok = false;
        const int value = qEnvironmentVariableIntValue("QUILLET_CENTRAL_RETRY_MS", &ok);
        return ok && value >= 10 && value <= 1000 ? value : 1000;
    }();
    return ms;
}

QString CentralSchemaSql()
{
    return QString::fromUtf8(kCentralSchemaSql);
}

bool CheckCentralDatabase()
{
    G.MDBFileFullPath = G.MDBFilePath.trimmed();
    const QString path = OutboxPath();
    const bool there = QFileInfo::exists(path);
    if (G.MDBFileFullPath == G.LastMDBFileFullPath && IsOutboxOpen(OutboxGuiConnection()) && there)
        return true;
    // A file database of before is released; the outbox is the local copy now.
    CloseMDBConnection();
    // Rows written into a file that was deleted under the connection would
    // vanish with it.
    if (!there)
        CloseOutbox(OutboxGuiConnection());
    QString error;
    if (!IsOutboxOpen(OutboxGuiConnection()) && !OpenOutbox(OutboxGuiConnection(), path, error)) {
        NoteMDBFailure(QStringLiteral("the outbox cannot be opened: ") + error);
        return false;
    }
    if (!s_sender)
        s_sender = new Sender;
    centralView().active = true;
    const qint64 waiting = CountOutboxRows(OutboxGuiConnection());
    centralView().pending.clear();
    if (waiting >= 0)
        centralView().waiting = waiting;
    s_sender->configure(G.MDBFileFullPath, path);
    G.LastMDBFileFullPath = G.MDBFileFullPath;
    refreshPanel();
    return true;
}

void NoteOutboxRowAdded(qint64 id)
{
    if (id <= 0)
        return; // an equal row was waiting
    centralView().pending.append(id);
    ++centralView().waiting;
    refreshPanel();
    if (s_sender)
        s_sender->wake();
}

bool AppendAlarmToOutbox(const QString &date, const QString &callerID, const QString &message)
{
    if (!IsOutboxOpen(OutboxGuiConnection())) {
        NoteMDBFailure(QStringLiteral("the outbox %1 is not open").arg(OutboxPath()));
        return false;
    }
    const OutboxRow row{0,
                        date,
                        callerID,
                        message,
                        LoggerNameInUse(),
                        QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs)};
    QString error;
    qint64 id = 0;
    if (!AppendOutboxRow(OutboxGuiConnection(), row, error, &id)) {
        NoteMDBFailure(QStringLiteral("outbox: ") + error);
        return false;
    }
    NoteOutboxRowAdded(id);
    return true;
}

QMetaObject::Connection OnCentralStatusChanged(QObject *receiver, std::function<void()> changed)
{
    return QObject::connect(&centralView(), &View::changed, receiver, std::move(changed));
}

QString CentralStatusText()
{
    if (!centralView().active || (centralView().waiting == 0 && centralView().reason.isEmpty()))
        return QString();
    // Short enough for the window's status bar; the tooltip says why.
    return QStringLiteral("%1 waiting").arg(centralView().waiting) +
           (centralView().reason.isEmpty() ? QString() : QStringLiteral("!"));
}

QString CentralStatusDetail()
{
    if (CentralStatusText().isEmpty())
        return QString();
    QString text =
        centralView().waiting == 1
            ? QStringLiteral("1 row waits for the central database")
            : QStringLiteral("%1 rows wait for the central database").arg(centralView().waiting);
    if (!centralView().reason.isEmpty())
        text += QStringLiteral(": ") + centralView().reason + QStringLiteral(" (") +
                centralView().detail + QLatin1Char(')');
    return text;
}

CentralState CentralStatus()
{
    const View &view = centralView();
    return {view.active, view.waiting, view.reason, view.detail};
}

bool StopCentralSender(int graceMs)
{
    Sender *sender = std::exchange(s_sender, nullptr);
    ++s_serial;
    CloseOutbox(OutboxGuiConnection());
    centralView().reset();
    if (!sender)
        return true;
    sender->stopping = true;
    QMetaObject::invokeMethod(sender->context, [sender] { sender->finish(); });
    if (!sender->thread->wait(graceMs)) {
        sender->cutConnection();
        if (!sender->thread->wait(1000)) {
            // Still inside a connect that the network does not answer. Its
            // batch is still in the outbox; the thread is left to the end of
            // the process rather than destroyed under itself.
            WriteDebugTrace(QStringLiteral("Central database: the sender did not stop; its rows "
                                           "stay in the outbox"));
            return false;
        }
    }
    delete sender->context;
    delete sender->thread;
    delete sender;
    return true;
}

bool TestCentralConnection(const QString &uri, QString &answer)
{
    CentralTarget target;
    QString error;
    if (!ParseCentralURI(uri, target, error)) {
        answer = QStringLiteral("The URI is malformed: ") + error;
        return false;
    }
    // Each test on a connection of its own, whatever thread it runs on.
    const QString name =
        QStringLiteral("QuilletCentralTest") + QUuid::createUuid().toString(QUuid::Id128);
    QString reason, detail;
    bool ok = openCentral(name, target, reason, detail);
    if (!ok) {
        answer = QStringLiteral("Cannot connect to %1 (%2):\r\n%3")
                     .arg(target.describe(), reason, detail);
    } else {
        QSqlQuery q(QSqlDatabase::database(name, false));
        ok = q.exec(QStringLiteral("SELECT version(), current_user, to_regclass('%1') IS NOT NULL, "
                                   "CASE WHEN to_regclass('%1') IS NULL THEN false "
                                   "ELSE has_table_privilege('%1', 'INSERT') END, "
                                   "has_schema_privilege(current_schema(), 'CREATE')")
                        .arg(kTable)) &&
             q.next();
        if (!ok) {
            answer = QStringLiteral("Connected to %1, but the server refused a question:\r\n%2")
                         .arg(target.describe(), detailOf(q.lastError()));
        } else {
            const bool exists = q.value(2).toBool();
            const bool insert = q.value(3).toBool();
            const bool create = q.value(4).toBool();
            const QString user = q.value(1).toString();
            QString table;
            if (exists && insert)
                table = QStringLiteral("Table %1 is there; %2 may insert rows.").arg(kTable, user);
            else if (exists)
                table = QStringLiteral("Table %1 is there, but %2 may not insert rows into it.")
                            .arg(kTable, user);
            else if (create)
                table = QStringLiteral("Table %1 is not there yet; it is created at the first "
                                       "connection.")
                            .arg(kTable);
            else
                table = QStringLiteral("Table %1 is not there, and %2 may not create it: have "
                                       "tarrow-postgresql.sql run by an administrator.")
                            .arg(kTable, user);
            answer =
                QStringLiteral("Connected to %1 as %2.\r\n%3\r\n%4")
                    .arg(target.describe(), q.value(1).toString(), q.value(0).toString(), table);
            ok = insert || (!exists && create);
        }
    }
    ReleaseConnection(name);
    return ok;
}

} // namespace quillet

#include "centralsender.moc"
