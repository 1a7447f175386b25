#pragma once
// The workflow's values as types: the task shown, the panorama model a build
// uses, the build run for a stitch and what the last build came to. The
// numbers live on only where they are stored or cross an interface that
// speaks them (the profile, the frame's and the document's int faces, the
// engine's build report); these convert at that edge.

#include <cstdint>
#include <optional>

// The tasks in the order of their tabs; None before the first is entered.
enum class Task { None = 0, AddImages = 1, Stitch = 2, Export = 3 };

// A task's number (1 to 3) as a task; none for any other number.
constexpr std::optional<Task> TaskFromNumber(int number) {
    if (number < 1 || number > 3)
        return std::nullopt;
    return static_cast<Task>(number);
}

constexpr int TaskNumber(Task task) {
    return static_cast<int>(task);
}

// The stitching page's two models, with the values of the profile's
// "HorzVert" key (1 horizontal/vertical, 0 tiled).
enum class StitchMode { Tiled = 0, Planar = 1 };

constexpr StitchMode StitchModeFromProfile(int horzVert) {
    return horzVert == 0 ? StitchMode::Tiled : StitchMode::Planar;
}

constexpr int StitchModeProfileValue(StitchMode mode) {
    return static_cast<int>(mode);
}

// The build a stitch runs: the planar model matching on its own, the planar
// model with the user's markers, or the tiled model.
enum class BuildVariant { Automatic, Manual, Tiled };

// What the last build came to, as the engine's report numbers it.
enum class BuildStatus {
    None = 0,        // no build yet
    Built = 1,       // built
    Failed = 2,      // failed or cancelled
    NoPanorama = 3,  // no panorama could be made of the photos
    RingOpen = 4,    // the 360-degree ring did not close
    RingNotCut = 5,  // the ring closed but was not cut
};

// The report's number as a status; an unknown number counts as a failure.
constexpr BuildStatus BuildStatusFromReport(std::int32_t status) {
    return status >= 0 && status <= 5 ? static_cast<BuildStatus>(status) : BuildStatus::Failed;
}
