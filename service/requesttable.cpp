// The request protocol: the table of functions and the lookup that accepts
// or refuses a text request.
#include "requesttable.h"

#include "evidence.h"
#include "signobjinterface.h"
#include "signobjmanager.h"
#include "vtlog.h"

#include <QJsonDocument>
#include <QJsonValue>

namespace {

const int INK_IMAGE_TYPE = 6; // decodes into the SDK's point store, not a file

QString Flag(bool b) { return b ? QStringLiteral("1") : QStringLiteral("0"); }

QString TextMember(const QJsonObject& request, const char* pszKey)
{
    const QJsonValue value = request.value(QLatin1String(pszKey));
    return value.isString() ? value.toString() : QString("");
}

// Handlers of the rows below. Except for the first two, they run only while
// the manager holds an adapter, and act on it directly.
QString InitialDevice(const RequestCall& c)
{
    const bool bOpened = c.pManager->InitialDevice(c.Int(0), c.Int(1), c.Int(2));
    if (bOpened)
        c.StartKeyPoll();
    return Flag(bOpened);
}
QString UnInitialDevice(const RequestCall& c)
{
    c.StopKeyPoll(); // even when nothing is open
    return Flag(c.pManager->UnInitialDevice());
}
QString GetAboutInfo(const RequestCall& c) { return c.pPad->GetAboutInfo(); }
QString Clear(const RequestCall& c) { c.pPad->Clear(); return Flag(true); }
QString SetPenColor(const RequestCall& c) { c.pPad->SetPenColor(c.Int(0), c.Int(1), c.Int(2)); return Flag(true); }
QString SetPenWidth(const RequestCall& c) { c.pPad->SetPenWidth(c.Int(0)); return Flag(true); }
QString SetPenStyle(const RequestCall& c) { c.pPad->SetPenStyle(c.Int(0) == 0); return Flag(true); } // 0: pressure on
QString SaveDrawingImage(const RequestCall& c) { return c.pPad->SaveDrawImage(c.Int(0), c.Int(1), c.Text(2)); }
QString GetSize(const RequestCall& c) { return QString::number(c.pPad->GetSize()); }
QString GetPointer(const RequestCall& c) { return c.RawInkSealed() ? QStringLiteral("[]") : c.pPad->GetPointer(); }
QString SetClip(const RequestCall& c) { c.pPad->SetClip(c.Int(0), c.Int(1)); return Flag(true); }
QString PadID(const RequestCall& c) { return c.pPad->PadID(); }
QString PenID(const RequestCall& c) { return c.pPad->PenID(); }
QString VersionID(const RequestCall& c) { return c.pPad->VersionID(); }
QString ShowDeviceInfoOnLCD(const RequestCall& c) { c.pPad->DisplayDeviceInfoInLCD(c.Int(0) == 1); return Flag(true); }
QString OpenLCD(const RequestCall& c) { c.pPad->OpenLCD(); return Flag(true); }
QString CloseLCD(const RequestCall& c) { c.pPad->CloseLCD(); return Flag(true); }
QString GetDeviceInfo(const RequestCall& c) { return c.pPad->GetDeviceInfo(c.Int(0)); }
QString Encode(const RequestCall& c)
{
    const int nType = c.Int(0);
    return nType == INK_IMAGE_TYPE && c.RawInkSealed() ? QString("") : c.pPad->Encode(nType);
}
QString Decode(const RequestCall& c)
{
    const int nType = c.Int(0);
    return c.pPad->Decode(nType, nType == INK_IMAGE_TYPE ? QString("") : c.Text(2), c.Text(1));
}
QString GetDecodeFilePath(const RequestCall& c) { return c.pPad->GetDecodeFilePath(); }
QString GetInks(const RequestCall& c) { return c.pPad->GetInks(); }
QString SetDisplayedFPImageAt(const RequestCall& c)
{
    c.pPad->SetDisplayedFPImageAt(c.Int(0), c.Int(1), c.Int(2), c.Int(3), c.Int(4), c.Int(5));
    return Flag(true);
}
QString GetFingerPrintImage(const RequestCall& c) { return c.pPad->GetFingerPrintImage(c.Int(0) == 1); }
QString GetEvidence(const RequestCall& c) { return evidence::Answer(c.pPad, c.Text(0), c.Text(1), c.Text(2), c.Origin()); }
// Per connection, with or without a pad; the stream carries the open pad's points.
QString SubscribePenData(const RequestCall& c) { c.SubscribePenData(c.Int(0) == 1); return Flag(true); }

// One row per function, in the order names are compared. Setters answer
// "1" whether or not a pad is open; a null reply without a pad means the
// handler runs either way.
const RequestRow ROWS[] = {
    // Func                    members read                                                        no pad    handler, refused while open, large buffers
    {"InitialDevice",          {"id", "width", "height"},                                          nullptr,  InitialDevice, true}, // refused while a pad is open
    {"UnInitialDevice",        {"id"},                                                             nullptr,  UnInitialDevice}, // "id" is ignored
    {"GetAboutInfo",           {},                                                                 "",       GetAboutInfo},
    {"Clear",                  {},                                                                 "1",      Clear},
    {"SetPenColor",            {"r", "g", "b"},                                                    "1",      SetPenColor},
    {"SetPenWidth",            {"width"},                                                          "1",      SetPenWidth},
    {"SetPenStyle",            {"style"},                                                          "1",      SetPenStyle},
    {"SaveDrawingImage",       {"type", "dpi", "path"},                                            "",       SaveDrawingImage, false, true},
    {"GetSize",                {},                                                                 "0",      GetSize},
    {"GetPointer",             {},                                                                 "[]",     GetPointer},
    {"SetClip",                {"width", "height"},                                                "1",      SetClip},
    {"PadID",                  {},                                                                 "",       PadID},
    {"PenID",                  {},                                                                 "",       PenID},
    {"VersionID",              {},                                                                 "",       VersionID},
    {"ShowDeviceInfoOnLCD",    {"show"},                                                           "1",      ShowDeviceInfoOnLCD},
    {"OpenLCD",                {},                                                                 "1",      OpenLCD},
    {"CloseLCD",               {},                                                                 "1",      CloseLCD},
    {"GetDeviceInfo",          {"type"},                                                           "",       GetDeviceInfo},
    {"Encode",                 {"type"},                                                           "",       Encode, false, true},
    {"Decode",                 {"type", "data", "path"},                                           "",       Decode, false, true}, // no "path" for ink
    {"GetDecodeFilePath",      {},                                                                 "",       GetDecodeFilePath},
    {"GetInks",                {},                                                                 "",       GetInks, false, true},
    {"SetDisplayedFPImageAt",  {"canvaswidth", "canvasheight", "left", "top", "width", "height"},  "1",      SetDisplayedFPImageAt},
    {"GetFingerPrintImage",    {"fpimageonly"},                                                    "",       GetFingerPrintImage, false, true},
    {"SubscribePenData",       {"enable"},                                                         nullptr,  SubscribePenData}, // "1" on, else off
    {"GetEvidence",            {"doc", "nonce", "key"},                                            "-1",     GetEvidence, false, true},
};

QString ReplyWithoutPad(const RequestCall& c)
{
    return QString::fromLatin1(c.pRow->pszReplyWithoutPad);
}

// Qt's JSON reader decodes each string with QString::fromUtf8, which drops
// a byte order mark at the start: "\xEF\xBB\xBFClear" would read as "Clear".
// Written as the escape \ufeff the mark survives, and both spellings mean
// the same JSON text. Marks outside strings are left as they are.
QString KeepByteOrderMarks(const QString& message)
{
    const QChar bom(0xFEFF);
    if (!message.contains(bom))
        return message;
    QString out;
    out.reserve(message.size() + 16);
    bool bInString = false;
    bool bEscaped = false;
    for (const QChar c : message) {
        if (bInString && c == bom) {
            out += QLatin1String("\\ufeff");
            continue;
        }
        out += c;
        if (bEscaped)
            bEscaped = false;
        else if (bInString && c == QLatin1Char('\\'))
            bEscaped = true;
        else if (c == QLatin1Char('"'))
            bInString = !bInString;
    }
    return out;
}

} // namespace

