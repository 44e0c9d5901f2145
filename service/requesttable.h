#pragma once

// The request table of the WebSocket protocol: one row per "Func", saying
// which members it reads, what it answers while no pad is held and which
// handler answers otherwise.
#include <QJsonObject>
#include <QString>

class QWebSocket;
class SignObjInterface;
class SignObjManager;
struct RequestCall;

// What handlers ask of the service that received the request.
class RequestHost
{
public:
    // The pad was opened: key poll and live reports start; and the reverse.
    virtual void StartKeyPoll() = 0;
    virtual void StopKeyPoll() = 0;
    // "SubscribePenData" of one connection (null: none, nothing changes).
    virtual void SubscribePenData(const QWebSocket* pFrom, bool bEnable) = 0;
    // The Origin header of the connection pFrom opened with ("" when none).
    virtual QString OriginOf(const QWebSocket* pFrom) const = 0;
    // Whether the site policy keeps the ink's dynamics from pFrom.
    virtual bool RawInkSealed(const QWebSocket* pFrom) const = 0;

protected:
    ~RequestHost() = default;
};

using RequestHandler = QString (*)(const RequestCall& call);

struct RequestRow {
    const char* pszFunc;          // exact, case-sensitive name
    const char* apszReads[6];     // members read, in the order the handler takes them
    const char* pszReplyWithoutPad; // null: the handler runs with or without a pad
    RequestHandler handler;
    bool bRefusedWhileOpen = false; // no reply while a pad is open
    bool bLargeBuffers = false;     // may build and free whole images: memory goes back to the system after
};

// An accepted request, ready to be answered by calling pfnAnswer(call).
struct RequestCall {
    const RequestRow* pRow = nullptr; // null: refused, no reply
    RequestHandler pfnAnswer = nullptr; // the row's handler, or its reply without a pad
    QJsonObject request;
    RequestHost* pHost = nullptr;
    SignObjManager* pManager = nullptr;
    SignObjInterface* pPad = nullptr; // the held adapter; null when none
    QWebSocket* pFrom = nullptr;      // the connection that asked; null when not over one

    // The row's i-th member: a number sent as a string of decimal digits
    // (anything else counts as 0), or a text ("" unless a string).
    int Int(int i) const;
    QString Text(int i) const;

    void StartKeyPoll() const { pHost->StartKeyPoll(); }
    void StopKeyPoll() const { pHost->StopKeyPoll(); }
    void SubscribePenData(bool bEnable) const { pHost->SubscribePenData(pFrom, bEnable); }
    QString Origin() const { return pHost && pFrom ? pHost->OriginOf(pFrom) : QString(); }
    bool RawInkSealed() const { return pHost && pHost->RawInkSealed(pFrom); }
};

// The call that answers a text request from pFrom, or one without a row
// (refused: no reply): not JSON, no "Func", an unknown name, no manager, or
// "InitialDevice" while bPadOpen.
RequestCall LookupRequest(const QString& message, RequestHost* pHost, SignObjManager* pManager, bool bPadOpen,
                          QWebSocket* pFrom);

// The row named by a request's "Func", or null.
const RequestRow* FindRequestRow(const QString& strFunc);

// {"Func": strFunc, "Result": strResult}
QJsonObject RequestReply(const QString& strFunc, const QString& strResult);
