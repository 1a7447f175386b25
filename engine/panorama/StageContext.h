#pragma once
// What the stages of a build need of the engine that runs them: progress
// steps with the user's cancel answer, and the window's repaints. Each engine
// hands itself down as this, so a stage reaches its build without a global.

class StageContext {
public:
    virtual ~StageContext() = default;

    // Adds steps to the build's progress position and asks for the cancel
    // answer, which is kept and returned (true cancels). Zero steps only asks.
    virtual bool Advance(int steps) = 0;
    // The cancel answer last heard.
    virtual bool IsCancelled() const = 0;
    // Repaints the window now; nothing without a user interface.
    virtual void RepaintNow() = 0;
};
