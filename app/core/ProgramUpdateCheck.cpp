#include "ProgramUpdateCheck.h"

#include <chrono>

void CProgramUpdateCheck::Start(QObject* receiver) {
    CUpdateCheck& check = GetUpdateCheck();
    check.SetStore(&m_store);
    check.SetReceiver(receiver);
    check.Start(false);
}

void CProgramUpdateCheck::Stop() {
    CUpdateCheck& check = GetUpdateCheck();
    check.SetReceiver(nullptr);
    check.Stop(std::chrono::seconds(5));
    check.SetStore(nullptr);
}
