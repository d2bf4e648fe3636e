#pragma once

namespace fvx::reader::app {

// Shows the start-up picture for two seconds over the window that comes up
// beneath it; a click dismisses it earlier. It never holds up the start.
void ShowSplash();

}  // namespace fvx::reader::app
