// Helpers the SDK's parts share: image conversion and encoding, the ink
// bounding box, file writing, Base64 texts and the About texts.
#pragma once

#include <QByteArray>
#include <QImage>
#include <QRect>
#include <QString>
#include <QThread>

#include <condition_variable>
#include <mutex>

#include "qtfloor.h"
#include "vtlog.h"

// A new ARGB32 image filled white (negative sizes count as 0).
QImage WhiteImage(int nWidth, int nHeight);
// Dots per metre of a resolution in dots per inch, as images store it.
int DotsPerMetre(int nDPI);
// Qt's format name of an image type id (EBITI_BITMAP "BMP", EBITI_JPG "JPG",
// EBITI_PNG "PNG"); null for every other id.
const char* ImageFormatOf(int nImageTypeID);
// Exactly opaque white becomes fully transparent, everything else fully
// opaque; the image is converted to ARGB32 first when needed.
void MakeWhiteTransparent(QImage& image);
// The image written in the format of nImageTypeID, white made transparent
// when bTransparent and the type is PNG; empty when nothing was written.
QByteArray ImageBytes(QImage image, int nImageTypeID, bool bTransparent);
// Bytes to a new zero-terminated array of standard Base64 (array delete);
// null only when the array cannot be allocated.
char* NewBase64Text(const QByteArray& bytes);
// ImageBytes as a NewBase64Text; an empty text when nothing was written.
char* EncodeImageAsBase64(const QImage& image, int nImageTypeID, bool bTransparent = true);
// The same for a signature picture: a transparent PNG is written by
// TransparentPngBytes (same pixels, a fraction of the time).
char* EncodeSignatureAsBase64(const QImage& image, int nImageTypeID, bool bTransparent);
// EncodeSignatureAsBase64's text as bytes (empty when nothing was written).
QByteArray SignatureBase64(const QImage& image, int nImageTypeID, bool bTransparent);
// A copy of a Base64 text as a new zero-terminated array (array delete).
char* NewText(const QByteArray& text);

// Extent of the non-white pixels (white whatever its alpha), widened by the
// margins and clamped to the image. With no such pixel the rectangle is
// empty (its left lies beyond its right). pRaw, when given, receives the
// extent before widening, for the log.
QRect InkBoundingBox(const QImage& image, int nMarginX, int nMarginY, QRect* pRaw = nullptr);

// Writes a file through a fresh temporary file renamed into place, so that a
// planted file or symbolic link at the name is replaced, never written through.
bool WriteFileReplacing(const QString& path, const QByteArray& bytes);

// The About box's rich text and GetAboutInfo's plain text.
QString AboutRichText();
QByteArray AboutPlainText();

// Ends a worker thread: its stop flag is set under the lock its loop waits
// with (so the loop cannot miss the wake-up between its test and its wait),
// the loop is woken, and the thread is quit, waited for without limit,
// deleted and nulled. pszMember names it in the log lines.
template <class Thread, class Flag>
void StopWorkerThread(Thread*& pThread, std::mutex& lock, Flag& bStop, std::condition_variable& cond,
                      const char* pszLabel, const char* pszMember)
{
    if (!pThread)
        return;
    {
        std::lock_guard<std::mutex> guard(lock);
        bStop = true;
    }
    cond.notify_all();
    VT_LOG(pszLabel, "<%ld>-b4 call %s->quit()...", pszMember);
    pThread->quit();
    VT_LOG(pszLabel, "<%ld>-b4 call %s->wait()...", pszMember);
    VtWaitForThread(pThread);
    delete pThread;
    pThread = nullptr;
    VT_LOG(pszLabel, "<%ld>-after call %s = nullptr...", pszMember);
}
