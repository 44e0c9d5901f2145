// The ink of one canvas: every stored pen point with its time stamps, the
// points of the last decoded ink text, and the Base64 ink format between
// them. The stored list is written on the driver's reader thread and read on
// the host's, so it has a lock of its own; the decoded list is the host's.
#pragma once

#include "vtinksdk.h"

#include <QByteArray>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

// One stored point. Its memory layout is the record of the Base64 ink text.
struct _POINTDATA {
    int16_t nX;
    int16_t nY;
    int16_t nPressure;
    uint8_t bStrokeEnd;
    uint8_t ucPadding;  // written as 0
    int64_t lTickCount; // monotonic milliseconds when stored
    int64_t tTime;      // wall-clock seconds of that same tick (anchor + tick)
};
static_assert(sizeof(_POINTDATA) == 24, "ink record is 24 bytes");
static_assert(offsetof(_POINTDATA, nX) == 0 && offsetof(_POINTDATA, nY) == 2 &&
                  offsetof(_POINTDATA, nPressure) == 4 && offsetof(_POINTDATA, bStrokeEnd) == 6 &&
                  offsetof(_POINTDATA, lTickCount) == 8 && offsetof(_POINTDATA, tTime) == 16,
              "ink record layout");
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "ink records are copied as little-endian bytes");

using PointDataList = std::vector<_POINTDATA>;

class CInkStore {
public:
    explicit CInkStore(std::string strLabelPrefix) : m_strLabel(std::move(strLabelPrefix)) {}

    // Both lists empty (at connect); freed again at shutdown. Until Open the
    // store keeps nothing.
    void Open();
    void Close();

    // Appends a record stamped now; false (nothing kept) before Open.
    bool Append(int nX, int nY, int nP, bool bStrokeEnd);
    // Appends a stroke end repeating the last stored point, which is copied
    // to last; false when the list is empty.
    bool AppendStrokeEnd(_POINTDATA& last);
    void Clear();
    bool IsEmpty() const;
    // A copy of the stored points.
    PointDataList Points() const;

    // Read-out behind the exports.
    int GetTotalInkPointsNumber() const;     // ARI_NO_DATA when empty
    int GetPACKETS(_PACKETS& p) const;       // ARI_FAILED outside the list
    char* GetInkPointTime(int nIndex) const; // "yyyy-mm-dd hh:mm:ss.mmm", array new; null outside
    // The stored points as Base64 ink text (array new); null when empty.
    char* EncodeInkText() const;

    // Decoded points: EBITI_INK text into the decoded list, whole records only.
    void ClearDecoded();
    void DecodeInkText(const QByteArray& bytes);
    int GetTotalDecodeInkPointsNumber() const;       // ARI_NO_DATA when none
    int GetDecodePACKETS(int nIndex, int nTypeID) const;

private:
    std::string Label(const char* pszOp) const { return m_strLabel + pszOp + "()"; }
    void AnchorLocked();
    int64_t WallMsOf(const _POINTDATA& pt) const;
    _POINTDATA StampedLocked(_POINTDATA pt) const;

    const std::string m_strLabel;
    mutable std::mutex m_InkListMutex;
    std::unique_ptr<PointDataList> m_pPointDataList;        // under m_InkListMutex
    std::unique_ptr<PointDataList> m_pDecodedPointDataList; // host thread only
    int64_t m_nWallMinusTickMs = 0; // wall clock minus tick at the anchor; under m_InkListMutex
};
