// The pad's confirm and cancel keys of one canvas: what the host reads
// (the last key touched), when the host's status callback runs, and which pen
// events a key touch holds back, as one state machine.
//
//   None --key--> Touched --pen lifts--> Pending --thread--> Running --> None
//
// Two-step pads (the key counts when the pen lifts from it) pass through
// Touched; one-step pads (tablets report keys on release) go from None
// straight to Pending. While an action is Pending or Running, pen downs and
// further keys are ignored. The key-action thread runs Pending actions.
#pragma once

#include "modeltraits.h"
#include "vtinksdk.h"

#include <QThread>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>

class CKeyGate;

// Runs the key actions of one canvas; the per-model names are aliases.
class CDoConfirmOrCancelKeyActionThread : public QThread {
    Q_OBJECT
public:
    explicit CDoConfirmOrCancelKeyActionThread(CKeyGate* pGate) : m_pGate(pGate)
    {
        setObjectName(QStringLiteral("vtsdk-keyaction")); // thread name, as tools show it
    }

protected:
    void run() override;

private:
    CKeyGate* m_pGate;
};

class CKeyGate {
public:
    enum class State {
        None,    // no key in play
        Touched, // two-step: the pen is on a key; its action waits for the lift
        Pending, // the action waits for the key-action thread
        Running  // the key-action thread is calling the host
    };
    enum class Event {
        PenDown,      // a stroke wants to start
        KeyTouched,   // the driver reported a key
        PenLifted,    // pen up away from a stroke
        ActionStarts, // the key-action thread takes a pending action
        ActionDone    // the host's callback returned
    };
    struct Step {
        State eNext;
        bool bAccepted; // the event goes ahead (for PenLifted: an action became pending)
    };
    // The transition table.
    static Step Next(KeyModel eModel, State eState, Event eEvent);

    CKeyGate(KeyModel eModel, std::string strLabelPrefix);
    ~CKeyGate();
    CKeyGate(const CKeyGate&) = delete;
    CKeyGate& operator=(const CKeyGate&) = delete;

    // Starts and stops the key-action thread (Stop waits for it).
    void Start();
    void Stop();

    // Driver reader thread.
    bool PenMayGoDown();         // false while an action is pending or running
    bool KeyTouched(bool bConfirm); // false when ignored; else the key is latched for the host
    void PenLifted();

    // Host thread.
    void SetSignatureStatusCallback(SignatureStatusCallback fn) { m_pfnSignatureStatusCallback = fn; }
    // The last key touched, 1 confirm, 0 cancel, -1 none; read and clear.
    int GetDeviceConfirmOrCancelKeyStatus() { return m_nKeyStatus.exchange(-1); }
    // True once after the cancel key was touched: the pad cleared itself.
    bool TakePadClearedByCancel() { return m_bPenDownOnCancelButton.exchange(false); }
    // Runs a pending action now, on the calling thread.
    void CheckIfWeCanDoConfirmOrCancelKeyAction();

    // pnKey, when given, receives the key in play: 1 confirm, 0 cancel, -1 none.
    State CurrentState(int* pnKey = nullptr);

private:
    friend class CDoConfirmOrCancelKeyActionThread;
    void RunKeyActionLoop();
    // With m_KeyActionMutex held.
    bool Apply(Event eEvent);
    void RunPendingActionLocked();
    // A pending action without a status callback is run here and now; true then.
    bool RunSilentActionLocked();
    void DoClickConfirmKeyAction();
    void DoClickCancelKeyAction();
    std::string Label(const char* pszOp) const { return m_strLabel + pszOp + "()"; }

    const KeyModel m_eModel;
    const std::string m_strLabel;
    std::mutex m_KeyActionMutex;
    std::condition_variable m_KeyActionCond; // an action became pending, or the thread stops
    State m_eState = State::None;            // under m_KeyActionMutex
    int m_nKey = -1;                         // under m_KeyActionMutex: the key in play
    bool m_bShutDown = false;                // under m_KeyActionMutex
    std::atomic<int> m_nKeyStatus{-1};
    std::atomic<bool> m_bPenDownOnCancelButton{false};
    std::atomic<SignatureStatusCallback> m_pfnSignatureStatusCallback{nullptr};
    CDoConfirmOrCancelKeyActionThread* m_pDoConfirmOrCancelKeyActionThread = nullptr;
};
