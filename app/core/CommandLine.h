#pragma once
// The program's command line: image files to take into a new project, and the
// switches that register or unregister the plug-in descriptor. Absolute paths
// start with '/' here, so a '/' argument is a switch only when it names one
// of the known switches and no such file exists.

#include <functional>
#include <string>
#include <vector>

class CQXCommandLineInfo {
public:
    enum ShellCommand { FileNew, FileOpen, FilePrint, AppRegister, AppUnregister };

    // Test for the files kept; IsReadableImageFile by default.
    using ReadableTest = std::function<bool(const std::string&)>;

    CQXCommandLineInfo();
    explicit CQXCommandLineInfo(ReadableTest test);
    ~CQXCommandLineInfo();

    // Parses every argument after the program's name.
    void ParseCommandLine(const std::vector<std::string>& args);
    // One parameter: a flag (its text without the leading '/', '-' or "--")
    // or a file name. Files that are readable images and exist are kept.
    void ParseParam(const std::string& param, bool isFlag, bool isLast);

    ShellCommand m_nShellCommand = FileNew;
    std::vector<std::string> m_files;

    // Whether an argument is a switch, and its name without the prefix.
    static bool SplitSwitch(const std::string& arg, std::string& name);

private:
    ReadableTest readable_;
};
