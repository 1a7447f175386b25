#pragma once
// The update check's two values in the program's profile ("MAIN",
// "XVALUE_T" and "XVALUE_D"); safe from the check's worker thread.

#include "UpdateCheck.h"

class CProfileUpdateStore : public IUpdateCheckStore {
public:
    std::string ReadLastCheck() override;
    int ReadInterval() override;
    void WriteLastCheck(const std::string& date) override;
    void WriteInterval(int days) override;
};
