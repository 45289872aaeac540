#include "app/gtk/window_icon.h"

#include <gio/gio.h>

// Made by glib-compile-resources from icon.gresource.xml.
extern "C" GResource* tockmere_icon_get_resource();

void SetWindowIcon(GtkWindow* window) {
    // Asking for the resource by name links its object in from the static library.
    GInputStream* stream = g_resource_open_stream(
        tockmere_icon_get_resource(), "/tockmere/tockmere.ico", G_RESOURCE_LOOKUP_FLAGS_NONE,
        nullptr);
    if (stream == nullptr)
        return;
    // gdk-pixbuf reads the largest image of the .ico (48 px); window managers scale it down.
    GdkPixbuf* icon = gdk_pixbuf_new_from_stream(stream, nullptr, nullptr);
    g_object_unref(stream);
    if (icon == nullptr)
        return;
    gtk_window_set_icon(window, icon);
    g_object_unref(icon);
}
