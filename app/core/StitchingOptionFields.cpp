#include "StitchingOptionFields.h"

int COptionField::Get(const HVPanoramaOptions& options) const {
    return m_flag ? (options.*m_flag != 0 ? 1 : 0) : options.*m_number;
}

void COptionField::Set(HVPanoramaOptions& options, int value) const {
    if (m_flag)
        options.*m_flag = value != 0 ? 1 : 0;
    else
        options.*m_number = value;
}

bool OptionsNeedRebuild(const HVPanoramaOptions& wanted, const HVPanoramaOptions& built) {
    for (const OptionsRecordField& f : kOptionsRecordFields)
        if (f.rebuilds && f.field.Get(wanted) != f.field.Get(built))
            return true;
    return false;
}

HVPanoramaOptions ReadPageOptions(std::span<const PageOptionField> fields) {
    HVPanoramaOptions options;
    for (const PageOptionField& f : fields)
        f.field.Set(options, ProfileKeys::Read(f.key));
    return options;
}

void WritePageOptions(std::span<const PageOptionField> fields, const HVPanoramaOptions& options) {
    for (const PageOptionField& f : fields)
        ProfileKeys::Write(f.key, f.field.Get(options));
}

void CopyPageOptions(std::span<const PageOptionField> fields, const HVPanoramaOptions& from,
                     HVPanoramaOptions& into) {
    for (const PageOptionField& f : fields)
        f.field.Set(into, f.field.Get(from));
}