const RequestRow* FindRequestRow(const QString& strFunc)
{
    for (const RequestRow& row : ROWS) {
        if (strFunc == QLatin1String(row.pszFunc))
            return &row;
    }
    return nullptr;
}

QJsonObject RequestReply(const QString& strFunc, const QString& strResult)
{
    QJsonObject object;
    object.insert(QStringLiteral("Func"), strFunc);
    object.insert(QStringLiteral("Result"), strResult);
    return object;
}

int RequestCall::Int(int i) const
{
    const char* pszKey = pRow->apszReads[i];
    const QJsonValue value = pszKey ? request.value(QLatin1String(pszKey)) : QJsonValue();
    if (!value.isString())
        return 0;
    bool bOk = false;
    const int n = value.toString().toInt(&bOk, 10);
    return bOk ? n : 0;
}

QString RequestCall::Text(int i) const
{
    const char* pszKey = pRow->apszReads[i];
    return pszKey ? TextMember(request, pszKey) : QString("");
}

RequestCall LookupRequest(const QString& message, RequestHost* pHost, SignObjManager* pManager, bool bPadOpen,
                          QWebSocket* pFrom)
{
    static const char* const LABEL = "WebSocketService::ProcessRequestedJsonString()";
    RequestCall call;
    call.request = QJsonDocument::fromJson(KeepByteOrderMarks(message).toUtf8()).object();
    if (!call.request.contains(QStringLiteral("Func"))) {
        VT_LOG(LABEL, "<%ld>-Leave due to 'bContainFuncKey == false' !!!");
        return RequestCall();
    }
    if (!pManager) {
        VT_LOG(LABEL, "<%ld>-Leave due to 'm_pSignObjMgr == nullptr' !!!");
        return RequestCall();
    }
    const QString strFunc = TextMember(call.request, "Func");
    const RequestRow* pRow = FindRequestRow(strFunc);
    if (!pRow) {
        VT_LOG(LABEL, "<%ld>-Leave due to invalid func name (%s) !!!", strFunc.toUtf8().constData());
        return RequestCall();
    }
    if (pRow->bRefusedWhileOpen && bPadOpen) {
        // The open pad stays open; the request gets no reply.
        VT_LOG(LABEL, "<%ld>-Leave due to 'm_bStartTimer == true' !!!");
        return RequestCall();
    }
    call.pRow = pRow;
    call.pHost = pHost;
    call.pFrom = pFrom;
    call.pManager = pManager;
    call.pPad = pManager->CurrentSignObj();
    call.pfnAnswer = call.pPad || !pRow->pszReplyWithoutPad ? pRow->handler : ReplyWithoutPad;
    // Copied, not moved, to the caller: QJsonObject's move needs Qt 5.15's library.
    return RequestCall(call);
}

