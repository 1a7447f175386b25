#pragma once
// The print layout record and the page arithmetic of printing: how many pages
// a print size needs, which part of the panorama falls on a page, where it
// goes on the paper and where the matching markers of neighbouring pages are
// drawn. Plain integers throughout, so the same numbers drive the printer, the
// preview and the tests.

#include <cstdint>
#include <string>
#include <vector>

// What a printer reports about the page it prints on, in device pixels.
struct PrinterCaps {
    int horzRes = 0;     // printable width
    int vertRes = 0;     // printable height
    int physWidth = 0;   // whole sheet
    int physHeight = 0;  // whole sheet
    int dpiX = 0;
    int dpiY = 0;
    int bitsPixel = 24;
    int planes = 1;
};

struct PrintLayout {
    // Fit mode's page count is held below this: a larger one overflows no
    // arithmetic and prints nothing more useful.
    static constexpr int kMaxPages = 9999;

    int pages = 1;
    int scaleMode = 0;  // 0 fit to pages, 1 manual size
    int inchUnits = 1;  // lengths in thousandths of an inch, else tenths of a millimetre
    int physicalPage = 0;
    int width = 0;
    int height = 0;
    int keepProportions = 1;
    int imageWidth = 1;
    int imageHeight = 1;
    int leftMargin = 0;
    int topMargin = 0;
    int rightMargin = 0;
    int bottomMargin = 0;
    bool overlapOn = false;
    int overlap = 0;
    int markers = 1;

    bool operator==(const PrintLayout&) const = default;
};

namespace PrintMath {

// A length of the layout in device pixels at dpi, rounded.
std::int64_t ToPixels(std::int64_t value, int dpi, bool inchUnits);

// The number of pages a manual size needs for a w x h picture; fills the
// record's image size and, while width or height is 0, the default manual
// size (the printable extent along the pages, the other side in proportion).
// sideBySide: pages run left to right, else top to bottom.
int GetPrintPageCount(const PrinterCaps& caps, PrintLayout* layout, int w, int h, bool sideBySide);

struct Rect {
    std::int64_t left = 0, top = 0, right = 0, bottom = 0;
    bool operator==(const Rect&) const = default;
    bool IsEmpty() const { return right <= left || bottom <= top; }
};

// One matching marker: two short dotted ticks across the picture's edge and a
// page number beside them.
struct PrintMarker {
    enum class TextAnchor {
        TopLeft,     // the text's top-left corner at (textX, textY)
        TopRight,    // its top-right corner there
        BottomLeft,  // its bottom-left corner there
    };
    bool red = false;
    Rect ticks[2];  // from (left, top) to (right, bottom)
    int number = 0;
    std::int64_t textX = 0, textY = 0;
    TextAnchor anchor = TextAnchor::TopLeft;
};

struct PrintPagePlan {
    bool draw = false;  // false: the page stays blank
    Rect source;        // in image pixels
    Rect target;        // in device pixels, from the printable area's corner
    int lastPage = 0;   // the pages the picture really needs in fit mode
    std::vector<PrintMarker> markers;
};

// The page `page` (from 1) of a print whose last page is `lastPage`.
PrintPagePlan PlanPage(const PrinterCaps& caps, const PrintLayout& layoutIn, int w, int h, bool sideBySide,
                       int page, int lastPage);

// The options dialog's change of units: every length of the record in the
// other unit (the height follows the width with keep proportions on).
void ConvertUnits(PrintLayout* layout, bool toInch);

// A printable size in device pixels in the layout's unit; false at no dpi.
bool PaperSizeInUnits(int cxPixels, int cyPixels, int dpiX, int dpiY, bool inchUnits, int* cx, int* cy);

}  // namespace PrintMath

// The arithmetic of the print setup page: length texts, and the ranges of the
// manual size, the margins and the overlap.
namespace PrintSetupRules {

// "12.5 in", "21 cm", "21.55 cm": no trailing zeros.
std::string FormatLength(int value, bool inchUnits, const std::string& unitWord);
// A length typed into an edit, in the record's unit; trailing text is
// ignored, anything that is not a number reads 0, and the value is held
// within the entry maximum on either side.
int ReadLength(const std::string& text, bool inchUnits);
// The page count typed into its edit: 1 ... PrintLayout::kMaxPages.
int ReadPageCount(const std::string& text);

struct PaperInfo {
    int paperWidth = 0;
    int paperHeight = 0;
    int resX = 150;
    int resY = 150;
    bool sideBySide = true;
};

int MinSize(bool inchUnits);
int AbsoluteMaxSize(bool inchUnits);
// The manual width (height) held in its range, and with keep proportions on
// within what the other side allows.
int ClampWidth(int value, const PrintLayout& layout, const PaperInfo& paper);
int ClampHeight(int value, const PrintLayout& layout, const PaperInfo& paper);
int ClampOverlap(int value, const PrintLayout& layout, const PaperInfo& paper);
enum class Margin { Left, Top, Right, Bottom };
int ClampMargin(Margin which, int value, const PrintLayout& layout, const PaperInfo& paper);
// The other side of a manual size in the picture's proportion; the value
// itself when the picture has no size yet.
int ProportionalHeight(int width, const PrintLayout& layout);
int ProportionalWidth(int height, const PrintLayout& layout);

}  // namespace PrintSetupRules
