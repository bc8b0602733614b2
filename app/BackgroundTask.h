#pragma once
// Long work the window must not wait for with a frozen face: it runs on its own thread while the
// window's event loop keeps turning.
#include <functional>

namespace quirlon::app {

// Runs Work on a new thread and returns when it has ended, processing the window's events
// meanwhile; what Work raised is raised again here. Handlers that run meanwhile must not touch
// what Work uses.
void RunBesideEventLoop(const std::function<void()>& Work);

}  // namespace quirlon::app
