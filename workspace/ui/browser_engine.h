// The internal browser's engine: set up before the application object, and whether this run
// has one at all.
#pragma once

namespace pellix {


// Before QApplication: registers the Zip entry scheme and the engine's process options.
void PrepareBrowserEngine();
// True when the browser control can be used: built with it, on a platform that can show it
// (not the offscreen one of the window tests), and not turned off with PELLIX_NO_BROWSER.
bool BrowserControlAvailable();

} // namespace pellix
