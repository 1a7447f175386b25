#pragma once
// The program's update check for one run: its values in the profile, the
// background check at start-up and its end at exit.

#include <QObject>

#include "ProfileUpdateStore.h"

class CProgramUpdateCheck {
public:
    // Starts the background check; its report goes to `receiver`.
    void Start(QObject* receiver);
    // A check still running is cancelled; its time-outs bound the wait anyway.
    void Stop();

private:
    CProfileUpdateStore m_store;
};
