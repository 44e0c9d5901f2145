// Base64 ink text into decoded points: any text gives whole 24-byte
// records only, each read back within range.
#include "imageexport.h"
#include "inkstore.h"
#include "modeltraits.h"
#include "signcanvas.h"
#include "vtinksdk.h"

#include <QByteArray>
#include <QGuiApplication>

#include <cstdint>
#include <cstdlib>
#include <string>

namespace {
CSignCanvas* g_pCanvas = nullptr;
CInkStore* g_pInk = nullptr;
CImageExport* g_pExport = nullptr;
} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    new QGuiApplication(*argc, *argv);
    g_pCanvas = new CSignCanvas(*TraitsForDevice(VTQ210_DEVICE), 400, 200, "fuzz");
    g_pInk = new CInkStore("fuzz");
    g_pInk->Open();
    g_pExport = new CImageExport(*g_pCanvas, *g_pInk, "fuzz");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size); // the SDK reads up to the first NUL
    if (g_pExport->Base64Decode(EBITI_INK, text.c_str(), nullptr) != ARI_SUCCESS)
        abort();
    const int nBytes = QByteArray::fromBase64(QByteArray(text.c_str())).size();
    const int nPoints = g_pInk->GetTotalDecodeInkPointsNumber();
    if (nPoints != (nBytes >= 24 ? nBytes / 24 : ARI_NO_DATA))
        abort();
    for (int i = -1; i <= nPoints; ++i) {
        for (int nType = INKDATATYPE_X - 1; nType <= INKDATATYPE_STROKEEND + 1; ++nType) {
            const int n = g_pInk->GetDecodePACKETS(i, nType);
            if (i >= 0 && i < nPoints && nType == INKDATATYPE_STROKEEND && n != 0 && n != 1)
                abort();
            if (i >= 0 && i < nPoints && (nType == INKDATATYPE_X || nType == INKDATATYPE_Y) && (n < -32768 || n > 32767))
                abort();
        }
    }
    return 0;
}
