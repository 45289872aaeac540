// MainWindow on GTK 3: the one window, its five controls, its keyboard rules and the main loop.
#pragma once

#include <gtk/gtk.h>

// Builds MainWindow from its fixed description, centred on the primary screen, shows it and puts
// the focus in 编辑框1 with the caret before the first character. Gives nullptr when the window
// cannot be created. Call on the GUI thread, after gtk_init.
GtkWidget* CreateMainWindow();

// Runs the GTK main loop until MainWindow is destroyed; returns the exit code 0. With no window
// (nullptr) the loop is not entered.
int RunMainWindowLoop(GtkWidget* window);
