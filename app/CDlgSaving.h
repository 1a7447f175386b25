#pragma once
// The page of the task "3. Export": the cropping choice and the full-size
// rendering, saving the result as an image file, and (with their own pages)
// sending to the print service and printing. It keeps no results: every
// refresh asks the document again.

#include <QString>
#include <functional>
#include <string>
#include <vector>

#include "BaseDialog.h"
#include "DialogCallback.h"
#include "INetPrint.h"
#include "PrinterServices.h"

class CDlgPrintSetup;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;

class CDlgSaving : public CBaseDialog {
    Q_OBJECT
public:
    static constexpr int kTemplateId = 153;
    enum ControlId {
        kStart = 1013,
        kExport = 1014,
        kPrint = 1015,
        kSendToWeb = 1016,
        kPageSetupGroup = 1020,
        kPageSetupPlaceholder = 1021,
        kPrinterButton = 1022,
        kPrintPreview = 1023,
        kPrinterGroup = 1024,
        kPrinterCombo = 1031,
        kPrinterDescription = 1033,
        kFrom = 1034,
        kTo = 1035,
        kPagesGroup = 1036,
        kFromLabel = 1037,
        kToLabel = 1038,
        kRenderGroup = 1072,
        kAspect = 1085,
        kCroppingLabel = 1091,
    };

    explicit CDlgSaving(QWidget* parent = nullptr);

    // Borrowed; set by the task bar before the page is shown.
    void SetExportInterface(IDialogCallback::IExportDialog* exportInterface) { m_export = exportInterface; }
    void SetProductInterface(NetPrint::INetPrint* products) { m_products = products; }
    // The application's printer state; the embedded print setup page gets it too.
    void SetPrintInterface(PrintSetup::IPrintPnrm* print);
    void SetPrinterLister(PrintSetup::IPrinting* printers) { m_printers = printers; }
    // The print buttons send their commands here (the main window's router).
    std::function<void(int)> onCommand;
    // The page-range edits from the application's range; disabled for 1 to 1.
    void RefreshPageRange();

    void UpdateControls() override;
    int GetTooltipStringId(int controlId) const override;
    QString Title() const { return m_title; }

    QComboBox* AspectCombo() const { return m_aspect; }
    QPushButton* StartButton() const { return m_start; }
    QPushButton* ExportButton() const { return m_exportButton; }
    QPushButton* SendToWebButton() const { return m_sendToWeb; }
    CDlgPrintSetup* PrintSetupPage() const { return m_printSetup; }
    QComboBox* PrinterCombo() const { return m_printerCombo; }
    QLabel* PrinterDescription() const { return m_printerDescription; }
    QLineEdit* FromEdit() const { return m_from; }
    QLineEdit* ToEdit() const { return m_to; }
    QPushButton* PrintButton() const { return m_print; }
    QPushButton* PrintPreviewButton() const { return m_printPreview; }

protected:
    void OnInitDialog() override;
    bool event(QEvent* event) override;

private:
    void FillAspectCombo();
    void OnAspectChanged(int index);
    // The combo row of the document's choice: a stored index beyond the list
    // means "Manual", below it "No crop".
    int ChoiceRow() const;
    void ShowSendToWebFor(const NetPrint::CAspectData* product);
    void FitToContents();
    static constexpr int kPageWidth = 248;
    void FillPrinters();
    void OnPrinterChanged(int index);
    void OnRangeEdited(bool to);
    QString DescribePrinter();

    IDialogCallback::IExportDialog* m_export = nullptr;
    NetPrint::INetPrint* m_products = nullptr;
    QComboBox* m_aspect;
    QPushButton* m_start;
    QPushButton* m_sendToWeb;
    QPushButton* m_exportButton;
    PrintSetup::IPrintPnrm* m_pPrint = nullptr;
    PrintSetup::IPrinting* m_printers = nullptr;
    CDlgPrintSetup* m_printSetup;
    std::vector<std::string> m_printerNames;
    std::string m_printerName;
    QPushButton* m_print;
    QPushButton* m_printPreview;
    QPushButton* m_printerButton;
    QComboBox* m_printerCombo;
    QLabel* m_printerDescription;
    QLineEdit* m_from;
    QLineEdit* m_to;
    QGroupBox* m_pageSetup;
    bool m_initialised = false;
    bool m_filling = false;
    QString m_title;
};
