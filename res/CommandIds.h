#pragma once
// The program's command ids, as its menus, toolbars, tabs, strips and the
// photo browser send them: the one table every layer takes them from.

namespace CmdId {

// The task tabs and the task toolbar.
inline constexpr int TaskAddImages = 32773;
inline constexpr int TaskStitch = 32774;
inline constexpr int TaskExport = 32777;
inline constexpr int Home = 32776;
inline constexpr int HomePage = 32838;
inline constexpr int CheckForUpdates = 32850;

// The project's photos: the button strip, the photo strip and the menus.
inline constexpr int AddSelected = 32808;
inline constexpr int RemoveSelected = 32813;
inline constexpr int RemoveAll = 32811;
// The photo strip's own delete of its selected photos.
inline constexpr int StripDeleteSelected = 32834;
// "&Info..." of a project photo.
inline constexpr int PhotoInfo = 32836;
inline constexpr int Stitch = 32823;
inline constexpr int Render = 32822;

// The picture view's zoom.
inline constexpr int ZoomIn = 32814;
inline constexpr int ZoomOut = 32815;
inline constexpr int ZoomActual = 32816;
inline constexpr int ZoomFitWindow = 32817;
inline constexpr int ZoomFitHeight = 32842;
inline constexpr int ZoomFitWidth = 32843;

// The photo browser: its threads' requests to the main window...
inline constexpr int FileReaded = 32778;       // the requested picture is loaded
inline constexpr int BeginReadFolder = 32779;  // the watched folder changed
inline constexpr int ReadAgain = 32788;        // a file went behind the browser's back
// ...and its menus.
inline constexpr int Refresh = 32818;
inline constexpr int SelectAll = 32791;
inline constexpr int SortDate = 32793;
inline constexpr int SortName = 32794;
inline constexpr int SortFormat = 32795;
inline constexpr int SortSize = 32796;
inline constexpr int SortDcf = 32839;
inline constexpr int ViewThumbnails = 32820;
inline constexpr int ViewList = 59411;
inline constexpr int ViewDetails = 32821;
inline constexpr int Info = 32801;
inline constexpr int Rename = 32840;
inline constexpr int EditClear = 57632;
inline constexpr int EditCopy = 57634;
inline constexpr int EditCut = 57635;
inline constexpr int EditPaste = 57637;
// The folder tree's delete of its selected folder.
inline constexpr int FolderDelete = 32784;

// The framework's file, application and help commands.
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
inline constexpr int HelpTopics = 57667;

}  // namespace CmdId
