// Start-up and exit of the window object.
#include "app/vesk.h"

#include <cstdlib>

namespace app {

void Vesk::Form_Load() {
    platform_.showWindow();
    song.MakeMusic();
    blaster.Blasterresetcard();
    blaster.BlasterInit();
}

void Vesk::ExitMe_Click() {
    blaster.Blastervoiceoff(common::Int16{1});
    blaster.Blastervoiceoff(common::Int16{2});
    platform_.unloadWindow();
    platform_.endProgram();
    std::abort();  // unreachable: ending the program never returns
}

}  // namespace app
