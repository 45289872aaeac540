// MainWindow's two operations for the rest of the program, in a real X server: the read of
// 编辑框1 from another thread, served by the main loop and never hanging once the window goes,
// and the caption of 按钮1.
#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <chrono>
#include <future>
#include <memory>
#include <string>
#include <thread>

#include "app/gtk/main_window.h"
#include "app/start_stop.h"
#include "sync/main_window_link.h"

namespace {

using namespace std::chrono_literals;

// Long enough for a loaded machine, short enough that a hang fails the test instead of CTest.
constexpr auto kPatience = 5s;

// Reads from a thread of its own; detached, so a read that hangs fails the test without
// blocking the test program's end.
std::shared_future<TextValue> ReadOnAnotherThread() {
    auto promise = std::make_shared<std::promise<TextValue>>();
    std::shared_future<TextValue> answer = promise->get_future().share();
    std::thread([promise] { promise->set_value(ReadIntervalText()); }).detach();
    return answer;
}

// Runs the main loop's pending work until the answer is there or patience runs out.
bool ServeUntilAnswered(const std::shared_future<TextValue>& answer) {
    auto deadline = std::chrono::steady_clock::now() + kPatience;
    while (answer.wait_for(0s) != std::future_status::ready) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        g_main_context_iteration(nullptr, FALSE);
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

GtkWidget* FindControl(GtkWidget* window, GType type) {
    GtkWidget* fixed = gtk_bin_get_child(GTK_BIN(window));
    std::unique_ptr<GList, decltype(&g_list_free)> children(
        gtk_container_get_children(GTK_CONTAINER(fixed)), g_list_free);
    for (GList* item = children.get(); item != nullptr; item = item->next) {
        if (G_TYPE_CHECK_INSTANCE_TYPE(item->data, type))
            return GTK_WIDGET(item->data);
    }
    return nullptr;
}

class MainWindowLinkTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_TRUE(gtk_init_check(nullptr, nullptr)); }

    void SetUp() override {
        window_ = CreateMainWindow();
        ASSERT_NE(window_, nullptr);
        edit1_ = FindControl(window_, GTK_TYPE_ENTRY);
        button1_ = FindControl(window_, GTK_TYPE_BUTTON);
        ASSERT_NE(edit1_, nullptr);
        ASSERT_NE(button1_, nullptr);
    }

    void TearDown() override {
        if (window_ != nullptr)
            gtk_widget_destroy(window_);
        while (g_main_context_iteration(nullptr, FALSE)) {
        }
    }

    void DestroyWindow() {
        gtk_widget_destroy(window_);
        window_ = nullptr;
    }

    GtkWidget* window_ = nullptr;
    GtkWidget* edit1_ = nullptr;
    GtkWidget* button1_ = nullptr;
};

struct BoxCase {
    const char* name;
    const char* shown;  // UTF-8, as the user sees and types it
    TextValue read;     // code page 936, as the loop gets it
};

TEST_F(MainWindowLinkTest, ReadFromAnotherThreadIsServedByTheMainLoop) {
    const BoxCase cases[] = {
        {"initial text", "800", "800"},
        {"letters typed before it", "ab800", "ab800"},
        {"empty box gives the empty text", "", ""},
        {"chinese character comes back as code page bytes",
         "8\xE4\xB8\xAD"
         "00",
         "8\xD6\xD0"
         "00"},  // 8中00
        {"character outside the code page becomes ?",
         "8\xF0\x9F\x98\x80"
         "00",
         "8?00"},
    };
    for (const BoxCase& row : cases) {
        SCOPED_TRACE(row.name);
        gtk_entry_set_text(GTK_ENTRY(edit1_), row.shown);
        std::shared_future<TextValue> answer = ReadOnAnotherThread();
        ASSERT_TRUE(ServeUntilAnswered(answer));
        EXPECT_EQ(answer.get(), row.read);
    }
}

TEST_F(MainWindowLinkTest, ReadOnTheGuiThreadAnswersWithoutTheLoop) {
    EXPECT_EQ(ReadIntervalText(), "800");
}

TEST_F(MainWindowLinkTest, ReadWaitingWhenTheWindowIsDestroyedGivesTheEmptyText) {
    std::shared_future<TextValue> answer = ReadOnAnotherThread();
    // Let the request reach its wait; the loop is not run, so nobody answers it.
    std::this_thread::sleep_for(200ms);
    ASSERT_NE(answer.wait_for(0s), std::future_status::ready);
    DestroyWindow();
    ASSERT_EQ(answer.wait_for(kPatience), std::future_status::ready);
    EXPECT_EQ(answer.get(), "");
    // The request still queued in the loop now finds no window and must do no harm.
    while (g_main_context_iteration(nullptr, FALSE)) {
    }
}

TEST_F(MainWindowLinkTest, ReadAfterTheWindowIsGoneGivesTheEmptyTextAtOnce) {
    DestroyWindow();
    std::shared_future<TextValue> answer = ReadOnAnotherThread();
    ASSERT_EQ(answer.wait_for(kPatience), std::future_status::ready);
    EXPECT_EQ(answer.get(), "");
    EXPECT_EQ(ReadIntervalText(), "");
}

TEST_F(MainWindowLinkTest, DestroyingTheWindowEndsItsLoop) {
    g_idle_add(
        [](gpointer window) {
            gtk_widget_destroy(GTK_WIDGET(window));
            return G_SOURCE_REMOVE;
        },
        window_);
    EXPECT_EQ(RunMainWindowLoop(window_), 0);
    window_ = nullptr;
    // With no window the loop is not entered.
    EXPECT_EQ(RunMainWindowLoop(nullptr), 0);
}

TEST_F(MainWindowLinkTest, CaptionIsShownInUtf8AndIgnoredOnceTheWindowIsGone) {
    const BoxCase captions[] = {
        {"stop", "\xE5\x81\x9C\xE6\xAD\xA2", "\xCD\xA3\xD6\xB9"},   // 停止
        {"start", "\xE5\x90\xAF\xE5\x8A\xA8", "\xC6\xF4\xB6\xAF"},  // 启动
    };
    for (const BoxCase& row : captions) {
        SCOPED_TRACE(row.name);
        SetStartStopCaption(row.read);
        EXPECT_STREQ(gtk_button_get_label(GTK_BUTTON(button1_)), row.shown);
    }
    DestroyWindow();
    SetStartStopCaption("\xCD\xA3\xD6\xB9");
}

}  // namespace
