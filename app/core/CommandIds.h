#pragma once
// The program's command ids, as the menus, toolbars and tabs send them.

namespace CmdId {

inline constexpr int TaskAddImages = 32773;
inline constexpr int TaskStitch = 32774;
inline constexpr int TaskExport = 32777;
inline constexpr int Home = 32776;
inline constexpr int HomePage = 32838;
inline constexpr int CheckForUpdates = 32850;
inline constexpr int AddSelected = 32808;
inline constexpr int RemoveSelected = 32813;
inline constexpr int RemoveAll = 32811;
inline constexpr int ZoomIn = 32814;
inline constexpr int ZoomOut = 32815;
inline constexpr int ZoomActual = 32816;
inline constexpr int ZoomFitWindow = 32817;
inline constexpr int ZoomFitHeight = 32842;
inline constexpr int ZoomFitWidth = 32843;
inline constexpr int FileOpen = 57601;
inline constexpr int FileSave = 57603;
inline constexpr int FileSaveAs = 57604;
inline constexpr int FilePrintSetup = 57606;
inline constexpr int FilePrint = 57607;
inline constexpr int FilePrintDirect = 57608;
inline constexpr int FilePrintPreview = 57609;
inline constexpr int AppOptions = 32829;
inline constexpr int AppAbout = 57664;
inline constexpr int AppExit = 57665;

}  // namespace CmdId
