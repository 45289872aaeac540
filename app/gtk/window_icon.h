// The program's icon for the GTK window.
#pragma once

#include <gtk/gtk.h>

// Gives `window` the clock-face icon embedded in the program; a window without it (the image
// could not be read) still works, so a failure only leaves the window manager's default.
void SetWindowIcon(GtkWindow* window);
