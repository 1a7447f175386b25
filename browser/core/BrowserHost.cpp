#include "BrowserHost.h"

#include <QApplication>
#include <QFile>
#include <QMessageBox>
#include <QString>
#include <QStringList>

#include <algorithm>
#include <cctype>

#include "StringTable.h"

namespace {

IBrowserHost* g_host = nullptr;

IBrowserHost& PlainHost() {
    static IBrowserHost host;
    return host;
}

bool CanAsk() {
    return qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr;
}

// Our own texts for the questions the platform's file operations would ask.
enum : unsigned {
    IDS_CONFIRM_PERMANENT_DELETE = 0xFB01,
    IDS_CONFIRM_REPLACE = 0xFB02,
    IDS_FILE_OPERATION_FAILED = 0xFB03,
    IDS_FILES_SKIPPED = 0xFB04,
};

}  // namespace

bool ExtensionInList(const std::string& path, const std::string& list) {
    const size_t dot = path.find_last_of('.');
    const size_t slash = path.find_last_of('/');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return false;
    std::string ext = path.substr(dot);
    if (ext.size() < 4)
        return false;
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
    size_t start = 0;
    while (start < list.size()) {
        size_t end = list.find(';', start);
        if (end == std::string::npos)
            end = list.size();
        if (list.compare(start, end - start, ext) == 0)
            return true;
        start = end + 1;
    }
    return false;
}

bool IBrowserHost::IsReadableImageFile(const std::string& path) {
    return ExtensionInList(path, ".bmp;.jpg;.tif;.png;");
}

bool IBrowserHost::ConfirmPermanentDelete(const std::vector<std::string>& paths) {
    if (!CanAsk())
        return false;
    // A long selection is named in part; the question stays readable.
    QStringList names;
    for (size_t i = 0; i < paths.size() && i < 10; ++i)
        names << QString::fromStdString(paths[i]);
    if (paths.size() > 10)
        names << QStringLiteral("...");
    const QString text = QString::fromUtf8(Res::LoadStr(IDS_CONFIRM_PERMANENT_DELETE)).arg(names.join('\n'));
    return QMessageBox::question(MainWindow(), QApplication::applicationName(), text,
                                 QMessageBox::Yes | QMessageBox::No, QMessageBox::No) == QMessageBox::Yes;
}

bool IBrowserHost::AskYesNo(const std::string& text) {
    if (!CanAsk())
        return false;
    return QMessageBox::question(MainWindow(), QApplication::applicationName(), QString::fromStdString(text),
                                 QMessageBox::Yes | QMessageBox::No, QMessageBox::No) == QMessageBox::Yes;
}

bool IBrowserHost::ConfirmReplace(const std::string& target) {
    if (!CanAsk())
        return false;
    const QString text =
        QString::fromUtf8(Res::LoadStr(IDS_CONFIRM_REPLACE)).arg(QString::fromStdString(target));
    return QMessageBox::question(MainWindow(), QApplication::applicationName(), text,
                                 QMessageBox::Yes | QMessageBox::No, QMessageBox::No) == QMessageBox::Yes;
}

void IBrowserHost::ReportFileOperationError(const std::string& path, const std::string& reason) {
    if (!CanAsk())
        return;
    const QString text = QString::fromUtf8(Res::LoadStr(IDS_FILE_OPERATION_FAILED))
                             .arg(QString::fromStdString(path), QString::fromStdString(reason));
    // Plain text: a file name is never read as markup.
    QMessageBox box(QMessageBox::Warning, QApplication::applicationName(), text, QMessageBox::Ok,
                    MainWindow());
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

void IBrowserHost::ReportSkippedFiles(const std::vector<std::pair<std::string, std::string>>& skipped) {
    if (!CanAsk() || skipped.empty())
        return;
    QStringList lines;
    for (const auto& [path, reason] : skipped)
        lines << QFile::decodeName(path.c_str()) + QStringLiteral(": ") + QString::fromStdString(reason);
    const QString text = QString::fromUtf8(Res::LoadStr(IDS_FILES_SKIPPED)).arg(lines.join('\n'));
    QMessageBox box(QMessageBox::Warning, QApplication::applicationName(), text, QMessageBox::Ok,
                    MainWindow());
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

IBrowserHost& BrowserHost() {
    return g_host ? *g_host : PlainHost();
}

void SetBrowserHost(IBrowserHost* host) {
    g_host = host;
}
