// The request dispatcher: any text a page may send, answered by a pad
// stand-in that gives back what it was asked. Every reply has exactly
// "Func" and "Result", both strings, and "Func" is a function name that
// the request spelt out as it is.
#include "accesssettings.h"
#include "signobjinterface.h"
#include "signobjmanager.h"
#include "websocketservice.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

class EchoSignObj : public SignObjInterface
{
public:
    bool InitialDevice(int nID, int nWidth, int nHeight) override { return (nID ^ nWidth ^ nHeight) & 1; }
    bool UnInitialDevice() override { return true; }
    QString SaveDrawImage(int nType, int nDPI, QString strPath) override
    {
        return QString::number(nType) + QString::number(nDPI) + strPath;
    }
    QString Decode(int nType, QString strPath, QString strData) override
    {
        return QString::number(nType) + strPath + strData.left(64);
    }
    QString GetDeviceInfo(int nType) override { return QString::number(nType); }
    QString Encode(int nType) override { return QString::number(nType); }
    int GetSize() override { return 3; }
};

WebSocketService* g_pService = nullptr;

void Fail(const char* what, const uint8_t* data, size_t size)
{
    fprintf(stderr, "%s for: %.*s\n", what, int(size), reinterpret_cast<const char*>(data));
    abort();
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    new QCoreApplication(*argc, *argv);
    SignObjManager::SetCreationTable([](int) -> SignObjInterface* { return new EchoSignObj(); });
    AccessSettings access;
    access.bListenLoopbackOnly = true;
    g_pService = new WebSocketService(0, access);
    if (!g_pService->signObjManager())
        abort(); // without a manager every request is refused
    g_pService->ProcessRequestedJsonString(QStringLiteral("{\"Func\":\"InitialDevice\",\"id\":\"2\"}"));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), int(size));
    const QJsonObject reply = g_pService->ProcessRequestedJsonString(QString::fromUtf8(bytes));
    if (reply.isEmpty())
        return 0;
    if (reply.size() != 2 || !reply.value("Func").isString() || !reply.value("Result").isString())
        Fail("malformed reply", data, size);
    // Spelt out as it is: the name between quotes, unless escapes spell it.
    const QByteArray quoted = "\"" + reply.value("Func").toString().toUtf8() + "\"";
    if (!bytes.contains(quoted) && !bytes.contains('\\'))
        Fail("reply to a name not sent", data, size);
    return 0;
}
