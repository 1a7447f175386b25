// The workflow's rules for a task switch, the build state it keeps from the
// document's runs, and the folder browsing starts in.
#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include "DocTestSupport.h"
#include "Profile.h"
#include "Workflow.h"

using namespace TestDoubles;

TEST(Workflow, WhatATaskSwitchDoesFirst) {
    struct Case {
        const char* name;
        Task task;
        CWorkflow::ProjectState now;
        bool addsSelected, passesStitch, stitches;
    };
    const Case cases[] = {
        {"browsing never adds", Task::AddImages, {0, false, false}, false, false, false},
        {"stitch task, one photo", Task::Stitch, {1, false, false}, true, false, false},
        {"stitch task, two photos", Task::Stitch, {2, false, false}, false, false, false},
        {"export, one photo", Task::Export, {1, false, false}, true, false, false},
        {"export, nothing stitched", Task::Export, {2, false, false}, false, true, true},
        {"export, a build to render", Task::Export, {2, true, false}, false, true, false},
        {"export, rendered", Task::Export, {2, false, true}, false, true, false},
        {"no task", Task::None, {0, false, false}, false, false, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(CWorkflow::AddsSelectedFirst(c.task, c.now), c.addsSelected) << c.name;
        EXPECT_EQ(CWorkflow::PassesStitchAfterAdding(c.task, c.now), c.passesStitch) << c.name;
        EXPECT_EQ(CWorkflow::StitchesFirst(c.task, c.now), c.stitches) << c.name;
    }
    EXPECT_TRUE(CWorkflow::LeavesAddImages(Task::AddImages, Task::Export));
    EXPECT_FALSE(CWorkflow::LeavesAddImages(Task::AddImages, Task::AddImages));
    EXPECT_FALSE(CWorkflow::LeavesAddImages(Task::Stitch, Task::Export));
}

TEST(Workflow, KeepsTheTaskAndTellsEachChange) {
    CWorkflow workflow;
    QSignalSpy changed(&workflow, &CWorkflow::taskChanged);
    EXPECT_EQ(workflow.CurrentTask(), Task::AddImages);
    EXPECT_FALSE(workflow.EnterTask(Task::AddImages));
    EXPECT_FALSE(workflow.EnterTask(Task::None));
    EXPECT_TRUE(workflow.EnterTask(Task::Export));
    EXPECT_EQ(workflow.CurrentTask(), Task::Export);
    ASSERT_EQ(changed.count(), 1);
    EXPECT_EQ(changed[0][0].value<Task>(), Task::Export);
    EXPECT_EQ(changed[0][1].value<Task>(), Task::AddImages);
}

// Each build's end gives the status of the engine's report; a failed build
// and a project without a panorama are told apart from a built one.
TEST(Workflow, BuildStateFollowsTheDocumentsBuilds) {
    DocEnvironment env;
    for (const auto& [reported, expected] :
         {std::pair{1, BuildStatus::Built}, std::pair{2, BuildStatus::Failed},
          std::pair{3, BuildStatus::NoPanorama}, std::pair{5, BuildStatus::RingNotCut}}) {
        DocRig rig;
        rig.doc->AddFiles({env.Photo("a.jpg"), env.Photo("b.jpg")});
        rig.doc->SetCurrentTask(Task::Stitch);
        CWorkflow workflow;
        workflow.SetDocument(rig.doc.get());
        EXPECT_EQ(workflow.LastBuildStatus(), BuildStatus::None);
        bool buildingAtStart = false;
        QObject::connect(&workflow, &CWorkflow::buildStarted,
                         [&] { buildingAtStart = workflow.IsBuilding(); });
        QSignalSpy finished(&workflow, &CWorkflow::buildFinished);
        rig.planar->scriptedReport.status = reported;
        rig.doc->StartStitching();
        EXPECT_TRUE(buildingAtStart) << reported;
        EXPECT_FALSE(workflow.IsBuilding()) << reported;
        ASSERT_EQ(finished.count(), 1) << reported;
        EXPECT_EQ(finished[0][0].value<BuildStatus>(), expected) << reported;
        EXPECT_EQ(workflow.LastBuildStatus(), expected) << reported;
        // A full-size render is told as it starts, and is no build.
        QSignalSpy rendering(&workflow, &CWorkflow::renderStarted);
        rig.doc->Render();
        EXPECT_EQ(rendering.count(), 1) << reported;
        EXPECT_EQ(finished.count(), 1) << reported;
    }
}

// The folder kept from the last run is where browsing starts while it exists.
TEST(Workflow, BrowsingStartsInTheFolderKeptFromTheLastRun) {
    QTemporaryDir dir;
    AppProfile::SetPath(dir.path().toStdString() + "/profile.ini");
    const std::string kept = dir.path().toStdString() + "/photos";
    ASSERT_TRUE(QDir().mkpath(QString::fromStdString(kept)));
    CWorkflow::RememberFolder(kept);
    EXPECT_EQ(CWorkflow::StartFolder(), kept);
    CWorkflow::RememberFolder("");
    EXPECT_EQ(CWorkflow::StartFolder(), kept) << "an empty folder is not kept";
    QDir(QString::fromStdString(kept)).removeRecursively();
    const std::string fallback = CWorkflow::StartFolder();
    EXPECT_NE(fallback, kept);
    EXPECT_TRUE(QFileInfo::exists(QString::fromStdString(fallback))) << fallback;
}

// Leaving the photos for another task drops the results a changed photo list
// made stale.
TEST(Workflow, LeavingThePhotosResetsTheEnginesOnce) {
    DocEnvironment env;
    DocRig rig;
    rig.doc->AddFiles({env.Photo("a.jpg"), env.Photo("b.jpg")});
    CWorkflow workflow;
    workflow.SetDocument(rig.doc.get());
    workflow.EnterTask(Task::Stitch);
    rig.doc->SetCurrentTask(Task::Stitch);
    rig.doc->StartStitching();
    // Back to the photos, a change the user agrees to leaves the result stale.
    workflow.EnterTask(Task::AddImages);
    rig.doc->SetCurrentTask(Task::AddImages);
    ASSERT_TRUE(rig.doc->ConfirmPhotoListChange(nullptr, nullptr, true));
    ASSERT_TRUE(rig.doc->IsResultStale());
    workflow.EnterTask(Task::Export);
    EXPECT_FALSE(rig.doc->IsResultStale());
    EXPECT_EQ(rig.planar->log.Count("FreeResults"), 1);
}

// A switch runs what it needs first and then the task's windows, in order:
// a fake frame records each step it is asked for.
TEST(Workflow, ASwitchRunsItsStepsInOrder) {
    struct Windows : CWorkflow::ITaskWindows {
        CWorkflow::ProjectState now;
        int photosTheSelectionAdds = 0;
        std::string folder;
        std::string steps;
        CWorkflow::ProjectState SwitchProject() const override { return now; }
        void AddBrowserSelection() override {
            now.photoCount += photosTheSelectionAdds;
            steps += "add ";
        }
        void StitchWithPageOptions() override { steps += "stitch "; }
        void ShowTaskWindows(Task task) override { steps += "show" + std::to_string(TaskNumber(task)) + " "; }
        std::string BrowserFolder() const override { return folder; }
        void OpenBrowserFolder(const std::string& opened) override {
            folder = opened;
            steps += "open ";
        }
        void ArrangeTaskWindows(Task task) override {
            steps += "tab" + std::to_string(TaskNumber(task)) + " ";
        }
        void RefreshTaskPage(Task task) override { steps += "page" + std::to_string(TaskNumber(task)) + " "; }
    };
    struct Case {
        const char* name;
        Task from, task;
        CWorkflow::ProjectState now;
        int selectionAdds;
        const char* folder;
        const char* steps;
    };
    const Case cases[] = {
        {"first browse opens the start folder",
         Task::Stitch,
         Task::AddImages,
         {0, false, false},
         0,
         "",
         "show1 open tab1 page1 "},
        {"browsing again keeps the folder",
         Task::Stitch,
         Task::AddImages,
         {0, false, false},
         0,
         "/p",
         "show1 tab1 page1 "},
        {"stitch task adds the selection",
         Task::AddImages,
         Task::Stitch,
         {1, false, false},
         1,
         "/p",
         "add show2 tab2 page2 "},
        {"export adds, passes stitching and stitches",
         Task::AddImages,
         Task::Export,
         {1, false, false},
         2,
         "/p",
         "add show2 tab2 page2 stitch show3 tab3 page3 "},
        {"export stitches first",
         Task::Stitch,
         Task::Export,
         {3, false, false},
         0,
         "/p",
         "show2 tab2 page2 stitch show3 tab3 page3 "},
        {"export with a rendered result",
         Task::Stitch,
         Task::Export,
         {3, false, true},
         0,
         "/p",
         "show3 tab3 page3 "},
        {"no task", Task::Stitch, Task::None, {3, false, false}, 0, "/p", ""},
    };
    QTemporaryDir dir;
    AppProfile::SetPath(dir.path().toStdString() + "/profile.ini");
    for (const Case& c : cases) {
        CWorkflow workflow;
        workflow.EnterTask(c.from);
        Windows windows;
        windows.now = c.now;
        windows.photosTheSelectionAdds = c.selectionAdds;
        windows.folder = c.folder;
        workflow.SwitchTask(c.task, windows);
        EXPECT_EQ(windows.steps, c.steps) << c.name;
        EXPECT_EQ(workflow.CurrentTask(), c.task == Task::None ? c.from : c.task) << c.name;
    }
    // Leaving the photos keeps the browser's folder for the next run.
    CWorkflow workflow;
    Windows windows;
    windows.folder = dir.path().toStdString();
    windows.now.photoCount = 2;
    workflow.SwitchTask(Task::Stitch, windows);
    EXPECT_EQ(CWorkflow::StartFolder(), windows.folder);
}

// The model a build uses is the workflow's; the document's face reads and
// sets it there, and each change is told once.
TEST(Workflow, TheDocumentBuildsWithTheWorkflowsModel) {
    DocRig rig;
    CWorkflow workflow;
    QSignalSpy changed(&workflow, &CWorkflow::stitchModeChanged);
    workflow.SetStitchMode(StitchMode::Planar);
    EXPECT_EQ(changed.count(), 0);
    workflow.SetStitchMode(StitchMode::Tiled);
    workflow.SetDocument(rig.doc.get());
    EXPECT_TRUE(rig.doc->GetTiledOptions());
    rig.doc->SetTiledOptions(false);
    EXPECT_EQ(workflow.GetStitchMode(), StitchMode::Planar);
    ASSERT_EQ(changed.count(), 2);
    EXPECT_EQ(changed[1][0].value<StitchMode>(), StitchMode::Planar);
    workflow.SetDocument(nullptr);
    rig.doc->SetTiledOptions(true);
    EXPECT_EQ(workflow.GetStitchMode(), StitchMode::Planar) << "a document let go keeps its own";
    EXPECT_TRUE(rig.doc->GetTiledOptions());
}

TEST(Workflow, ADocumentBringsItsProjectAndWhenItGoesMidBuildTheRunnerIsFreeAgain) {
    DocEnvironment env;
    CWorkflow workflow;
    QSignalSpy finished(&workflow, &CWorkflow::buildFinished);
    {
        DocRig rig;
        rig.doc->AddFiles({env.Photo("a.jpg"), env.Photo("b.jpg")});
        rig.doc->SetCurrentTask(2);
        HVPanoramaOptions options;
        rig.doc->GetOptions(&options);
        options.motionModel = 2;
        rig.doc->SetOptions(&options);
        workflow.SetDocument(rig.doc.get());
        EXPECT_EQ(workflow.Photos().GetCount(), 2u);
        ASSERT_TRUE(workflow.BuildOptions(StitchMode::Planar));
        EXPECT_EQ(workflow.BuildOptions(StitchMode::Planar)->motionModel, 2);

        workflow.Jobs().SetThreaded(true);
        rig.doc->StartStitching();
        ASSERT_TRUE(workflow.Jobs().IsRunning());
    }
    // The abandoned build's end arrives after its document has gone: it is
    // dropped, and the next run starts.
    QTest::qWait(50);
    EXPECT_EQ(finished.count(), 0);
    EXPECT_FALSE(workflow.Jobs().IsRunning());
    bool ran = false;
    EXPECT_TRUE(workflow.Jobs().Run(JobKind::Save, {}, [&] { ran = true; }));
    EXPECT_TRUE(QTest::qWaitFor([&] { return ran; }, 5000));
}
