#pragma once

// A WebSocket client for tests: collects every frame it receives.
#include "../common/timescale.h"

#include <QByteArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QObject>
#include <QStringList>
#include <QUrl>
#include <QWebSocket>
#include <QtTest>

class WsClient : public QObject
{
public:
    // origin: the handshake's Origin header, as a browser sends it; none when empty.
    explicit WsClient(QObject* parent = nullptr, const QString& origin = QString()) : QObject(parent), m_socket(origin)
    {
        connect(&m_socket, &QWebSocket::textMessageReceived, this, [this](const QString& s) { m_texts.append(s); });
        connect(&m_socket, &QWebSocket::binaryMessageReceived, this, [this](const QByteArray& b) { m_binaries.append(b); });
        connect(&m_socket, &QWebSocket::disconnected, this, [this] { m_bDisconnected = true; });
    }

    bool open(quint16 port, int nTimeoutMs = 10000)
    {
        m_socket.open(QUrl(QStringLiteral("ws://127.0.0.1:%1").arg(port)));
        QElapsedTimer timer;
        timer.start();
        while (m_socket.state() != QAbstractSocket::ConnectedState && timer.elapsed() < vttest::ScaledMs(nTimeoutMs))
            QTest::qWait(5);
        return m_socket.state() == QAbstractSocket::ConnectedState;
    }

    void send(const QString& text) { m_socket.sendTextMessage(text); }
    void send(const QJsonObject& request) { send(QString::fromUtf8(QJsonDocument(request).toJson(QJsonDocument::Compact))); }

    // Waits for the next text frame (deadline, no fixed sleep); null on timeout.
    QString next(int nTimeoutMs = 20000)
    {
        QElapsedTimer timer;
        timer.start();
        while (m_texts.isEmpty() && timer.elapsed() < vttest::ScaledMs(nTimeoutMs))
            QTest::qWait(2);
        return m_texts.isEmpty() ? QString() : m_texts.takeFirst();
    }

    // Sends a request and returns the "Result" of the reply, checking that
    // the reply names the same function.
    QString call(const QJsonObject& request, int nTimeoutMs = 60000)
    {
        send(request);
        const QString text = next(nTimeoutMs);
        const QJsonObject reply = QJsonDocument::fromJson(text.toUtf8()).object();
        if (reply.value(QStringLiteral("Func")).toString() != request.value(QStringLiteral("Func")).toString()) {
            qWarning() << "unexpected frame" << text << "for" << request;
            return QStringLiteral("<no reply>");
        }
        return reply.value(QStringLiteral("Result")).toString();
    }

    QWebSocket m_socket;
    QStringList m_texts;
    QList<QByteArray> m_binaries;
    bool m_bDisconnected = false;
};

inline QJsonObject req(const QString& func, std::initializer_list<QPair<QString, QJsonValue>> members = {})
{
    QJsonObject o;
    o.insert(QStringLiteral("Func"), func);
    for (const auto& m : members)
        o.insert(m.first, m.second);
    return o;
}
