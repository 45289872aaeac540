// The program's entry on Linux: builds MainWindow, runs the GTK main loop, ends with exit code 0.
#include <gtk/gtk.h>

#include "app/gtk/main_window.h"
#include "app/start_stop.h"
#include "sync/http_get.h"

int main() {
    g_set_prgname("tockmere");
    g_set_application_name("Tockmere");
    // Placing the window at its centred position needs X11 (or XWayland); Wayland itself does
    // not let a program place its window.
    gdk_set_allowed_backends("x11,*");
    // The program takes no command line; without a display there is no window and nothing to do.
    if (!gtk_init_check(nullptr, nullptr))
        return 0;
    int exit_code = RunMainWindowLoop(CreateMainWindow());
    EndSyncAtExit();
    CloseHttpSession();
    return exit_code;
}
