#pragma once

// Function types of the SDK entry points, taken from the SDK's header (which
// is only declared here, never linked: the library is loaded at run time).
// Every model family shares these signatures.
#include "vtinksdk.h"

namespace sdkfn {
using InitialDevice = decltype(&VTQ210_InitialDevice);
using UnInitialDevice = decltype(&VTQ210_UnInitialDevice);
using OpenLCD = decltype(&VTQ210_OpenLCD);
using Clear = decltype(&VTQ210_Clear);
using GetHWText = decltype(&VTQ210_GetHWPadID); // GetHWPenID, GetHWPadID, GetHWVersionID
using DisplayHWVersion = decltype(&VTQ210_DisplayHWVersion);
using SetPenStyle = decltype(&VTQ210_SetPenStyle);
using SetPenWidth = decltype(&VTQ210_SetPenWidth);
using GetTotalPacketsNumber = decltype(&VTQ210_GetTotalPacketsNumber);
using getPackets = decltype(&VTQ210_getPackets);
using GetInkPointTime = decltype(&VTQ210_GetInkPointTime);
using FreeText = decltype(&VTQ210_FreeInkPointTime); // every release function
using SaveDrawingImage = decltype(&VTQ210_SaveDrawingImage);
using SetSaveCenterImageClip = decltype(&VTQ210_SetSaveCenterImageClip);
using getDeviceInfo = decltype(&VTQ210_getDeviceInfo);
using GetAboutInfo = decltype(&VTQ210_GetAboutInfo);
using PacketsBase64Encode = decltype(&VTQ210_PacketsBase64Encode);
using Base64Decode = decltype(&VTQ210_Base64Decode);
using GetTotalDecodePacketsNumber = decltype(&VTQ210_GetTotalDecodePacketsNumber);
using GetDecodePacketsData = decltype(&VTQ210_GetDecodePacketsData);
using SetPenColor = decltype(&VTQ210_SetPenColor);
using GetDeviceConfirmOrCancelKeyStatus = decltype(&VTQ210_GetDeviceConfirmOrCancelKeyStatus);
using GetSVGImageBase64Data = decltype(&VTQ210_GetSVGImageBase64Data);
using PacketsBase64EncodeEx = decltype(&VTQ210_PacketsBase64EncodeEx);
using SetDisplayedFPImageAt = decltype(&VTQ230F_SetDisplayedFPImageAt);
using GetFPImageBase64Data = decltype(&VTQ230F_GetFPImageBase64Data);
} // namespace sdkfn

// Service-side log: adapters write into the thread log; the label is built
// only while logging is on.
#define ADAPTER_LOG(op, fmt, ...) VT_LOG_THREAD(Label(op).c_str(), fmt, ##__VA_ARGS__)
