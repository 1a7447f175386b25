#include "ProfileUpdateStore.h"

#include "AppSettings.h"
#include "Profile.h"

using ProfileKeys::kUpdateDate;
using ProfileKeys::kUpdateDays;

std::string CProfileUpdateStore::ReadLastCheck() {
    return AppProfile::GetProfileString(kUpdateDate.section, kUpdateDate.key, kUpdateDate.defaultValue);
}

int CProfileUpdateStore::ReadInterval() {
    return ProfileKeys::Read(kUpdateDays);
}

void CProfileUpdateStore::WriteLastCheck(const std::string& date) {
    AppProfile::WriteProfileString(kUpdateDate.section, kUpdateDate.key, date);
}

void CProfileUpdateStore::WriteInterval(int days) {
    ProfileKeys::Write(kUpdateDays, days);
}
