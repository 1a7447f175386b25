#pragma once
// The view's printing: the page range and the chosen printer from the
// application, then for every page the document's plan drawn on the printer
// with the 8-point font the page numbers use. "&Print" asks with the print
// dialog first (printer, copies, range); the direct print goes straight to
// the selected printer; "Print Pre&view" shows the same pages in a preview.
// The "PDF file" printer asks for the file to write.

#include <QString>
#include <functional>
#include <memory>

#include "PrintLayout.h"

class COvHorizelDoc;
class CQtPrinterBackend;
class QPainter;
class QPrinter;
class QWidget;
namespace PrintSetup {
class IPrintPnrm;
}
namespace PanoramaLib {
class IPanoElement;
}

class CViewPrinting {
public:
    CViewPrinting(COvHorizelDoc* document, PrintSetup::IPrintPnrm* print, CQtPrinterBackend* backend)
        : m_doc(document), m_print(print), m_backend(backend) {}

    // Prints the page range on the selected printer, after the print dialog
    // when ask is set; false when there is no printer to print on or the user
    // cancelled.
    bool OnFilePrint(bool ask, QWidget* parent);
    // Opens the preview of the page range; the preview dialog is handed to
    // onPreviewShown (tests grab and close it) before it runs.
    bool OnFilePrintPreview(QWidget* parent);
    std::function<void(QWidget*)> onPreviewShown;
    // The print dialog, handed over the same way before it runs.
    std::function<void(QWidget*)> onPrintDialogShown;

    // The printing loop on a prepared printer: pages from..to.
    // Pages from..to of the range that ends at last.
    void PrintPages(QPrinter& printer, int from, int to, int last);
    // One page's picture and markers.
    static void DrawPage(QPainter& painter, const PrintMath::PrintPagePlan& plan,
                         const PanoramaLib::IPanoElement* picture);
    static PrinterCaps CapsOf(const QPrinter& printer, bool physicalPage);

private:
    std::unique_ptr<QPrinter> PreparePrinter(int* from, int* to);

    COvHorizelDoc* m_doc;
    PrintSetup::IPrintPnrm* m_print;
    CQtPrinterBackend* m_backend;
};
