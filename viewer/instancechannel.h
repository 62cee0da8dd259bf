#pragma once
// One viewer per user: the first one listens on a local socket named after
// the application title; a later start hands its file (or just a wake-up) to
// it and ends.

#include <QObject>
#include <QString>

class QLocalServer;

namespace orvane {

class CInstanceChannel : public QObject
{
    Q_OBJECT
public:
    explicit CInstanceChannel(QString name, QObject *parent = nullptr);
    ~CInstanceChannel() override;

    // The socket name for this user: the title plus the user id, so another
    // user's viewer on the same machine does not count.
    static QString DefaultName();

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
