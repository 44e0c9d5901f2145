// Test helpers that need no SDK headers: threads of this process by name
// (read from /proc) and emulated fingerprint captures.
#pragma once

#include "q230g.h"

#include <functional>

#include "../common/procthreads.h"

// A 208 x 288 capture with the given byte at each pixel.
inline padsim::Bytes Capture(const std::function<uint8_t(int x, int y)>& value)
{
    padsim::Bytes image(padsim::FingerprintPadModel::kImageSize);
    for (int y = 0; y < 288; ++y)
        for (int x = 0; x < 208; ++x)
            image[y * 208 + x] = value(x, y);
    return image;
}
