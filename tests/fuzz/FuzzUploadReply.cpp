// The print service's replies to the login and to an upload, read as the
// upload reads them, and the multipart body of a pending panorama: its
// boundary never occurs in the file, and read in pieces of any size it is
// the whole body.
#include <filesystem>

#include "FuzzTarget.h"
#include "HttpClient.h"
#include "PrintServiceUpload.h"

namespace {

const std::vector<std::string> kLoginKeys = {"sessionid=", "uploadurl=", "token="};
const std::vector<std::string> kFileKeys = {"error=", "clickurl=", "pollurl="};

void ExpectBody(const NetPrint::MultipartBody& body, const std::string& file, std::size_t piece) {
    const std::string bytes = body.Bytes();
    Fuzz::Expect(bytes.size() == body.Size());
    Fuzz::Expect(file.find(body.Boundary()) == std::string::npos);
    const std::string tail = "\r\n--" + body.Boundary() + "--\r\n";
    Fuzz::Expect(bytes.size() >= tail.size() + file.size() &&
                 bytes.compare(bytes.size() - tail.size() - file.size(), file.size(), file) == 0 &&
                 bytes.compare(bytes.size() - tail.size(), tail.size(), tail) == 0);
    std::string read;
    std::vector<char> buffer(piece);
    while (std::size_t n = body.Read(read.size(), buffer.data(), buffer.size()))
        read.append(buffer.data(), n);
    Fuzz::Expect(read == bytes);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::vector<std::string> parts = Fuzz::Parts(data, size, 3);
    const std::string& login = parts[0];
    const std::string& accepted = parts[1];
    int error = 0;
    (void)NetPrint::ReplyError(login, error);
    const std::string sessionId = NetPrint::ReplyValue(login, "sessionid=", kLoginKeys);
    const std::string uploadUrl = NetPrint::ReplyValue(login, "uploadurl=", kLoginKeys);
    const std::string token = NetPrint::ReplyValue(login, "token=", kLoginKeys);
    Http::Url upload;
    (void)Http::ParseUrl(uploadUrl, upload);

    // The pending file's bytes; the piece size the sender asks for varies
    // with the input, as curl's does.
    const std::string path =
        Fuzz::InputFile(reinterpret_cast<const std::uint8_t*>(parts[2].data()), parts[2].size(), ".jpg");
    NetPrint::MultipartBody body;
    if (body.Build(path, "ImageData", std::filesystem::path(path).filename().string(),
                   {{"sessionid", sessionId}, {"caption", "ORVEX Horizel"}}))
        ExpectBody(body, parts[2], 1 + size % 10240);

    (void)NetPrint::ReplyError(accepted, error);
    for (const std::string& key : kFileKeys)
        (void)NetPrint::ReplyValue(accepted, key, kFileKeys);
    const std::string orderUrl = NetPrint::ReplyValue(accepted, "clickurl=", {}) + "&token=" + token;
    Http::Url order;
    (void)Http::ParseUrl(orderUrl, order);
    return 0;
}

FuzzSeeds MakeFuzzSeeds() {
    return {{"accepted.txt",
             Fuzz::Joined({"error=0\nsessionid=S1\nuploadurl=http://print.example:8080/upload\ntoken=T9\n",
                           "error=0&pollurl=http://p/&clickurl=http://print.example/order?id=7",
                           "\xFF\xD8\xFF\xE0 ----------0badf00d \xFF\xD9"})},
            {"refused.txt", Fuzz::Joined({"error=-2&sessionid=&token=", "error=12", ""})}};
}
