#pragma once

#include <QObject>
#include <QString>

// Tells whether another vtinkhost already runs on this machine, by asking
// pgrep for processes whose command line holds our file name.
class DetectSigngleInstance : public QObject
{
    Q_OBJECT
public:
    explicit DetectSigngleInstance(QObject* parent = nullptr);

    // True when no other instance runs.
    bool IsSingleInstance();
    // True when a process other than the caller matches processName.
    bool IsProcessRunning(QString processName);
};
