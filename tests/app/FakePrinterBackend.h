#pragma once
// A printer system in memory: named printers with their page, resolution and
// driver version, a default printer, and a properties dialog that answers as
// told.

#include <map>
#include <string>
#include <vector>

#include "CPrinting.h"

struct FakePrinter {
    PrinterCaps caps{4800, 6600, 5100, 7016, 600, 600, 24, 1};
    std::uint16_t driverVersion = 1;
    std::int16_t paper = 9;
    bool opens = true;
};

class FakePrinterBackend : public PrintSetup::IPrinterBackend {
public:
    std::map<std::string, FakePrinter> printers;
    std::string defaultPrinter;
    int dialogResult = PrintSetup::kDialogCancel;
    std::int16_t dialogOrientation = PrintSetup::CDevMode::kLandscape;
    int dialogCalls = 0;

    std::vector<std::string> PrinterNames() override {
        std::vector<std::string> names;
        for (const auto& [name, p] : printers)
            names.push_back(name);
        return names;
    }
    std::string DefaultPrinterName() override { return defaultPrinter; }
    bool DefaultDevMode(const std::string& printer, PrintSetup::CDevMode& mode) override {
        const auto it = printers.find(printer);
        if (it == printers.end() || !it->second.opens)
            return false;
        mode = PrintSetup::CDevMode::Make(printer, it->second.driverVersion);
        mode.SetPaperSize(it->second.paper);
        mode.SetPrintQuality(static_cast<std::int16_t>(it->second.caps.dpiX));
        return true;
    }
    bool GetCaps(const std::string& printer, const PrintSetup::CDevMode& mode, PrinterCaps& caps) override {
        const auto it = printers.find(printer);
        if (it == printers.end() || !it->second.opens)
            return false;
        caps = it->second.caps;
        if (mode.Orientation() == PrintSetup::CDevMode::kLandscape) {
            std::swap(caps.horzRes, caps.vertRes);
            std::swap(caps.physWidth, caps.physHeight);
            std::swap(caps.dpiX, caps.dpiY);
        }
        return true;
    }
    int EditDevMode(const std::string& printer, const PrintSetup::CDevMode* in,
                    PrintSetup::CDevMode& out) override {
        ++dialogCalls;
        if (in)
            out = *in;
        else
            DefaultDevMode(printer, out);
        out.SetOrientation(dialogOrientation);
        return dialogResult;
    }
};
