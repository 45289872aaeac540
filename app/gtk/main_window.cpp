// MainWindow on GTK 3: builds the window and its controls, and serves the loop's read of 编辑框1.
#include "app/gtk/main_window.h"

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "app/gtk/code_page.h"
#include "app/gtk/window_icon.h"
#include "app/start_stop.h"
#include "sync/main_window_link.h"

namespace {

// The whole window rectangle, frame and caption bar included.
constexpr int kOuterWidth = 222;
constexpr int kOuterHeight = 169;

constexpr char kCaption[] = "Tockmere";
// 自动校准时间 单位(毫秒)
constexpr char kLabel1Text[] =
    "\xD7\xD4\xB6\xAF\xD0\xA3\xD7\xBC\xCA\xB1\xBC\xE4 \xB5\xA5\xCE\xBB("
    "\xBA\xC1\xC3\xEB)";
// 1秒=1000毫秒
constexpr char kLabel2Text[] = "1\xC3\xEB=1000\xBA\xC1\xC3\xEB";
// 本机时钟与网络时间同步, the credit line of both front ends
constexpr char kLabel3Text[] =
    "\xB1\xBE\xBB\xFA\xCA\xB1\xD6\xD3\xD3\xEB\xCD\xF8\xC2\xE7\xCA\xB1\xBC\xE4\xCD\xAC\xB2\xBD";
// 启动
constexpr char kButton1Text[] = "\xC6\xF4\xB6\xAF";
constexpr char kEdit1Text[] = "800";

struct Place {
    int left;
    int top;
    int width;
    int height;
};
constexpr Place kLabel1Place{24, 8, 144, 24};
constexpr Place kEdit1Place{24, 33, 72, 21};
constexpr Place kButton1Place{104, 30, 56, 26};
constexpr Place kLabel2Place{24, 72, 168, 24};
constexpr Place kLabel3Place{32, 104, 144, 24};

// The themes' entries and buttons ask for more height than 21 and 26 pixels; these rules let
// the controls take the sizes of the description while keeping the theme's look.
constexpr char kCompactControls[] =
    "entry { min-height: 0; padding-top: 0; padding-bottom: 0; }\n"
    "button { min-height: 0; min-width: 0; padding: 0 2px; }\n";

// The widgets, touched on the GUI thread only.
struct GuiState {
    GtkWidget* window = nullptr;
    GtkWidget* edit1 = nullptr;
    GtkWidget* button1 = nullptr;
    GMainLoop* loop = nullptr;
    int outer_left = 0;
    int outer_top = 0;
};
GuiState gui;

// What other threads learn about the window. The GUI thread is the only writer of window_open,
// and flips it under guard when the window goes, waking every read still waiting for an answer.
std::mutex guard;
std::condition_variable answered;
bool window_open = false;
std::thread::id gui_thread;

struct IntervalRequest {
    bool done = false;
    TextValue text;
};

struct GObjectUnref {
    void operator()(gpointer object) const { g_object_unref(object); }
};

TextValue ReadEdit1() {
    if (gui.edit1 == nullptr)
        return {};
    return TextFromUtf8(gtk_entry_get_text(GTK_ENTRY(gui.edit1)));
}

gboolean ServeIntervalRequest(gpointer data) {
    const auto& request = *static_cast<std::shared_ptr<IntervalRequest>*>(data);
    TextValue text = window_open ? ReadEdit1() : TextValue{};
    std::lock_guard lock(guard);
    request->text = std::move(text);
    request->done = true;
    answered.notify_all();
    return G_SOURCE_REMOVE;
}

void DropIntervalRequest(gpointer data) {
    delete static_cast<std::shared_ptr<IntervalRequest>*>(data);
}

// Labels are drawn here rather than by GtkLabel, which would widen itself to fit its text:
// one line, black, left-aligned and centred vertically, clipped at the label's edge, and an
// ampersand is just a character.
gboolean DrawLabel(GtkWidget* label, cairo_t* cr, gpointer data) {
    std::unique_ptr<PangoLayout, GObjectUnref> layout(
        gtk_widget_create_pango_layout(label, static_cast<const char*>(data)));
    pango_layout_set_single_paragraph_mode(layout.get(), TRUE);
    int text_width = 0;
    int text_height = 0;
    pango_layout_get_pixel_size(layout.get(), &text_width, &text_height);
    cairo_set_source_rgb(cr, 0.0, 0.0, 0.0);
    cairo_move_to(cr, 0.0, (gtk_widget_get_allocated_height(label) - text_height) / 2);
    pango_cairo_show_layout(cr, layout.get());
    return FALSE;
}

GtkWidget* CreateLabel(const char* text) {
    GtkWidget* label = gtk_drawing_area_new();
    // Windowless, so that clicks and the stacking order belong to the controls around it.
    gtk_widget_set_has_window(label, FALSE);
    std::string utf8 = Utf8From936(text);
    AtkObject* accessible = gtk_widget_get_accessible(label);
    atk_object_set_role(accessible, ATK_ROLE_LABEL);
    atk_object_set_name(accessible, utf8.c_str());
    g_signal_connect_data(
        label, "draw", G_CALLBACK(DrawLabel), g_strdup(utf8.c_str()),
        [](gpointer data, GClosure*) { g_free(data); }, GConnectFlags{});
    return label;
}

void UseCompactStyle(GtkWidget* widget, GtkCssProvider* provider) {
    gtk_style_context_add_provider(gtk_widget_get_style_context(widget),
                                   GTK_STYLE_PROVIDER(provider),
                                   GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
}

void PutControl(GtkWidget* fixed, GtkWidget* control, const Place& place) {
    gtk_widget_set_size_request(control, place.width, place.height);
    gtk_fixed_put(GTK_FIXED(fixed), control, place.left, place.top);
}

// Esc with neither Ctrl nor Shift nor Alt closes the window, whichever control has the focus;
// the window sees the key before the control does.
gboolean OnKeyPress(GtkWidget* window, GdkEventKey* event, gpointer) {
    constexpr guint kHeld = GDK_CONTROL_MASK | GDK_SHIFT_MASK | GDK_MOD1_MASK;
    if (event->keyval != GDK_KEY_Escape || (event->state & kHeld) != 0)
        return FALSE;
    gtk_window_close(GTK_WINDOW(window));
    return TRUE;
}

void OnButton1Clicked(GtkButton*, gpointer) {
    OnStartStopClicked();
}

// A window manager's frame is known only once the window is mapped: shrink the content then so
// that the outer rectangle stays 222 by 169 at its centred place.
void FitOuterRectangle(GtkWidget* window) {
    GdkWindow* surface = gtk_widget_get_window(window);
    if (surface == nullptr || !gdk_window_is_visible(surface))
        return;
    GdkRectangle frame{};
    gdk_window_get_frame_extents(surface, &frame);
    int frame_width = frame.width - gdk_window_get_width(surface);
    int frame_height = frame.height - gdk_window_get_height(surface);
    if (frame.width == kOuterWidth && frame.height == kOuterHeight)
        return;
    gtk_window_resize(GTK_WINDOW(window), kOuterWidth - frame_width, kOuterHeight - frame_height);
    gtk_window_move(GTK_WINDOW(window), gui.outer_left, gui.outer_top);
}

gboolean OnMap(GtkWidget* window, GdkEvent*, gpointer) {
    FitOuterRectangle(window);
    return FALSE;
}

gboolean OnPropertyNotify(GtkWidget* window, GdkEventProperty* event, gpointer) {
    if (event->atom == gdk_atom_intern_static_string("_NET_FRAME_EXTENTS")) {
        FitOuterRectangle(window);
    }
    return FALSE;
}

void OnDestroy(GtkWidget* window, gpointer) {
    if (window != gui.window)
        return;
    {
        std::lock_guard lock(guard);
        window_open = false;
        answered.notify_all();
    }
    gui.window = nullptr;
    gui.edit1 = nullptr;
    gui.button1 = nullptr;
    if (gui.loop != nullptr)
        g_main_loop_quit(gui.loop);
}

// Centred on the primary screen's full size, in integer division, as the frame's top-left.
void ComputeOuterPosition(GdkDisplay* display) {
    GdkMonitor* monitor = gdk_display_get_primary_monitor(display);
    if (monitor == nullptr)
        monitor = gdk_display_get_monitor(display, 0);
    GdkRectangle screen{};
    if (monitor != nullptr)
        gdk_monitor_get_geometry(monitor, &screen);
    gui.outer_left = screen.x + (screen.width - kOuterWidth) / 2;
    gui.outer_top = screen.y + (screen.height - kOuterHeight) / 2;
}

}  // namespace

GtkWidget* CreateMainWindow() {
    GdkDisplay* display = gdk_display_get_default();
    if (display == nullptr)
        return nullptr;
    ComputeOuterPosition(display);

    GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_title(GTK_WINDOW(window), kCaption);
    SetWindowIcon(GTK_WINDOW(window));
    gtk_window_set_resizable(GTK_WINDOW(window), TRUE);
    gtk_window_set_default_size(GTK_WINDOW(window), kOuterWidth, kOuterHeight);
    gtk_window_move(GTK_WINDOW(window), gui.outer_left, gui.outer_top);

    std::unique_ptr<GtkCssProvider, GObjectUnref> compact(gtk_css_provider_new());
    gtk_css_provider_load_from_data(compact.get(), kCompactControls, -1, nullptr);

    // Children of a GtkFixed are drawn in the order they are put: bottom of the stacking order
    // first, so that 按钮1 covers the two bottom rows of 标签1.
    GtkWidget* fixed = gtk_fixed_new();
    gtk_container_add(GTK_CONTAINER(window), fixed);
    PutControl(fixed, CreateLabel(kLabel1Text), kLabel1Place);

    GtkWidget* edit1 = gtk_entry_new();
    gtk_entry_set_text(GTK_ENTRY(edit1), Utf8From936(kEdit1Text).c_str());
    gtk_entry_set_width_chars(GTK_ENTRY(edit1), 0);
    gtk_entry_set_max_length(GTK_ENTRY(edit1), 0);
    gtk_entry_set_activates_default(GTK_ENTRY(edit1), FALSE);
    UseCompactStyle(edit1, compact.get());
    PutControl(fixed, edit1, kEdit1Place);

    GtkWidget* button1 = gtk_button_new_with_label(Utf8From936(kButton1Text).c_str());
    gtk_widget_set_can_default(button1, FALSE);
    UseCompactStyle(button1, compact.get());
    g_signal_connect(button1, "clicked", G_CALLBACK(OnButton1Clicked), nullptr);
    PutControl(fixed, button1, kButton1Place);

    PutControl(fixed, CreateLabel(kLabel2Text), kLabel2Place);
    PutControl(fixed, CreateLabel(kLabel3Text), kLabel3Place);

    g_signal_connect(window, "key-press-event", G_CALLBACK(OnKeyPress), nullptr);
    g_signal_connect(window, "map-event", G_CALLBACK(OnMap), nullptr);
    g_signal_connect(window, "property-notify-event", G_CALLBACK(OnPropertyNotify), nullptr);
    g_signal_connect(window, "destroy", G_CALLBACK(OnDestroy), nullptr);

    // Minimise box, no maximise box, where the window manager honours these hints.
    gtk_widget_realize(window);
    GdkWindow* surface = gtk_widget_get_window(window);
    gdk_window_set_functions(
        surface, static_cast<GdkWMFunction>(GDK_FUNC_RESIZE | GDK_FUNC_MOVE | GDK_FUNC_MINIMIZE |
                                            GDK_FUNC_CLOSE));
    gdk_window_set_decorations(surface, static_cast<GdkWMDecoration>(
                                            GDK_DECOR_BORDER | GDK_DECOR_RESIZEH | GDK_DECOR_TITLE |
                                            GDK_DECOR_MENU | GDK_DECOR_MINIMIZE));

    gui.window = window;
    gui.edit1 = edit1;
    gui.button1 = button1;
    {
        std::lock_guard lock(guard);
        window_open = true;
        gui_thread = std::this_thread::get_id();
    }

    // Focus in 编辑框1 without the select-all that GTK gives an entry on focus, caret at 0.
    gtk_entry_grab_focus_without_selecting(GTK_ENTRY(edit1));
    gtk_widget_show_all(window);
    gtk_editable_select_region(GTK_EDITABLE(edit1), 0, 0);
    gtk_window_present(GTK_WINDOW(window));
    return window;
}

int RunMainWindowLoop(GtkWidget* window) {
    if (window == nullptr || window != gui.window)
        return 0;
    std::unique_ptr<GMainLoop, decltype(&g_main_loop_unref)> loop(g_main_loop_new(nullptr, FALSE),
                                                                  g_main_loop_unref);
    gui.loop = loop.get();
    g_main_loop_run(loop.get());
    gui.loop = nullptr;
    return 0;
}

void SetStartStopCaption(const TextValue& caption) {
    if (gui.button1 == nullptr)
        return;
    gtk_button_set_label(GTK_BUTTON(gui.button1), Utf8From936(caption).c_str());
}

TextValue ReadIntervalText() {
    std::unique_lock lock(guard);
    if (!window_open)
        return {};
    if (std::this_thread::get_id() == gui_thread) {
        lock.unlock();
        return ReadEdit1();
    }
    auto request = std::make_shared<IntervalRequest>();
    // An idle source rather than g_main_context_invoke, which would run the read on this very
    // thread whenever the GUI thread is not inside the main loop.
    g_idle_add_full(G_PRIORITY_DEFAULT, ServeIntervalRequest,
                    new std::shared_ptr<IntervalRequest>(request), DropIntervalRequest);
    answered.wait(lock, [&] { return request->done || !window_open; });
    return request->done ? request->text : TextValue{};
}
