// Q230G fingerprint pad: protocol constants and the pieces tests reach directly.
#pragma once

#include "families.h"

#include <atomic>
#include <cstdint>

#define ENDPOINT_OUT_MAX_PACKET_SIZE_Q230G_FP 1024
#define SET_FP_IMAGE_ON_DEVICE_MAX_PACKET_SIZE 65
#define SET_FP_IMAGE_ON_DEVICE_MAX_CACHE_SIZE 4096
#define FP_IMAGE_RAW_DATA_SIZE_Q230G_FP 59904
#define FP_IMAGE_PACKET_DATA_SIZE_Q230G_FP 1020
#define FP_IMAGE_PACKET_COUNT_Q230G_FP 59  // 58 full packets and one of 744 bytes

#define SENT_FPIMAGE_BLOCK_SUCCEEDED 1
#define SENT_FPIMAGE_SIZE_UNMATCH 2
#define SENT_FPIMAGE_INVALID_INDEX 3

// Capture cycle of the fingerprint reader, in the order it runs.
enum CaptureFpState {
    CFS_INITIAL,
    CFS_START,
    CFS_CONTINUE,
    CFS_COMPLETED,
    CFS_NUM_STATES
};

// Sum of the 1020 data bytes of an image packet (24 bits are sent).
uint32_t checksum(const uint8_t* pData, int nLength);

// Answer to the last screen-image block (0 none yet, SENT_FPIMAGE_*).
int SentFPImageStatus_Q230G();
// True while the fingerprint capture thread / the pen reader runs.
bool IsCaptureThreadRunning_Q230G();
bool IsPenReaderRunning_Q230G();
// Stop request of the capture thread (set by the shutdown).
extern std::atomic<unsigned char> g_bAbort_Q230G_FP;
