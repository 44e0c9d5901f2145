// Control interface of the test driver library that stands in for
// libvtinkdrv.so: it records the SDK's calls and lets a test push pen events
// through the callback the SDK registered.
#pragma once

#ifdef __cplusplus
extern "C" {
#endif

// Forget calls, callbacks and settings (firmware text "VTQ210 test", Initial 0).
void fakedrv_reset(void);
// Firmware text returned by VTSPDAPI_GetDevicePartsVersion.
void fakedrv_set_version(const char* pszVersion);
// Result of the next VTSPDAPI_Initial calls that pass the argument checks.
void fakedrv_set_initial_result(int nResult);
// Calls made so far, as "Initial(2,fp=0);ClearDeviceContent;OpenDeviceLCD(1);..." .
const char* fakedrv_calls(void);
// How often one entry point was called.
int fakedrv_count(const char* pszName);
// Deliver one pen or key event through the registered pen callback; 0 when none is registered.
int fakedrv_inject(int x, int y, int pressure, int eventType);
// Deliver a fingerprint capture through the registered fingerprint callback; 0 when none.
int fakedrv_inject_fp(unsigned char* pData, int nSize, int nScore);

#ifdef __cplusplus
}
#endif
