#include "CommandLine.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <system_error>

#include "ReadableExtensions.h"

namespace {

std::string Lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return s;
}

bool IsKnownSwitch(const std::string& lowerName) {
    static const char* const kNames[] = {"register", "regserver", "unregister", "unregserver",
                                         "p",        "pt",        "dde"};
    return std::any_of(std::begin(kNames), std::end(kNames), [&](const char* n) { return lowerName == n; });
}

bool Exists(const std::string& path) {
    std::error_code ec;
    return std::filesystem::exists(path, ec);
}

}  // namespace

CQXCommandLineInfo::CQXCommandLineInfo() : CQXCommandLineInfo(nullptr) {}

CQXCommandLineInfo::CQXCommandLineInfo(ReadableTest test) : readable_(std::move(test)) {
    m_files.reserve(10);
}

CQXCommandLineInfo::~CQXCommandLineInfo() {
    m_files.clear();
}

bool CQXCommandLineInfo::SplitSwitch(const std::string& arg, std::string& name) {
    if (arg.size() < 2)
        return false;
    if (arg.rfind("--", 0) == 0) {
        name = arg.substr(2);
        return !name.empty();
    }
    if (arg[0] == '-') {
        name = arg.substr(1);
        return true;
    }
    if (arg[0] == '/') {
        const std::string rest = arg.substr(1);
        if (rest.find('/') != std::string::npos || !IsKnownSwitch(Lower(rest)) || Exists(arg))
            return false;
        name = rest;
        return true;
    }
    return false;
}

void CQXCommandLineInfo::ParseCommandLine(const std::vector<std::string>& args) {
    for (size_t i = 0; i < args.size(); ++i) {
        std::string name;
        const bool isFlag = SplitSwitch(args[i], name);
        ParseParam(isFlag ? name : args[i], isFlag, i + 1 == args.size());
    }
}

void CQXCommandLineInfo::ParseParam(const std::string& param, bool isFlag, bool /*isLast*/) {
    if (!isFlag) {
        const bool readable = readable_ ? readable_(param) : IsReadableImageFile(param);
        // A file that is not there would only fail later, in the project.
        if (readable && Exists(param))
            m_files.push_back(param);
        if (m_nShellCommand == FileNew)
            m_nShellCommand = FileOpen;
        return;
    }
    const std::string name = Lower(param);
    if (name == "register" || name == "regserver")
        m_nShellCommand = AppRegister;
    else if (name == "unregister" || name == "unregserver")
        m_nShellCommand = AppUnregister;
    else if (name == "p" || name == "pt")
        m_nShellCommand = FilePrint;
}
