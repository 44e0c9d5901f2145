#include "livestream.h"

#include "compactjson.h"
#include "vtlog.h"

namespace {

QString Envelope(const char* pszFunc, const QString& strResult)
{
    return CompactReply(QLatin1String(pszFunc), strResult);
}

} // namespace

LiveStream::LiveStream(Hooks hooks, QObject* parent) : QObject(parent), m_hooks(std::move(hooks))
{
    m_flushTimer.setSingleShot(true);
    m_flushTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_flushTimer, &QTimer::timeout, this, &LiveStream::Flush);
}

LiveStream::~LiveStream()
{
    Detach();
}

void LiveStream::Attach(SignObjInterface* pPad)
{
    Detach();
    if (pPad && pPad->SetPadReports(this))
        m_pPad = pPad;
}

void LiveStream::Detach()
{
    if (!m_pPad)
        return;
    m_pPad->SetPadReports(nullptr); // no report arrives after this
    m_pPad = nullptr;
    Flush(); // what was stored before the close still goes out
}

QString LiveStream::BatchText(const std::vector<Point>& points, bool bSealed)
{
    CompactJsonArray array(int(points.size()) * 96);
    for (const Point& p : points) {
        array.beginObject();
        array.member("bStrokeEnd", p.bStrokeEnd ? 1 : 0);
        array.member("cx", p.nCanvasX);
        array.member("cy", p.nCanvasY);
        if (bSealed) {
            array.endObject();
            continue;
        }
        array.member("pressure", p.nPressure);
        array.member("t", p.nMsSinceOpen);
        array.member("x", p.nX);
        array.member("y", p.nY);
        array.endObject();
    }
    return array.finish();
}

void LiveStream::PointStored(const Point& point)
{
    bool bPost;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_points.push_back(point);
        bPost = !m_bPosted;
        m_bPosted = true;
    }
    // One wake-up per batch, not per point.
    if (bPost)
        QMetaObject::invokeMethod(this, [this] { PointsWaiting(); }, Qt::QueuedConnection);
}

void LiveStream::PointsWaiting()
{
    const qint64 nSince = m_sinceFlush.isValid() ? m_sinceFlush.elapsed() : BATCH_MS;
    if (nSince >= BATCH_MS)
        Flush();
    else if (!m_flushTimer.isActive())
        m_flushTimer.start(int(BATCH_MS - nSince));
}

void LiveStream::Flush()
{
    std::vector<Point> points;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        points.swap(m_points);
        m_bPosted = false;
    }
    m_flushTimer.stop();
    if (points.empty())
        return;
    m_sinceFlush.start();
    m_hooks.pfnPushPenData(Envelope("PenData", BatchText(points)), Envelope("PenData", BatchText(points, true)));
}

void LiveStream::KeyTouched()
{
    QMetaObject::invokeMethod(this, [this] { m_hooks.pfnKeyTouched(); }, Qt::QueuedConnection);
}

void LiveStream::PadAttached(bool bAttached)
{
    QMetaObject::invokeMethod(
        this,
        [this, bAttached] {
            VT_LOG("LiveStream::PadAttached()", "<%ld>-the pad is %s", bAttached ? "back" : "gone");
            m_hooks.pfnPushDeviceStatus(Envelope("DeviceStatus", bAttached ? QStringLiteral("plugged")
                                                                            : QStringLiteral("unplugged")));
        },
        Qt::QueuedConnection);
}

void LiveStream::InkCleared()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_points.clear(); // of the old ink
    }
    const QString strClear = Envelope("PenData", QStringLiteral("clear"));
    m_hooks.pfnPushPenData(strClear, strClear);
}
