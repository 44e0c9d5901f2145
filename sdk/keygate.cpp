#include "keygate.h"
#include "sdkhelpers.h"
#include "vtlog.h"

void CDoConfirmOrCancelKeyActionThread::run()
{
    m_pGate->RunKeyActionLoop();
}

CKeyGate::Step CKeyGate::Next(KeyModel eModel, State eState, Event eEvent)
{
    const bool bFree = eState == State::None || eState == State::Touched;
    switch (eEvent) {
    case Event::PenDown:
        return {eState, bFree};
    case Event::KeyTouched:
        // A second key before the lift replaces the first.
        if (bFree)
            return {eModel == KeyModel::TwoStep ? State::Touched : State::Pending, true};
        return {eState, false};
    case Event::PenLifted:
        if (eModel == KeyModel::TwoStep && eState == State::Touched)
            return {State::Pending, true};
        return {eState, false};
    case Event::ActionStarts:
        if (eState == State::Pending)
            return {State::Running, true};
        return {eState, false};
    case Event::ActionDone:
        if (eState == State::Running)
            return {State::None, true};
        return {eState, false};
    }
    return {eState, false};
}

CKeyGate::CKeyGate(KeyModel eModel, std::string strLabelPrefix)
    : m_eModel(eModel), m_strLabel(std::move(strLabelPrefix))
{
}

CKeyGate::~CKeyGate()
{
    Stop();
}

bool CKeyGate::Apply(Event eEvent)
{
    const Step step = Next(m_eModel, m_eState, eEvent);
    m_eState = step.eNext;
    if (m_eState == State::None)
        m_nKey = -1;
    return step.bAccepted;
}

void CKeyGate::Start()
{
    m_pDoConfirmOrCancelKeyActionThread = new CDoConfirmOrCancelKeyActionThread(this);
    m_pDoConfirmOrCancelKeyActionThread->start(QThread::InheritPriority);
}

void CKeyGate::Stop()
{
    StopWorkerThread(m_pDoConfirmOrCancelKeyActionThread, m_KeyActionMutex, m_bShutDown, m_KeyActionCond,
                     Label("Shutdown").c_str(), "m_pDoConfirmOrCancelKeyActionThread");
}

bool CKeyGate::PenMayGoDown()
{
    std::lock_guard<std::mutex> lock(m_KeyActionMutex);
    if (Apply(Event::PenDown))
        return true;
    VT_LOG_THREAD(Label("RxSignPadRawData").c_str(),
                  "<%ld>-Pen_Down, skip due to (m_nDoClickConfirmOrCancelKeyActionFlag >= 0) !");
    return false;
}

bool CKeyGate::KeyTouched(bool bConfirm)
{
    bool bWake = false;
    {
        std::lock_guard<std::mutex> lock(m_KeyActionMutex);
        if (!Apply(Event::KeyTouched)) {
            if (bConfirm)
                VT_LOG_THREAD(Label("RxSignPadRawData").c_str(),
                              "<%ld>-Pen_Down_On_Confirm_Key, skip due to (m_nDoClickConfirmOrCancelKeyActionFlag >= 0) !");
            else
                VT_LOG_THREAD(Label("RxSignPadRawData").c_str(),
                              "<%ld>-Pen_Down_On_Cancel_Key, skip due to (m_nDoClickConfirmOrCancelKeyActionFlag >= 0) !");
            return false;
        }
        // Latched before the action can run: a callback that reads the status finds it.
        m_nKey = bConfirm ? 1 : 0;
        m_nKeyStatus.exchange(m_nKey);
        if (!bConfirm)
            m_bPenDownOnCancelButton.exchange(true);
        bWake = m_eState == State::Pending && !RunSilentActionLocked();
    }
    if (bWake)
        m_KeyActionCond.notify_all();
    if (bConfirm)
        VT_LOG_THREAD(Label("RxSignPadRawData").c_str(), "<%ld>-Pen_Down_On_Confirm_Key !");
    else
        VT_LOG_THREAD(Label("RxSignPadRawData").c_str(), "<%ld>-Pen_Down_On_Cancel_Key !!!");
    return true;
}

void CKeyGate::PenLifted()
{
    {
        std::lock_guard<std::mutex> lock(m_KeyActionMutex);
        if (!Apply(Event::PenLifted))
            return;
        if (m_nKey == 1)
            VT_LOG_THREAD(Label("RxSignPadRawData").c_str(), "<%ld>-Pen_Up_On_Enter_Button !");
        else
            VT_LOG_THREAD(Label("RxSignPadRawData").c_str(), "<%ld>-Pen_Up_On_Cancel_Button !!!");
        if (RunSilentActionLocked())
            return;
    }
    m_KeyActionCond.notify_all();
}

void CKeyGate::RunKeyActionLoop()
{
    // Sleeps until an action is pending or the canvas shuts down; the key
    // event wakes it, so the action still reaches the host at once.
    std::unique_lock<std::mutex> lock(m_KeyActionMutex);
    while (!m_bShutDown) {
        m_KeyActionCond.wait(lock, [this] { return m_bShutDown || m_eState == State::Pending; });
        if (m_bShutDown)
            break;
        RunPendingActionLocked();
    }
}

void CKeyGate::CheckIfWeCanDoConfirmOrCancelKeyAction()
{
    std::lock_guard<std::mutex> lock(m_KeyActionMutex);
    RunPendingActionLocked();
}

bool CKeyGate::RunSilentActionLocked()
{
    // Without a status callback the action does nothing: it is done at once,
    // so that the pen and the next key are not held back for the thread.
    if (m_pfnSignatureStatusCallback.load())
        return false;
    RunPendingActionLocked();
    return true;
}

void CKeyGate::RunPendingActionLocked()
{
    // The host's callback runs with the lock held: pen downs and keys wait for it.
    if (!Apply(Event::ActionStarts))
        return;
    if (m_nKey == 1)
        DoClickConfirmKeyAction();
    else
        DoClickCancelKeyAction();
    Apply(Event::ActionDone);
}

void CKeyGate::DoClickConfirmKeyAction()
{
    if (SignatureStatusCallback fn = m_pfnSignatureStatusCallback.load()) {
        VT_LOG_THREAD(Label("DoClickConfirmKeyAction").c_str(), "<%ld>-Pen_Down_On_Confirm_Key !");
        fn(1);
    }
}

void CKeyGate::DoClickCancelKeyAction()
{
    if (SignatureStatusCallback fn = m_pfnSignatureStatusCallback.load()) {
        VT_LOG_THREAD(Label("DoClickCancelKeyAction").c_str(), "<%ld>-Pen_Down_On_Cancel_Key !");
        fn(0);
    }
}

CKeyGate::State CKeyGate::CurrentState(int* pnKey)
{
    std::lock_guard<std::mutex> lock(m_KeyActionMutex);
    if (pnKey)
        *pnKey = m_nKey;
    return m_eState;
}
