// M420 tablet: the QT410's protocol under its own identity.
#include "qt410.h"

#include "vtinkmodels.h"

namespace padsim {

const TabletIdentity kM420Identity = {"m420", "ROV420", 0x0420, 0x0102, ROV420_DEVICE};

namespace models {

ModelPtr m420()
{
    return makeTablet(kM420Identity);
}

}  // namespace models
}  // namespace padsim
