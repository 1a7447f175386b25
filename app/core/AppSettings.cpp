#include "AppSettings.h"

#include <algorithm>

#include "Profile.h"

namespace ProfileKeys {

int Read(const IntValue& v) {
    return AppProfile::GetProfileInt(v.section, v.key, v.defaultValue);
}
void Write(const IntValue& v, int value) {
    AppProfile::WriteProfileInt(v.section, v.key, value);
}
std::string Read(const StringValue& v) {
    return AppProfile::GetProfileString(v.section, v.key, v.defaultValue);
}
void Write(const StringValue& v, const std::string& value) {
    AppProfile::WriteProfileString(v.section, v.key, value);
}

}  // namespace ProfileKeys

namespace {

using namespace ProfileKeys;

int ReadInRange(const IntValue& v, int lo, int hi, int fallback) {
    const int value = Read(v);
    return value < lo || value > hi ? fallback : value;
}

int ReadBool(const IntValue& v, int current) {
    return AppProfile::GetProfileInt(v.section, v.key, current) != 0;
}

}  // namespace

StitchingProfile StitchingProfile::Read() {
    StitchingProfile p;
    p.horzVert = ReadInRange(kHorzVert, 0, 1, 1);
    p.motionModel = ReadInRange(kMotionModel, 0, 2, 2);
    p.lensDist = ProfileKeys::Read(kLensDist) != 0;
    p.lensType = ReadInRange(kLensType, 0, 9, 7);
    p.cyclorama = ProfileKeys::Read(kCyclorama) != 0;
    p.lensDistTl = ProfileKeys::Read(kLensDistTl) != 0;
    p.ldPolTypeTl = ReadInRange(kLdPolTypeTl, 0, 1, 0);
    p.surfaceTl = ReadInRange(kSurfaceTl, 0, 1, 0);
    return p;
}

void CAppSettings::LoadSettings() {
    m_bShowSaveOptions =
        AppProfile::GetProfileInt(kSaveShowOptions.section, kSaveShowOptions.key, m_bShowSaveOptions);
    m_nManualMatching =
        AppProfile::GetProfileInt(kManualMatching.section, kManualMatching.key, m_nManualMatching);
    m_print.inchUnits = ReadBool(kInchUnits, m_print.inchUnits);
    m_print.printMarkers = ReadBool(kPrintMarkers, m_print.printMarkers);

    m_bShowPromptOnSave = Read(kShowPromptOnSave);
    m_nHowToSave = Read(kHowToSave);
    m_bShowHowToSave = Read(kShowHowToSave);
    m_bEditOnDblClk = Read(kEditOnDblClk);
    // The zoom bar offers 50..100 for thumbnails; a stored size outside it
    // would give thumbnails the bar cannot reach.
    thumbnailSize = std::clamp(Read(kThumbsZoom), 50, 100);
    m_bAutoLaunch = Read(kAutoLaunch);
    thumbsListMode = Read(kDetails);
    m_nJpegQuality = std::clamp(Read(kJpegQuality), 1, 100);
    m_bDetailsView = Read(kViewList) != 0;
    m_nSortMode = Read(kSort);
    if (m_nSortMode != 0 && m_nSortMode != 2 && m_nSortMode != 4 && m_nSortMode != 6 && m_nSortMode != 7)
        m_nSortMode = kSort.defaultValue;

    m_bShowInTray = Read(kShowInTray);
    m_bContinueOnExit = m_bShowInTray ? Read(kContinueOnExit) : 0;
}

void CAppSettings::SaveSettings() const {
    Write(kNotFirstLaunch, 1);
    Write(kShowPromptOnSave, m_bShowPromptOnSave);
    Write(kHowToSave, m_nHowToSave);
    Write(kShowHowToSave, m_bShowHowToSave);
    Write(kEditOnDblClk, m_bEditOnDblClk);
    Write(kThumbsZoom, thumbnailSize);
    Write(kAutoLaunch, m_bAutoLaunch);
    Write(kDetails, thumbsListMode);
    Write(kJpegQuality, m_nJpegQuality);
    Write(kSort, m_nSortMode);
    Write(kViewList, m_bDetailsView ? 1 : 0);
    Write(kShowInTray, m_bShowInTray);
    Write(kContinueOnExit, m_bContinueOnExit);
}

BrowserColors BrowserColors::Load(const CSkinFile& skin) {
    BrowserColors c;
    struct Entry {
        const char* key;
        const char* defaultText;
        SkinRgb BrowserColors::*field;
    };
    static const Entry kEntries[] = {
        {"SELECTED TEXT COLOR", "255, 0, 0", &BrowserColors::selectedText},
        {"TEXT COLOR", "0, 0, 0", &BrowserColors::text},
        {"BACKGROUND COLOR", "203, 219, 244", &BrowserColors::background},
        {"BACKGROUND COLOR INFRAME", "233, 233, 233", &BrowserColors::inFrame},
        {"BACKGROUND COLOR INFRAME CUT", "128, 128, 128", &BrowserColors::inFrameCut},
        {"SELECTED BORDER COLOR", "254, 190, 47", &BrowserColors::selectedBorder},
        {"BORDER COLOR", "122, 157, 227", &BrowserColors::border},
        {"DETAILS SEPARATOR COLOR", "123, 138, 172", &BrowserColors::detailsSeparator},
        {"DETAILS TAB COLOR", "119, 158, 227", &BrowserColors::detailsTab},
    };
    for (const Entry& e : kEntries)
        c.*e.field =
            CSkinFile::ParseBrowserColor(skin.GetSkinString("BROWSER", e.key, e.defaultText), e.defaultText);
    return c;
}
