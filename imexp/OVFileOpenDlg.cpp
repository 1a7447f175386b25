// COVFileOpenDlg: the library's open dialog as a class callers can keep.

#include <string>

#include "FileDialogs.h"
#include "Formgate.h"

struct COVFileOpenDlg::Data {
    int openFileDialog;
    std::string defaultExtension;
    std::string path;
    unsigned long flags;
    std::string filter;
    void* parent;
};

COVFileOpenDlg::COVFileOpenDlg(int openFileDialog, const char* defaultExtension, const char* fileName,
                               unsigned long flags, const char* filter, void* parent)
    : m_bVideo(0),
      m_data(new Data{openFileDialog, defaultExtension ? defaultExtension : "", fileName ? fileName : "",
                      flags, filter ? filter : "", parent}) {}

COVFileOpenDlg::~COVFileOpenDlg() {
    delete m_data;
}

int COVFileOpenDlg::DoModal() {
    try {
        formgate::OpenDialogOptions options;
        options.video = m_bVideo != 0;
        // The dialog starts on the remembered reader, not on the starting name's.
        options.matchPath = false;
        options.limitPath = false;
        std::string path = m_data->path;
        const int result = formgate::RunOpenDialog(m_data->parent, path, options);
        if (result == 1)
            m_data->path = path;
        return result;
    } catch (...) {
        return 0;
    }
}

const char* COVFileOpenDlg::GetPathName() const {
    return m_data->path.c_str();
}
