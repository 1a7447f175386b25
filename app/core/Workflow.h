#pragma once
// The program's workflow above the document: which task is shown, what a
// switch to a task must do first, the project's photos, the document's runs
// (loads, builds, renders and saves, each a job off the user-interface
// thread) and the state of the last build.
// No windows: the frame asks it what a switch needs and carries that out;
// windows follow its signals, on queued connections so that a slot never
// runs inside the document's own step, but for the view's hold on the result:
// it lets go before a build starts and takes a new result at once, as the
// document's next step (the crop frame) works on it.

#include <QObject>
#include <optional>
#include <string>

#include "CClipDescription.h"
#include "DocumentJobs.h"
#include "PanoramaLib.h"
#include "WorkflowTypes.h"

class COvHorizelDoc;

class CWorkflow : public QObject {
    Q_OBJECT
public:
    // What the document says while a switch is under way.
    struct ProjectState {
        int photoCount = 0;
        bool canRenderFullResult = false;
        bool fullResultCurrent = false;
    };
    // What a switch to `requested` does before the task's windows show, in
    // this order, each asked with the project as it is at that point:
    // the browser's selected photos are added when the project has fewer
    // than two;
    static bool AddsSelectedFirst(Task requested, const ProjectState& now);
    // photos just added make a project to stitch, and the export task
    // passes through the stitching task as the user would;
    static bool PassesStitchAfterAdding(Task requested, const ProjectState& now);
    // export needs a result: stitched with the page's settings first unless
    // one is pending to render or already rendered.
    static bool StitchesFirst(Task requested, const ProjectState& now);

    // The windows' part of a switch, carried out by the frame when the
    // workflow asks for it, in the order SwitchTask calls them.
    class ITaskWindows {
    public:
        // The project as it is at this point of the switch.
        virtual ProjectState SwitchProject() const = 0;
        // The browser's selected photos join the project.
        virtual void AddBrowserSelection() = 0;
        // The stitch the stitching page's settings describe.
        virtual void StitchWithPageOptions() = 0;
        // The task's bars, status panes, zoom range and page of the view.
        virtual void ShowTaskWindows(Task task) = 0;
        // The browser's folder (empty before it opened one or without it).
        virtual std::string BrowserFolder() const = 0;
        virtual void OpenBrowserFolder(const std::string& folder) = 0;
        // The layout of the bars and the task's tab, once the page shows.
        virtual void ArrangeTaskWindows(Task task) = 0;
        // The task's page shows the document as it now is.
        virtual void RefreshTaskPage(Task task) = 0;

    protected:
        ~ITaskWindows() = default;
    };

    // The folder the browser opens the first time the photos are browsed:
    // the one kept from the last run when it still exists, else the user's
    // pictures, else the documents, else home.
    static std::string StartFolder();
    // Kept for the next run when the photos are left (nothing when empty).
    static void RememberFolder(const std::string& folder);

    explicit CWorkflow(QObject* parent = nullptr);

    // The document the workflow's runs work for; borrowed.
    void SetDocument(COvHorizelDoc* document);
    // The document is going (nothing when it is not this workflow's).
    void ForgetDocument(const COvHorizelDoc* document) {
        if (m_document == document)
            m_document = nullptr;
    }
    // The project's photos and the next builds' options change places with
    // those of another workflow (a document moving to this one brings them).
    void SwapProject(CWorkflow& other);

    // The project's photos in stitching order.
    CClipDescriptionList& Photos() { return m_photos; }
    // The document's runs, one at a time; their starts and ends are watched
    // for the build's state.
    CDocumentJobs& Jobs() { return m_jobs; }

    Task CurrentTask() const { return m_task; }
    // Stores the task; true when it changed (taskChanged follows). Leaving
    // the photos for another task, the document drops the results a changed
    // photo list made stale.
    bool EnterTask(Task task);
    // Switches to `task` (None is ignored): first what the switch needs
    // (the selection added, the stitching task passed through, a stitch),
    // then the task entered and its windows shown; browsing opens in the
    // start folder the first time, leaving it keeps the browser's folder.
    void SwitchTask(Task task, ITaskWindows& windows);
    static bool LeavesAddImages(Task from, Task to) {
        return from == Task::AddImages && to != Task::AddImages;
    }

    // The panorama model the stitching page shows and a build uses.
    StitchMode GetStitchMode() const { return m_stitchMode; }
    // Stores the model; stitchModeChanged follows when it changed.
    void SetStitchMode(StitchMode mode);
    // The options the next build of a model hands its engine as it starts;
    // none until they are set (the engine's own stand until then). Kept here
    // rather than written to the engine, so a run under way never sees them
    // change.
    const std::optional<HVPanoramaOptions>& BuildOptions(StitchMode mode) const {
        return m_buildOptions[StitchModeProfileValue(mode)];
    }
    void SetBuildOptions(StitchMode mode, const HVPanoramaOptions& options) {
        m_buildOptions[StitchModeProfileValue(mode)] = options;
    }

    // The document's word that the result the view shows is another one
    // (built, rendered, turned, cropped or freed); resultChanged follows.
    void NotifyResultChanged() { emit resultChanged(); }

    bool IsBuilding() const { return m_building; }
    // What the last build came to (None before the first).
    BuildStatus LastBuildStatus() const { return m_buildStatus; }

signals:
    void taskChanged(Task task, Task previous);
    void stitchModeChanged(StitchMode mode);
    void buildStarted();
    // A full-size render starts: it may rewrite the shown preview meanwhile.
    void renderStarted();
    void buildFinished(BuildStatus status);
    // The view shows the document's result anew.
    void resultChanged();

private:
    void OnJobStarted(JobKind kind);
    void OnJobFinished(JobKind kind);

    COvHorizelDoc* m_document = nullptr;
    Task m_task = Task::AddImages;
    StitchMode m_stitchMode = StitchMode::Planar;
    std::optional<HVPanoramaOptions> m_buildOptions[2];
    bool m_building = false;
    BuildStatus m_buildStatus = BuildStatus::None;
    CClipDescriptionList m_photos;
    // Last: the work under way ends before the rest goes.
    CDocumentJobs m_jobs;
};
