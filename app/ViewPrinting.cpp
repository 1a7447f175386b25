#include "ViewPrinting.h"

#include <algorithm>

#include <QFont>
#include <QFontMetrics>
#include <QPainter>
#include <QPrintDialog>
#include <QPen>
#include <QPrintPreviewDialog>
#include <QPrintPreviewWidget>
#include <QPrinter>
#include <QTimer>

#include "COvHorizelDoc.h"
#include "DibImage.h"
#include "PrinterServices.h"
#include "QtPrinterBackend.h"

std::unique_ptr<QPrinter> CViewPrinting::PreparePrinter(int* from, int* to) {
    // Nothing to print before the full-size result (a command run while disabled).
    if (!m_print || !m_backend || !m_doc || !m_doc->IsFullResultCurrent())
        return nullptr;
    m_print->GetPageRange(from, to);
    const std::string name = m_print->GetPrinterName();
    PrintSetup::CDevMode* mode = nullptr;
    if (name.empty() || !m_print->GetDevMode(name, &mode) || !mode)
        return nullptr;
    std::unique_ptr<QPrinter> printer = m_backend->CreatePrinter(name, *mode);
    if (!printer)
        return nullptr;
    PrintLayout layout;
    m_print->GetLayout(&layout);
    printer->setFullPage(layout.physicalPage != 0);
    printer->setFromTo(*from, *to);
    printer->setDocName(QStringLiteral("Horizel"));
    return printer;
}

bool CViewPrinting::OnFilePrint(bool ask, QWidget* parent) {
    int from = 1, to = 1;
    std::unique_ptr<QPrinter> printer = PreparePrinter(&from, &to);
    if (!printer)
        return false;
    const bool toFile = printer->outputFormat() == QPrinter::PdfFormat;
    int first = from, last = to;
    if (ask) {
        // The dialog's own file field names the PDF file.
        QPrintDialog dialog(printer.get(), parent);
        dialog.setObjectName(QStringLiteral("PrintDialog"));
        dialog.setMinMax(from, to);
        dialog.setFromTo(from, to);
        dialog.setOption(QAbstractPrintDialog::PrintPageRange, true);
        if (onPrintDialogShown)
            QTimer::singleShot(0, &dialog, [this, &dialog] { onPrintDialogShown(&dialog); });
        if (dialog.exec() != QDialog::Accepted)
            return false;
        if (printer->printRange() == QPrinter::PageRange && printer->fromPage() > 0) {
            first = std::clamp(printer->fromPage(), from, to);
            last = std::clamp(printer->toPage(), first, to);
        }
    } else if (toFile) {
        const QString name = m_backend->AskPdfFileName(parent);
        if (name.isEmpty())
            return false;
        printer->setOutputFileName(name);
    }
    if (printer->outputFormat() == QPrinter::PdfFormat && !printer->outputFileName().isEmpty())
        m_backend->RememberPdfFileName(printer->outputFileName());
    PrintPages(*printer, first, last, to);
    return true;
}

bool CViewPrinting::OnFilePrintPreview(QWidget* parent) {
    int from = 1, to = 1;
    std::unique_ptr<QPrinter> printer = PreparePrinter(&from, &to);
    if (!printer)
        return false;
    QPrintPreviewDialog preview(printer.get(), parent);
    preview.resize(1100, 760);
    QObject::connect(&preview, &QPrintPreviewDialog::paintRequested, &preview,
                     [this, from, to](QPrinter* device) { PrintPages(*device, from, to, to); });
    if (auto* widget = preview.findChild<QPrintPreviewWidget*>()) {
        // One page alone; more side by side, as they join.
        if (to - from < 1)
            widget->setSinglePageViewMode();
        else
            widget->setAllPagesViewMode();
        // Fitted once the dialog has its size.
        QTimer::singleShot(0, widget, [widget] { widget->fitInView(); });
    }
    if (onPreviewShown)
        QTimer::singleShot(0, &preview, [this, &preview] { onPreviewShown(&preview); });
    preview.exec();
    return true;
}

PrinterCaps CViewPrinting::CapsOf(const QPrinter& printer, bool physicalPage) {
    PrinterCaps caps;
    const int dpi = printer.resolution();
    const QPageLayout layout = printer.pageLayout();
    const QRect paint = layout.paintRectPixels(dpi);
    const QRect full = layout.fullRectPixels(dpi);
    caps.horzRes = paint.width();
    caps.vertRes = paint.height();
    caps.physWidth = full.width();
    caps.physHeight = full.height();
    caps.dpiX = caps.dpiY = dpi;
    (void)physicalPage;
    return caps;
}

void CViewPrinting::PrintPages(QPrinter& printer, int from, int to, int last) {
    PrintLayout layout;
    m_print->GetLayout(&layout);
    const PrinterCaps caps = CapsOf(printer, layout.physicalPage != 0);
    QPainter painter;
    if (!painter.begin(&printer))
        return;
    QFont font(QStringLiteral("Arial"));
    font.setPointSizeF(8);
    painter.setFont(font);
    for (int page = from; page <= to; ++page) {
        if (page > from)
            printer.newPage();
        // Every page works on a fresh copy of the application's layout.
        PrintLayout copy;
        m_print->GetLayout(&copy);
        PanoramaLib::IPanoElement* picture = nullptr;
        const PrintMath::PrintPagePlan plan = m_doc->PrintPage(caps, page, last, &copy, &picture);
        DrawPage(painter, plan, picture);
    }
    painter.end();
}

void CViewPrinting::DrawPage(QPainter& painter, const PrintMath::PrintPagePlan& plan,
                             const PanoramaLib::IPanoElement* picture) {
    if (!plan.draw || !picture)
        return;
    const QImage image = DibImage::Wrap(picture);
    if (image.isNull())
        return;
    const auto& s = plan.source;
    const auto& t = plan.target;
    // The plan's source runs from the picture's top; the buffer's rows from its bottom.
    const QRect source(int(s.left), image.height() - int(s.bottom), int(s.right - s.left),
                       int(s.bottom - s.top));
    const QRect target(int(t.left), int(t.top), int(t.right - t.left), int(t.bottom - t.top));
    DibImage::DrawFlipped(painter, target, image, source);

    const QFontMetrics metrics(painter.font(), painter.device());
    for (const PrintMath::PrintMarker& m : plan.markers) {
        const QColor colour = m.red ? QColor(255, 0, 0) : QColor(0, 0, 0);
        QPen pen(colour, 0, Qt::DotLine);
        painter.setPen(pen);
        for (const auto& tick : m.ticks)
            painter.drawLine(QPoint(int(tick.left), int(tick.top)),
                             QPoint(int(tick.right), int(tick.bottom)));
        const QString text = QString::number(m.number);
        QRect box = metrics.boundingRect(text);
        box.moveTo(0, 0);
        switch (m.anchor) {
            case PrintMath::PrintMarker::TextAnchor::TopLeft:
                box.moveTopLeft(QPoint(int(m.textX), int(m.textY)));
                break;
            case PrintMath::PrintMarker::TextAnchor::TopRight:
                box.moveTopRight(QPoint(int(m.textX), int(m.textY)));
                break;
            case PrintMath::PrintMarker::TextAnchor::BottomLeft:
                box.moveBottomLeft(QPoint(int(m.textX), int(m.textY)));
                break;
        }
        painter.drawText(box, Qt::AlignCenter, text);
    }
}
