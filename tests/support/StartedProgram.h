#pragma once

#include "app/frmMain.h"
#include "pickup/AlertRelay.h"

// The relay loaded and started with the main window as a view of it, the
// way the program starts them, on the current program folder.
struct StartedProgram {
    // Without health rounds for a test that plays the device itself, or
    // one whose port names no device on purpose.
    explicit StartedProgram(bool healthRounds = true)
    {
        relay.setHealthRounds(healthRounds);
        relay.load();
        window.Form_Load();
        relay.start();
    }

    AlertRelay relay;
    frmMain window{relay};
};
