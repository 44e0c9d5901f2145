// Q230G fingerprint pad: protocol constants, the family, and the decoders of
// its reports and capture packets.
#pragma once

#include "hid.h"
#include "monocond.h"

#include <cstdint>
#include <mutex>

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

// The pad's answer to a screen-image block, carried in a 16-byte pen-device
// report: SENT_FPIMAGE_*, or 0 when the report is no answer (a pen report).
int DecodeImageAnswer(const uint8_t* pReport, int nLength, VtLogWriter& log);
// A capture-start answer: the finger score, or -1 when the reader refused.
int DecodeStartAnswer(const uint8_t* pAnswer, int nLength);
// A 1024-byte image packet: true when its checksum matches its data bytes.
bool CheckImagePacket(const uint8_t* pPacket, int nLength);

class Q230GFamily final : public HidPenFamily {
public:
    Q230GFamily();
    int Connect() override;
    int Shutdown() override;
    int ShowFPImage(unsigned char* pucImage, int nSize, int nWidth, int nHeight, bool* pbAbort) override;
    bool PadAttached(libusb_device* const* ppDevices, long n) const override;

    // Read access for tests and diagnostics.
    int SentFPImageStatus();         // answer to the last screen-image block (0 none yet)
    bool CaptureRunning() const { return m_fp.Running(); }
    void StopCapture() { m_fp.RequestStop(); }  // the capture thread's abort flag

private:
    void HandleReport(const uint8_t* pReport, int nLength, unsigned char* pbPenUp) override;
    int InitialFPDevice();
    int OpenOrCloseFP(bool bOpen);
    int SetScore(uint8_t ucScore);
    void CaptureThread(WorkerRun& run);
    void SetSentFPImageStatus(int nStatus);
    int SendImageHeader(int nIndex, int nWidth, int nHeight);
    int SendImageData(const uint8_t* pData, long lLength, const bool* pbAbort);
    int CheckSendImageResult();

    UsbWorker m_fp;  // the fingerprint reader and its capture thread
    // The pen reader posts the pad's answer to an image block; the sender
    // waits for it without polling.
    std::mutex m_sentLock;
    VtMonoCond m_sentChanged;
    int m_nSentFPImageStatus = 0;
};

extern Q230GFamily g_familyQ230G;
