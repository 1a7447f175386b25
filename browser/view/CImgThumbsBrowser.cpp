#include "CImgThumbsBrowser.h"

#include <sys/resource.h>
#include <unistd.h>

#include <QImageReader>
#include <QTransform>

#include <cerrno>

#include "BrowserHost.h"

std::atomic<int> g_bCancelImageRead{0};
CImgThumbsBrowser* g_pThumbsBrowser = nullptr;

namespace {

// The loader yields to everything else the program does.
constexpr int kLoaderNice = 10;

std::mutex g_readerLock;
PictureReader g_reader;

std::shared_ptr<QImage> PlainPictureReader(const std::string& path) {
    QImageReader reader(QString::fromStdString(path));
    reader.setAutoTransform(false);
    if (!reader.canRead())
        return nullptr;
    auto image = std::make_shared<QImage>();
    if (!reader.read(image.get()) || image->isNull())
        return nullptr;
    return image;
}

std::shared_ptr<QImage> ReadPicture(const std::string& path) {
    PictureReader reader;
    {
        std::lock_guard<std::mutex> lock(g_readerLock);
        reader = g_reader;
    }
    return reader ? reader(path) : PlainPictureReader(path);
}

}  // namespace

void SetPictureReader(PictureReader reader) {
    std::lock_guard<std::mutex> lock(g_readerLock);
    g_reader = std::move(reader);
}

QImage RotateFlip(const QImage& image, int code) {
    if (code <= 0 || code > 7)
        return image;
    QImage result = code >= 4 ? image.mirrored(true, false) : image;
    const int quarters = code % 4;
    if (quarters)
        result = result.transformed(QTransform().rotate(90.0 * quarters));
    return result;
}

CImgThumbsBrowser::CImgThumbsBrowser(CThumbsBuilderThreads& builder) : CThumbsBrowser(builder) {
    m_loader = std::thread([this] { LoaderProc(); });
}

CImgThumbsBrowser::~CImgThumbsBrowser() {
    // No builder or monitor thread may call into a browser half destroyed.
    m_builder.RemoveClient(this);
    StopFolderMonitor();
    StopListing();
    g_bCancelImageRead = 1;
    m_pictureRequests.Close();
    // Joined: the thread works on this browser's fields.
    if (m_loader.joinable())
        m_loader.join();
}

void CImgThumbsBrowser::CancelImageRead() {
    g_bCancelImageRead = 1;
    m_pictureRequests.Replace({});
}

std::shared_ptr<CPaletteItem> CImgThumbsBrowser::NewItem() {
    return std::make_shared<CPaletteItemImg>();
}

void CImgThumbsBrowser::ClearCurrentFile() {
    m_currentFile.clear();
}

void CImgThumbsBrowser::SetRotateFlip(int code) {
    std::lock_guard<std::mutex> lock(g_csPictureLoad);
    m_rotateFlip = code;
}

std::string CImgThumbsBrowser::GetFirstSelectedFile() const {
    std::vector<std::string> files;
    GetSelectedFiles(files);
    return files.empty() ? std::string() : files.front();
}

bool CImgThumbsBrowser::HasSelection() const {
    std::vector<std::string> files;
    GetSelectedFiles(files);
    return !files.empty();
}

void CImgThumbsBrowser::OnFileRenamed(const std::string& oldPath, const std::string& newPath) {
    ThumbItemPtr old;
    if (!LookupItem(oldPath, old) || !old)
        return;
    CFileStatus status;
    if (!CFile::GetStatus(newPath, status))
        return;
    auto renamed = std::make_shared<CPaletteItemImg>();
    CFileStatus oldStatus;
    const bool oldGone = !CFile::GetStatus(oldPath, oldStatus);
    std::lock_guard<std::recursive_mutex> lock(g_csThumbsBrowser);
    renamed->CopyFrom(*old);
    renamed->m_final = old->m_final;
    renamed->m_fileTime = status.m_mtime;
    // Replacing an entry releases the item it held.
    g_ThumbCache.SetAt(newPath, renamed);
    if (oldGone)
        g_ThumbCache.RemoveKey(oldPath);
}

void CImgThumbsBrowser::LoaderProc() {
    {
        const id_t tid = static_cast<id_t>(::gettid());
        errno = 0;
        const int now = ::getpriority(PRIO_PROCESS, tid);
        if (errno == 0)
            ::setpriority(PRIO_PROCESS, tid, std::min(19, now + kLoaderNice));
    }
    while (const std::optional<uint64_t> generation = m_pictureRequests.WaitBatch()) {
        LoadRequestedPicture(*generation);
        m_pictureRequests.EndBatch();
    }
}

void CImgThumbsBrowser::LoadRequestedPicture(uint64_t generation) {
    g_bCancelImageRead = 0;
    std::string requested, loaded;
    int rotate;
    {
        std::lock_guard<std::mutex> lock(g_csPictureLoad);
        requested = m_requestedPicture;
        loaded = m_loadedPicture;
        rotate = m_rotateFlip;
    }
    if (requested.empty()) {
        std::lock_guard<std::mutex> lock(g_csPictureLoad);
        m_loadedPicture.clear();
        return;
    }
    if (requested == loaded) {
        // Loaded by a batch whose request was replaced while it read the
        // fields: that batch stayed quiet, so this one announces it.
        Announce(generation, requested);
        return;
    }
    std::shared_ptr<QImage> picture;
    try {
        ++m_decodes;
        picture = ReadPicture(requested);
    } catch (...) {
        // A reader that throws loaded nothing; the thread stays.
        picture.reset();
    }
    if (!picture || picture->isNull())
        return;
    if (rotate)
        *picture = RotateFlip(*picture, rotate);
    {
        std::lock_guard<std::mutex> lock(g_csPictureLoad);
        if (m_requestedPicture != requested)
            return;
        m_picture = picture;
        m_loadedPicture = requested;
        CFile::GetStatus(requested, m_pictureStatus);
    }
    m_announcedPicture.clear();
    Announce(generation, requested);
}

void CImgThumbsBrowser::Announce(uint64_t generation, const std::string& path) {
    // The flag is raised before a newer request replaces the generation.
    if (path == m_announcedPicture || !m_pictureRequests.IsCurrent(generation) || g_bCancelImageRead != 0)
        return;
    m_announcedPicture = path;
    BrowserHost().PostMainWindowCommand(ID_FILEREADED);
}
