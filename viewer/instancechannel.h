#pragma once
// One viewer per desktop: the first one listens on a local socket named after
// the application title, the user, the session and the display; a later start
// there hands its file (or just a wake-up) to it and ends.

#include <QObject>
#include <QString>

class QLocalServer;
class QProcessEnvironment;

namespace orvane {

class CInstanceChannel : public QObject
{
    Q_OBJECT
public:
    explicit CInstanceChannel(QString name, QObject *parent = nullptr);
    ~CInstanceChannel() override;

    // The socket name for this process: NameFor() its environment.
    static QString DefaultName();
    // The title plus the user id, the login session and the display, so a
    // viewer of another user, or on another display (another seat, a remote
    // X display, a nested server), is never the one a start hands over to:
    // its file would replace what someone else is reading, and nothing would
    // show where the start was made.
    static QString NameFor(const QProcessEnvironment &environment);

    // True when a viewer answers on the socket; it has then been handed the
    // file path, made absolute against this process's folder (empty: only
    // come to the front).
    bool HandOver(const QString &filePath, int timeoutMs = 2000) const;
    // Starts listening; false when the socket cannot be made.
    bool Listen();

signals:
    // A later start asked to come forward and, when path is not empty, open it.
    void requested(const QString &path);

private:
    void OnNewConnection();

    QString m_name;
    QLocalServer *m_server = nullptr;
};

} // namespace orvane
