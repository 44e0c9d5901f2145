// The headless sign objects of the five models, the driver callbacks that
// reach them, and the seam where the frame picks the canvas kind.
#pragma once

#include "fpcanvas.h"
#include "sdkcore.h"

#include <atomic>

// The one current canvas of the library (either kind), null when none.
extern std::atomic<CSignCore*> g_pSignWidget;
// True while the current canvas is a headless sign object.
extern std::atomic<bool> g_bUseSignObj;

// One sign object class per model: the shared core with that model's traits.
#define VT_DECLARE_SIGN_OBJ(M, BASE)                                                 \
    void Rx##M##SignObjRawDataCallback(int nX, int nY, int nP, int nPenStatus);  \
    class C##M##SignObj : public BASE {                                          \
    public:                                                                      \
        C##M##SignObj(int nWidth, int nHeight);                                  \
    };                                                                           \
    using C##M##Obj_DoConfirmOrCancelKeyActionThread = CDoConfirmOrCancelKeyActionThread;

VT_DECLARE_SIGN_OBJ(Q210, CSignCore)
VT_DECLARE_SIGN_OBJ(Q220, CSignCore)
VT_DECLARE_SIGN_OBJ(Q230F, CQ230FCanvasT<CSignCore>)
VT_DECLARE_SIGN_OBJ(QT410, CSignCore)
VT_DECLARE_SIGN_OBJ(M420, CSignCore)

// Fingerprint captures of the Q230F object.
void RxQ230FSignObjFPRawDataCallback(unsigned char* pData, int nDataLength, int nScore);

// Creates the canvas of a model: a sign object when pParentWidget is null,
// else the widget kind. Null on failure.
CSignCore* CreateSignCanvas(const ModelTraits& traits, QWidget* pParentWidget, int nWidth, int nHeight);
