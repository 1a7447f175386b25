// The update check's two replies, read as the check reads them: the first is
// the address to ask (blanks around it dropped), the second the tagged
// answer (as UTF-8, its first 1024 characters). The address asked is built
// from the first and must parse again as the same address.
#include <QString>

#include "FuzzTarget.h"
#include "HttpClient.h"
#include "UpdateCheck.h"

namespace {

std::string Trimmed(const std::string& s) {
    const std::size_t b = s.find_first_not_of(" \t\r\n");
    if (b == std::string::npos)
        return {};
    return s.substr(b, s.find_last_not_of(" \t\r\n") - b + 1);
}

void ExpectSameAddress(const Http::Url& url) {
    Http::Url again;
    Fuzz::Expect(Http::ParseUrl(url.ToString(), again));
    Fuzz::Expect(again.ToString() == url.ToString());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::vector<std::string> replies = Fuzz::Parts(data, size, 2);
    Http::Url check;
    if (Http::ParseUrl(Trimmed(replies[0]), check)) {
        ExpectSameAddress(check);
        Http::Url query;
        Fuzz::Expect(Http::ParseUrl(check.ToString() + "?" + CUpdateCheck::QueryFields(), query));
    }
    CUpdateCheck update;
    const std::string text = QString::fromUtf8(replies[1]).left(1024).toUtf8().toStdString();
    if (update.ParseReply(text)) {
        const CUpdateCheck::Result result = update.GetResult();
        Http::Url page;
        for (const std::string& address : {result.updateurl, result.moreinfourl})
            if (Http::ParseUrl(address, page))
                ExpectSameAddress(page);
    }
    return 0;
}

FuzzSeeds MakeFuzzSeeds() {
    return {{"found.txt", Fuzz::Joined({"http://update.orvex.example:8080/check\r\n",
                                        "<status>1</status><message40>New</message40><message80>A new version"
                                        "</message80><message250>Version 2 is out.</message250>"
                                        "<updateurl>https://update.orvex.example/get?v=2</updateurl>"
                                        "<moreinfourl>http://orvex.example/news#v2</moreinfourl>"
                                        "<nextcheckindays>14</nextcheckindays>\n"})},
            {"nothing.txt", Fuzz::Joined({" [::1]:80/a b", "<status>0</status><nextcheckindays>7"})}};
}
