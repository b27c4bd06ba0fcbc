// Placeholder: the Qt window is being written.
#include "app/window_front_end.h"
namespace app {
void runWindow(Program& program, int&, char**) { program.fail("the window is not built yet"); }
}  // namespace app
