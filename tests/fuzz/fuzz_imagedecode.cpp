// Base64 images decoded into files: the first byte picks BMP, JPEG or PNG,
// the rest is the image. Nothing larger than 8192 pixels a side is decoded
// (the run's memory limit catches one that is).
#include "imageexport.h"
#include "inkstore.h"
#include "modeltraits.h"
#include "signcanvas.h"
#include "vtinksdk.h"

#include <QByteArray>
#include <QGuiApplication>
#include <QImageReader>

#include <cstdint>
#include <cstdlib>
#include <string>

namespace {
CSignCanvas* g_pCanvas = nullptr;
CInkStore* g_pInk = nullptr;
CImageExport* g_pExport = nullptr;
const wchar_t* const OUTPUT = L"/dev/null";
} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    new QGuiApplication(*argc, *argv);
    QImageReader::supportedImageFormats(); // plugins loaded once, not inside a run
    g_pCanvas = new CSignCanvas(*TraitsForDevice(VTQ210_DEVICE), 400, 200, "fuzz");
    g_pInk = new CInkStore("fuzz");
    g_pInk->Open();
    g_pExport = new CImageExport(*g_pCanvas, *g_pInk, "fuzz");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    const int nType = EBITI_BITMAP + data[0] % 3;
    const QByteArray image(reinterpret_cast<const char*>(data + 1), int(size - 1));
    const int nResult = g_pExport->Base64Decode(nType, image.toBase64().constData(), OUTPUT);
    if (nResult != ARI_SUCCESS && nResult != ARI_NO_DATA)
        abort();
    return 0;
}
