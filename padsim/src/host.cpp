// The host-side facts every model shares: names and prefixes come from the
// one header that lists the models.
#include "padsim.h"

#include "vtinkmodels.h"

#include <algorithm>
#include <cmath>

namespace padsim {

namespace {

struct Listed {
    int deviceId;
    const char* name;
    const char* prefix;
};

#define PADSIM_LISTED(ID, NAME, PREFIX, SCREEN, FP) {ID, NAME, #PREFIX},
const Listed kListed[] = {VTINK_FOR_EACH_MODEL(PADSIM_LISTED)};
#undef PADSIM_LISTED

const Listed* listed(int deviceId)
{
    for (const Listed& l : kListed)
        if (l.deviceId == deviceId)
            return &l;
    return nullptr;
}

uint16_t across(double fraction, uint16_t offset, uint16_t span)
{
    return uint16_t(offset + std::lround(std::clamp(fraction, 0.0, 1.0) * (span - 1)));
}

}  // namespace

uint16_t WritingArea::rawX(double fraction) const { return across(fraction, xOffset, xSpan); }
uint16_t WritingArea::rawY(double fraction) const { return across(fraction, yOffset, ySpan); }

std::string HostFacts::modelName() const
{
    const Listed* l = listed(deviceId);
    return l ? l->name : "";
}

std::string HostFacts::sdkPrefix() const
{
    const Listed* l = listed(deviceId);
    return l ? l->prefix : "";
}

int HostFacts::pressureLevels(const std::string& firmwareText) const
{
    for (const Firmware& f : firmware)
        if (f.text == firmwareText)
            return f.pressureLevels;
    return 0;
}

int HostFacts::fewestLevels() const
{
    int fewest = 0;
    for (const Firmware& f : firmware)
        if (f.pressureLevels > 0 && (fewest == 0 || f.pressureLevels < fewest))
            fewest = f.pressureLevels;
    return fewest;
}

// Position in vtinkmodels.h, for the registry's order.
int listOrder(int deviceId)
{
    const Listed* l = listed(deviceId);
    return l ? int(l - kListed) : int(std::size(kListed));
}

}  // namespace padsim
