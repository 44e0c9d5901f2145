// QT410/M420 tablet family: not available until its protocol lands.
#include "families.h"

int IsUSBDeviceConnected_QT410() { return VTSPDART_NOT_AVAILABLE; }
int ShutdownUSBDevice_QT410() { return VTSPDART_SUCCESS; }
int ClearDeviceContent_QT410() { return VTSPDART_NOT_AVAILABLE; }
int GetDevicePadID_QT410(char*, int) { return VTSPDART_NOT_AVAILABLE; }
int GetDevicePartsVersion_QT410(char*, int) { return VTSPDART_NOT_AVAILABLE; }
int IsUSBDeviceConnected_M420() { return VTSPDART_NOT_AVAILABLE; }
int ShutdownUSBDevice_M420() { return VTSPDART_SUCCESS; }
int ClearDeviceContent_M420() { return VTSPDART_NOT_AVAILABLE; }
int GetDevicePadID_M420(char*, int) { return VTSPDART_NOT_AVAILABLE; }
int GetDevicePartsVersion_M420(char*, int) { return VTSPDART_NOT_AVAILABLE; }
