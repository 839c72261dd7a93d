#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QMap>
#include <QMetaType>
#include <QObject>
#include <QQueue>
#include <QString>

class QTcpServer;
class QTcpSocket;

// One scripted answer of the fake service.
struct FakeReply
{
    enum Mode {
        Normal,   // status line, headers and the whole body
        Drop,     // close the connection without answering
        Truncate, // announce the full length, send half of the body, then close
        Silent,   // never answer (the client's time-out must end the wait)
    };
    int status = 200;
    QByteArray body;
    Mode mode = Normal;
    int delayMs = 0;

    static FakeReply json(const QByteArray& body) { return FakeReply{200, body, Normal, 0}; }
};

Q_DECLARE_METATYPE(FakeReply)

// One request as the fake service received it.
struct RecordedRequest
{
    QByteArray method;
    QByteArray path;                      // without the query
    QMap<QByteArray, QByteArray> headers; // lower-case names
    QByteArray body;
};

// A loopback HTTP/1.1 server that records every request and answers with
// scripted replies: per path a queue of replies, then a default reply for the
// path, then 404. Keeps connections alive like a real server.
class FakeService : public QObject
{
    Q_OBJECT
public:
    explicit FakeService(QObject* parent = nullptr);
    ~FakeService() override;

    bool listen();
    // Serves HTTPS instead, with the given PEM certificate and key.
    bool listenTls(const QString& certificatePem, const QString& keyPem);
    quint16 port() const;
    // "http://127.0.0.1:<port>/"
    QString baseUrl() const;
    bool isTls() const;

    void enqueue(const QByteArray& path, const FakeReply& reply);
    void setDefault(const QByteArray& path, const FakeReply& reply);

    QList<RecordedRequest> requests() const { return m_requests; }
    QList<RecordedRequest> requestsTo(const QByteArray& path) const;
    void clearRequests() { m_requests.clear(); }

    // A login reply in the protocol's format.
    QByteArray loginReply(const QByteArray& token, int pieceLength = 500, bool vip = false,
                          const QByteArray& errorCode = {}, const QByteArray& errorMsg = {}) const;
    // The check endpoint the login reply names: "api/v2/check/".
    static QByteArray checkPath() { return "/api/v2/check/"; }
    static QByteArray authPath() { return "/api/v2/auth/"; }

signals:
    void requestReceived(const RecordedRequest& request);

private:
    void onReadyRead(QTcpSocket* socket);
    void answer(QTcpSocket* socket, const RecordedRequest& request);
    void send(QTcpSocket* socket, const FakeReply& reply);

    QTcpServer* m_server = nullptr;
    QHash<QTcpSocket*, QByteArray> m_buffers;
    QHash<QByteArray, QQueue<FakeReply>> m_queues;
    QHash<QByteArray, FakeReply> m_defaults;
    QList<RecordedRequest> m_requests;
};
