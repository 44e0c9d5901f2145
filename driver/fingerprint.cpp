// Q230G fingerprint pad family: not available until its protocol lands.
#include "families.h"

int IsUSBDeviceConnected_Q230G() { return VTSPDART_NOT_AVAILABLE; }
int ShutdownUSBDevice_Q230G() { return VTSPDART_SUCCESS; }
int OpenDeviceLCD_Q230G(bool) { return VTSPDART_NOT_AVAILABLE; }
int ClearDeviceContent_Q230G() { return VTSPDART_NOT_AVAILABLE; }
int ShowVersionInfoOnDevice_Q230G(bool) { return VTSPDART_NOT_AVAILABLE; }
int SetDevicePenStyle_Q230G(bool) { return VTSPDART_NOT_AVAILABLE; }
int GetDevicePenID_Q230G(char*, int) { return VTSPDART_NOT_AVAILABLE; }
int GetDeviceSecureID_Q230G(char*, int) { return VTSPDART_NOT_AVAILABLE; }
int GetDevicePartsVersion_Q230G(char*, int) { return VTSPDART_NOT_AVAILABLE; }
int GetDevicePadID_Q230G(char*, int) { return VTSPDART_NOT_AVAILABLE; }
int DisplayImageOnDevice_Q230G_FP(unsigned char*, int, int, int, bool*) { return VTSPDART_NOT_AVAILABLE; }
