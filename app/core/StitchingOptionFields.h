#pragma once
// The stitching options record field by field: one list of every field with
// what a change of it does to a built result (the restitch test reads it),
// and the fields each stitching page shows with the profile value that keeps
// each (the pages read, write and hand over their fields through it).

#include <cstddef>
#include <cstdint>
#include <span>

#include "AppSettings.h"
#include "PanoramaLib.h"

// One field of the options record: a yes/no byte or a number.
class COptionField {
public:
    constexpr COptionField(std::uint8_t HVPanoramaOptions::*flag) : m_flag(flag) {}
    constexpr COptionField(std::int32_t HVPanoramaOptions::*number) : m_number(number) {}

    // A flag reads as 0 or 1.
    int Get(const HVPanoramaOptions& options) const;
    // A flag is set by any non-zero value.
    void Set(HVPanoramaOptions& options, int value) const;
    constexpr bool operator==(const COptionField& other) const {
        return m_flag == other.m_flag && m_number == other.m_number;
    }

private:
    std::uint8_t HVPanoramaOptions::*m_flag = nullptr;
    std::int32_t HVPanoramaOptions::*m_number = nullptr;
};

struct OptionsRecordField {
    COptionField field;
    const char* name;
    // A result built with another value is out of date.
    bool rebuilds;
};

// Every field of the record, once each; the static_assert below keeps a new
// field from being left out.
inline constexpr OptionsRecordField kOptionsRecordFields[] = {
    // Applied when the full size is rendered or saved, not by the build.
    {&HVPanoramaOptions::autoCrop, "autoCrop", false},
    // No page sets these; they keep the engine's values.
    {&HVPanoramaOptions::ratioMode, "ratioMode", false},
    {&HVPanoramaOptions::analysisSize, "analysisSize", false},
    {&HVPanoramaOptions::unused4, "unused4", false},
    {&HVPanoramaOptions::motionModel, "motionModel", true},
    {&HVPanoramaOptions::rawExposureDifference, "rawExposureDifference", false},
    {&HVPanoramaOptions::lensCompensation, "lensCompensation", true},
    {&HVPanoramaOptions::lensPresetId, "lensPresetId", true},
    {&HVPanoramaOptions::is360, "is360", true},
    {&HVPanoramaOptions::optimiseAtEnd, "optimiseAtEnd", false},
    {&HVPanoramaOptions::lensModel, "lensModel", true},
    // A new surface renders the tiled result again; the build stays.
    {&HVPanoramaOptions::surfaceKind, "surfaceKind", false},
};

namespace OptionsRecord {

// Anything converts to it: counts the initialisers an aggregate takes.
struct AnyValue {
    template <class T>
    constexpr operator T() const {
        return T{};
    }
};

template <class T, class... Values>
constexpr std::size_t FieldCount() {
    if constexpr (requires { T{Values{}..., AnyValue{}}; })
        return FieldCount<T, Values..., AnyValue>();
    else
        return sizeof...(Values);
}

constexpr bool ListsEachFieldOnce() {
    for (std::size_t i = 0; i < std::size(kOptionsRecordFields); ++i)
        for (std::size_t j = i + 1; j < std::size(kOptionsRecordFields); ++j)
            if (kOptionsRecordFields[i].field == kOptionsRecordFields[j].field)
                return false;
    return true;
}

}  // namespace OptionsRecord

static_assert(OptionsRecord::FieldCount<HVPanoramaOptions>() == std::size(kOptionsRecordFields),
              "a field of the options record is missing from kOptionsRecordFields: say whether it rebuilds");
static_assert(OptionsRecord::ListsEachFieldOnce(), "kOptionsRecordFields lists a field twice");

// True when a result built with `built` is out of date for `wanted`.
bool OptionsNeedRebuild(const HVPanoramaOptions& wanted, const HVPanoramaOptions& built);

// A field a stitching page shows, with the profile value that keeps it.
struct PageOptionField {
    COptionField field;
    ProfileKeys::IntValue key;
};

inline constexpr PageOptionField kPlanarPageFields[] = {
    {&HVPanoramaOptions::motionModel, ProfileKeys::kMotionModel},
    {&HVPanoramaOptions::lensCompensation, ProfileKeys::kLensDist},
    {&HVPanoramaOptions::lensPresetId, ProfileKeys::kLensType},
    {&HVPanoramaOptions::is360, ProfileKeys::kCyclorama},
};
inline constexpr PageOptionField kTiledPageFields[] = {
    {&HVPanoramaOptions::lensCompensation, ProfileKeys::kLensDistTl},
    {&HVPanoramaOptions::lensModel, ProfileKeys::kLdPolTypeTl},
    {&HVPanoramaOptions::surfaceKind, ProfileKeys::kSurfaceTl},
};

// The page's fields as the profile holds them (as stored, the page shows
// what it cannot use as no choice); the other fields keep their defaults.
HVPanoramaOptions ReadPageOptions(std::span<const PageOptionField> fields);
void WritePageOptions(std::span<const PageOptionField> fields, const HVPanoramaOptions& options);
// Copies only the page's fields; the rest of `into` stays.
void CopyPageOptions(std::span<const PageOptionField> fields, const HVPanoramaOptions& from,
                     HVPanoramaOptions& into);
