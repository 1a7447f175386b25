#pragma once
// The program started as a user starts it on the given photos: its main
// window shown at 1600 x 1000 and the photos' load ended.

#include <QTest>
#include <string>
#include <vector>

#include "MainFrame.h"
#include "OvHorizelApp.h"
#include "WaitForJobs.h"

inline CMainFrame& StartShown(COvHorizelApp& app, const std::vector<std::string>& photos) {
    app.InitInstance(std::string(OVH_DEFAULT_SKIN_DIR) + "/../ovhorizel", photos);
    CMainFrame& frame = *app.GetMainFrame();
    frame.showNormal();
    frame.setGeometry(0, 0, 1600, 1000);
    QTest::qWait(50);
    WaitForJobs(frame.Document());
    return frame;
}
