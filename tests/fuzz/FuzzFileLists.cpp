// The file lists of the clipboard and of drops, as the browser's thumbnails,
// its folder tree and its drop targets read them (text/uri-list, and the
// desktops' copied-files and cut markers), and the mount table the folder
// tree and the removable-media checks read (/proc/self/mountinfo). The
// files read are offered again and read back.
#include <QMimeData>

#include <memory>

#include "CThumbsBrowser.h"
#include "CTreeDropTarget.h"
#include "FuzzTarget.h"
#include "RemovableMedia.h"
#include "SerialDragDrop.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::vector<std::string> parts = Fuzz::Parts(data, size, 3);
    QMimeData offered;
    if (!parts[0].empty())
        offered.setData(FileListFormat(), QByteArray::fromStdString(parts[0]));
    if (!parts[1].empty()) {
        offered.setData(QStringLiteral("x-special/gnome-copied-files"), QByteArray::fromStdString(parts[1]));
        offered.setData(QStringLiteral("application/x-kde-cutselection"),
                        QByteArray::fromStdString(parts[1]));
    }
    std::vector<std::string> existing = CThumbsBrowser::FilesFromData(&offered);
    const bool cut = CThumbsBrowser::IsCutData(&offered);
    std::vector<std::string> dropped;  // every local file named
    CSerialDropTarget::GetDroppedFiles(&offered, dropped);
    (void)CTreeDropTarget::DroppedFiles(&offered);

    for (const std::vector<std::string>* files : {&existing, &dropped}) {
        const std::unique_ptr<QMimeData> again(CThumbsBrowser::CreateFilesData(*files, cut));
        (void)CThumbsBrowser::FilesFromData(again.get());
        Fuzz::Expect(CThumbsBrowser::IsCutData(again.get()) == cut);
    }

    // Devices whose minor number is odd count as removable.
    const auto removable = [](const std::string& device) {
        return !device.empty() && (device.back() - '0') % 2 == 1;
    };
    (void)ParseRemovableMounts(parts[2], removable);
    return 0;
}

FuzzSeeds MakeFuzzSeeds() {
    const std::string mounts =
        "22 1 8:1 / / rw,relatime shared:1 - ext4 /dev/sda1 rw\n"
        "40 22 8:17 / /media/ann/CARD\\040ONE rw,nosuid,nodev shared:30 - vfat /dev/sdb1 rw,uid=1000\n"
        "41 22 0:5 / /run/media/bob/disk rw - tmpfs tmpfs rw\n"
        "42 22 259:3 /photos /mnt/usb rw - exfat /dev/nvme0n1p3 rw\n";
    return {{"copied.txt", Fuzz::Joined({"", "copy\nfile:///tmp\nfile:///tmp/a%20b.jpg\n", mounts})},
            {"dropped.txt", Fuzz::Joined({"# a comment\r\nfile:///tmp\r\nfile:///tmp/caf%C3%A9%FF.jpg\r\n"
                                          "https://example.com/x.jpg\r\n",
                                          "cut\nfile:///tmp/\n", mounts})}};
}
