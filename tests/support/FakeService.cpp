#include "FakeService.h"

#include <QFile>
#include <QHostAddress>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslKey>
#include <QSslSocket>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

namespace {

// A server whose connections are plain or TLS sockets.
class Server : public QTcpServer
{
public:
    using QTcpServer::QTcpServer;
    QSslConfiguration tls;
    bool useTls = false;

protected:
    void incomingConnection(qintptr descriptor) override
    {
        if (!useTls) {
            QTcpServer::incomingConnection(descriptor);
            return;
        }
        auto* socket = new QSslSocket(this);
        if (!socket->setSocketDescriptor(descriptor)) {
            delete socket;
            return;
        }
        socket->setSslConfiguration(tls);
        addPendingConnection(socket);
        socket->startServerEncryption();
    }
};

} // namespace

FakeService::FakeService(QObject* parent)
    : QObject(parent)
    , m_server(new Server(this))
{
    connect(m_server, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket* socket = m_server->nextPendingConnection()) {
            m_buffers.insert(socket, {});
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] { onReadyRead(socket); });
            connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
                m_buffers.remove(socket);
                socket->deleteLater();
            });
        }
    });
}

FakeService::~FakeService() = default;

bool FakeService::listen()
{
    return m_server->listen(QHostAddress::LocalHost, 0);
}

bool FakeService::listenTls(const QString& certificatePem, const QString& keyPem)
{
    QFile certFile(certificatePem), keyFile(keyPem);
    if (!certFile.open(QIODevice::ReadOnly) || !keyFile.open(QIODevice::ReadOnly))
        return false;
    auto* server = static_cast<Server*>(m_server);
    server->tls = QSslConfiguration::defaultConfiguration();
    server->tls.setLocalCertificate(QSslCertificate(&certFile, QSsl::Pem));
    server->tls.setPrivateKey(QSslKey(&keyFile, QSsl::Rsa, QSsl::Pem));
    server->tls.setPeerVerifyMode(QSslSocket::VerifyNone);
    server->useTls = true;
    return listen();
}

bool FakeService::isTls() const
{
    return static_cast<Server*>(m_server)->useTls;
}

quint16 FakeService::port() const
{
    return m_server->serverPort();
}

QString FakeService::baseUrl() const
{
    return QStringLiteral("%1://127.0.0.1:%2/").arg(isTls() ? "https" : "http").arg(port());
}

void FakeService::enqueue(const QByteArray& path, const FakeReply& reply)
{
    m_queues[path].enqueue(reply);
}

void FakeService::setDefault(const QByteArray& path, const FakeReply& reply)
{
    m_defaults.insert(path, reply);
}

QList<RecordedRequest> FakeService::requestsTo(const QByteArray& path) const
{
    QList<RecordedRequest> result;
    for (const RecordedRequest& request : m_requests) {
        if (request.path == path)
            result.append(request);
    }
    return result;
}

QByteArray FakeService::loginReply(const QByteArray& token, int pieceLength, bool vip, const QByteArray& errorCode,
                                   const QByteArray& errorMsg) const
{
    QJsonObject reply{{"access_token", QString::fromUtf8(token)},
                      {"checker_url", baseUrl() + QString::fromLatin1(checkPath().mid(1))},
                      {"piece_length", pieceLength},
                      {"is_vip", vip},
                      {"user_name", QString()},
                      {"error_code", QString::fromUtf8(errorCode)},
                      {"error_msg", QString::fromUtf8(errorMsg)}};
    reply.remove(QStringLiteral("user_name"));
    return QJsonDocument(reply).toJson(QJsonDocument::Compact);
}

void FakeService::onReadyRead(QTcpSocket* socket)
{
    if (!m_buffers.contains(socket))
        return;
    // Answering may close the socket (and drop its buffer), so work on a copy.
    QByteArray buffer = m_buffers.value(socket) + socket->readAll();
    m_buffers[socket] = buffer;
    for (;;) {
        const int headerEnd = buffer.indexOf("\r\n\r\n");
        if (headerEnd < 0)
            return;
        const QList<QByteArray> lines = buffer.left(headerEnd).split('\n');
        RecordedRequest request;
        const QList<QByteArray> requestLine = lines.value(0).trimmed().split(' ');
        request.method = requestLine.value(0);
        const QByteArray target = requestLine.value(1);
        request.path = target.left(target.indexOf('?') < 0 ? target.size() : target.indexOf('?'));
        for (int i = 1; i < lines.size(); ++i) {
            const int colon = lines[i].indexOf(':');
            if (colon > 0)
                request.headers.insert(lines[i].left(colon).trimmed().toLower(), lines[i].mid(colon + 1).trimmed());
        }
        const int length = request.headers.value("content-length", "0").toInt();
        if (buffer.size() < headerEnd + 4 + length)
            return;
        request.body = buffer.mid(headerEnd + 4, length);
        buffer.remove(0, headerEnd + 4 + length);
        m_buffers[socket] = buffer;
        m_requests.append(request);
        emit requestReceived(request);
        answer(socket, request);
        if (!m_buffers.contains(socket))
            return;
    }
}

void FakeService::answer(QTcpSocket* socket, const RecordedRequest& request)
{
    FakeReply reply;
    auto queue = m_queues.find(request.path);
    if (queue != m_queues.end() && !queue->isEmpty())
        reply = queue->dequeue();
    else if (m_defaults.contains(request.path))
        reply = m_defaults.value(request.path);
    else
        reply = FakeReply{404, "{}", FakeReply::Normal, 0};

    if (reply.delayMs > 0) {
        QTimer::singleShot(reply.delayMs, socket, [this, socket, reply] { send(socket, reply); });
        return;
    }
    send(socket, reply);
}

void FakeService::send(QTcpSocket* socket, const FakeReply& reply)
{
    switch (reply.mode) {
    case FakeReply::Silent:
        return;
    case FakeReply::Drop:
        socket->abort();
        return;
    case FakeReply::Normal:
    case FakeReply::Truncate:
        break;
    }
    QByteArray head = "HTTP/1.1 " + QByteArray::number(reply.status) + (reply.status == 200 ? " OK" : " Error") +
                      "\r\nContent-Type: application/json; charset=utf-8\r\nContent-Length: " +
                      QByteArray::number(reply.body.size()) + "\r\nConnection: keep-alive\r\n\r\n";
    socket->write(head);
    if (reply.mode == FakeReply::Truncate) {
        socket->write(reply.body.left(reply.body.size() / 2));
        socket->flush();
        socket->disconnectFromHost();
        return;
    }
    socket->write(reply.body);
}
