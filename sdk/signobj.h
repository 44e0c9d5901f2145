// The headless sign objects of the five models, the driver callbacks that
// reach the current canvas, and the seam where the frame picks the canvas kind.
#pragma once

#include "sdkcore.h"

#include <atomic>

// The one current canvas of the library (either kind), null when none.
extern std::atomic<CSignCore*> g_pSignWidget;
// True while the current canvas is a headless sign object.
extern std::atomic<bool> g_bUseSignObj;

// The driver's callbacks for every model and both kinds: the current canvas
// takes the event.
void RxSignPadRawDataCallback(int nX, int nY, int nP, int nPenStatus);
void RxQ230FSignPadFPRawDataCallback(unsigned char* pData, int nDataLength, int nScore);

// One sign object class per model: the shared core with that model's traits.
#define VT_DECLARE_SIGN_OBJ(M)                                                                          \
    class C##M##SignObj : public CSignCore {                                                           \
    public:                                                                                            \
        C##M##SignObj(int nWidth, int nHeight)                                                         \
            : CSignCore(g_Traits##M, nWidth, nHeight, g_Traits##M.bObjDropsHighPressure) {}             \
    };                                                                                                 \
    using C##M##Obj_DoConfirmOrCancelKeyActionThread = CDoConfirmOrCancelKeyActionThread;

VT_SDK_FOR_EACH_MODEL(VT_DECLARE_SIGN_OBJ)

// Creates the canvas of a model: a sign object when pParentWidget is null,
// else the widget kind (only in a widget application, on its GUI thread).
// Null on failure.
CSignCore* CreateSignCanvas(const SdkModelTraits& traits, QWidget* pParentWidget, int nWidth, int nHeight);
