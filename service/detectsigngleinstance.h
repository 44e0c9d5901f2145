#pragma once

#include <QObject>
#include <QString>

// Tells whether another vtinkhost already runs on this machine. pgrep lists
// the processes with exactly our process name; each is then checked to be
// a live process of the same program file, so that a process merely
// mentioning the name (an editor on vtinkhost.conf, tail -f on the log)
// and a not yet reaped zombie do not count.
class DetectSigngleInstance : public QObject
{
    Q_OBJECT
public:
    explicit DetectSigngleInstance(QObject* parent = nullptr);

    // True when no other instance runs.
    bool IsSingleInstance();
    // True when a live process other than the caller has the process name
    // processName and runs the caller's program file.
    bool IsProcessRunning(QString processName);
};
