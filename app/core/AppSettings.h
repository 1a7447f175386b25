#pragma once
// Every profile section and value of the program with its default, and the
// application's settings loader and saver. Other windows read and write their
// own values where they change; the names and defaults they use are here.

#include <string>
#include <string_view>

#include "SkinFile.h"

namespace ProfileKeys {

struct IntValue {
    const char* section;
    const char* key;
    int defaultValue;
};
struct StringValue {
    const char* section;
    const char* key;
    const char* defaultValue;
};

inline constexpr IntValue kNotFirstLaunch{"GENERAL", "NOTFIRSTLAUNCH", 0};
inline constexpr IntValue kDontShowAboutPhotoList{"GENERAL", "DNTSHOW_ABOUTPHOTOLIST", 0};
inline constexpr IntValue kInterfaceDll{"INTERFACE", "DLL", 1};
inline constexpr IntValue kShowPromptOnSave{"INTERFACE", "SHOWPROMTONSAVE", 1};
inline constexpr IntValue kEditOnDblClk{"INTERFACE", "EDITONDBLCLK", 0};
inline constexpr IntValue kSaveShowOptions{"SAVE", "SHOWOPTIONS", 0};
inline constexpr IntValue kSavingCropType{"SAVING", "crop type", 1};
inline constexpr IntValue kManualMatching{"PANORAMA", "MANUALMATCHING", 0};
inline constexpr IntValue kHorzVert{"STITCHING", "HorzVert", 1};
inline constexpr IntValue kMotionModel{"STITCHING", "motion model", 2};
inline constexpr IntValue kLensDist{"STITCHING", "lens dist", 0};
inline constexpr IntValue kLensType{"STITCHING", "lens type", 7};
inline constexpr IntValue kCyclorama{"STITCHING", "cyclorama", 0};
inline constexpr IntValue kLensDistTl{"STITCHING", "lens dist_tl", 0};
inline constexpr IntValue kLdPolTypeTl{"STITCHING", "ld_poltype_tl", 0};
inline constexpr IntValue kSurfaceTl{"STITCHING", "surface_tl", 0};
inline constexpr IntValue kManualMode{"STITCHING", "manual mode", 0};
inline constexpr StringValue kPrintDefault{"PRINT", "DEFAULT", ""};
inline constexpr IntValue kInchUnits{"PRINT", "INCH_UNITS", 1};
inline constexpr IntValue kPrintMarkers{"PRINT", "PRINT_MARKERS", 1};
inline constexpr StringValue kFoldersDefault{"FOLDERS", "DEFAULT", ""};
inline constexpr StringValue kDefaultOpenDir{"FILES", "DEFAULTOPENDIR", ""};
// No default of its own: the open dialog keeps its filter when it is missing.
inline constexpr const char* kDefaultOpenFormatSection = "FILES";
inline constexpr const char* kDefaultOpenFormatKey = "DEFAULTOPENFORMAT";
inline constexpr StringValue kDefaultSaveDir{"FILES", "DEFAULTSAVEDIR", ""};
inline constexpr IntValue kThumbsZoom{"BROWSER", "THUMBSZOOM", 57};
inline constexpr IntValue kDetails{"BROWSER", "DETAILS", 0};
inline constexpr IntValue kViewList{"BROWSER", "VIEWLIST", 0};
inline constexpr IntValue kSort{"BROWSER", "SORT", 7};
inline constexpr IntValue kHowToSave{"BROWSER", "HOWTOSAVE", 0};
inline constexpr IntValue kShowHowToSave{"BROWSER", "SHOWHOWTOSAVE", 1};
inline constexpr IntValue kAutoLaunch{"BROWSER", "AUTOLAUNCH", 1};
inline constexpr IntValue kJpegQuality{"BROWSER", "JPEGQUALITY", 75};
inline constexpr IntValue kShowInTray{"BROWSER", "SHOWINTRAY", 0};
inline constexpr IntValue kContinueOnExit{"BROWSER", "CONTINUEONEXIT", 0};
inline constexpr const char* kShellTreeSection = "SHELLTREE";
inline constexpr const char* kShellTreePidlKey = "PIDL";
inline constexpr StringValue kUpdateDate{"MAIN", "XVALUE_T", ""};
inline constexpr IntValue kUpdateDays{"MAIN", "XVALUE_D", 7};
// The main frame's docking layout; sizing bars use "%s-SCBar-%d" sections.
inline constexpr const char* kBarsSection = "BARS";

// Reads an int value, or its default when missing.
int Read(const IntValue& v);
void Write(const IntValue& v, int value);
std::string Read(const StringValue& v);
void Write(const StringValue& v, const std::string& value);

}  // namespace ProfileKeys

// The stitching values the pages and the frame hand to the engine, read with
// their ranges enforced: the engine indexes preset tables with them.
struct StitchingProfile {
    int horzVert = 1;
    int motionModel = 2;
    int lensDist = 0;
    int lensType = 7;
    int cyclorama = 0;
    int lensDistTl = 0;
    int ldPolTypeTl = 0;
    int surfaceTl = 0;

    static StitchingProfile Read();
};

// The print layout flags that live in the profile.
struct PrintProfileFlags {
    int inchUnits = 1;
    int printMarkers = 1;
};

// The settings the application object loads at start-up and saves at exit.
struct CAppSettings {
    int m_bShowSaveOptions = 0;
    int m_nManualMatching = 0;
    PrintProfileFlags m_print;
    int m_bShowPromptOnSave = 1;
    int m_nHowToSave = 0;
    int m_bShowHowToSave = 1;
    int m_bEditOnDblClk = 0;
    int m_bAutoLaunch = 1;
    int m_nJpegQuality = 75;
    int m_nSortMode = 7;
    bool m_bDetailsView = false;
    int m_bShowInTray = 0;
    int m_bContinueOnExit = 0;
    // Browser values kept as program-wide values for the photo browser.
    int thumbnailSize = 100;  // until loaded
    int thumbsListMode = 0;

    // Reads the profile in the loader's order (the browser colours come from
    // the skin: BrowserColors).
    void LoadSettings();
    // Writes GENERAL/NOTFIRSTLAUNCH = 1 and the values the application owns.
    void SaveSettings() const;
};

// The nine browser colours of the skin's "BROWSER" section.
struct BrowserColors {
    SkinRgb selectedText{255, 0, 0};
    SkinRgb text{0, 0, 0};
    SkinRgb background{203, 219, 244};
    SkinRgb inFrame{233, 233, 233};
    SkinRgb inFrameCut{128, 128, 128};
    SkinRgb selectedBorder{254, 190, 47};
    SkinRgb border{122, 157, 227};
    SkinRgb detailsSeparator{123, 138, 172};
    SkinRgb detailsTab{119, 158, 227};

    static BrowserColors Load(const CSkinFile& skin);
};
