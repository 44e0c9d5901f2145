#include <QApplication>

#include "detectsigngleinstance.h"
#include "servicelistener.h"
#include "systraymenumgr.h"

int main(int argc, char* argv[])
{
    // Every client holds a descriptor: use all the system allows us.
    ServiceListener::RaiseDescriptorLimit();
    auto* pApp = new QApplication(argc, argv);

    auto* pDetect = new DetectSigngleInstance(nullptr);
    if (!pDetect->IsSingleInstance()) {
        delete pDetect;
        delete pApp;
        return 1;
    }

    auto* pTrayMgr = new SysTrayMenuMgr(nullptr);
    QObject::connect(pTrayMgr, &SysTrayMenuMgr::closed, pApp, &QCoreApplication::quit);
    pTrayMgr->Initialize();

    const int nResult = pApp->exec();

    delete pTrayMgr;
    delete pDetect;
    delete pApp;
    return nResult;
}
