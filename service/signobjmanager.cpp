#include "signobjmanager.h"

#include "signobjmodels.h"

namespace {
SignObjManager::CreationTable& creationTable()
{
    static SignObjManager::CreationTable table;
    return table;
}
}

void SignObjManager::SetCreationTable(CreationTable table)
{
    creationTable() = std::move(table);
}

SignObjInterface* SignObjManager::CreateSignObj(int nID)
{
    if (creationTable())
        return creationTable()(nID);
    return CreateModelSignObj(nID);
}

SignObjManager::SignObjManager() = default;

SignObjManager::~SignObjManager()
{
    UnInitialDevice();
}

SignObjInterface& SignObjManager::Active()
{
    // No state of its own: one instance serves every manager on any thread.
    static SignObjInterface s_noPad;
    return m_pCurrentActiveSignObj ? *m_pCurrentActiveSignObj : s_noPad;
}

bool SignObjManager::InitialDevice(int nID, int nWidth, int nHeight)
{
    // Close first, even for an unsupported type: two adapters never coexist,
    // so the SDK never drives two models at once.
    UnInitialDevice();
    m_pCurrentActiveSignObj.reset(CreateSignObj(nID));
    if (!m_pCurrentActiveSignObj)
        return false;
    // A failed open keeps the adapter: later requests get its answers.
    return m_pCurrentActiveSignObj->InitialDevice(nID, nWidth, nHeight);
}

bool SignObjManager::UnInitialDevice()
{
    if (!m_pCurrentActiveSignObj)
        return false;
    const bool bResult = m_pCurrentActiveSignObj->UnInitialDevice();
    m_pCurrentActiveSignObj.reset();
    return bResult;
}
