// Remote control on a private session bus (a dbus-daemon of the test's own): playerctl drives a
// stand-in for the viewer (a sink that records the requests) and reads what it publishes; the
// playback status change is signalled; the screen saver of the desktop (a fake on the bus) is held
// off while playing and released on pause; no bus is a reason, not a crash. The requests' actions
// on the viewer are checked as a table.
#include "app/Mpris.h"

#include "base/Exception.h"
#include "support/ChildProcess.h"
#include "support/ThreadNames.h"

#include <gtest/gtest.h>

#include <systemd/sd-bus.h>

#include <signal.h>
#include <spawn.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace kiv {
namespace {

TEST(RemoteAction, RequestsBecomeTheKeysActions) {
    struct TCase {
        TRemoteRequest request;
        bool paused;
        TKivActionInfo expected;
    };
    const double now = 5000, length = 63000;
    const TCase cases[] = {
        {{TRemoteCommand::Play}, true, MakeAction(kActionPause)},
        {{TRemoteCommand::Play}, false, {}},
        {{TRemoteCommand::Pause}, false, MakeAction(kActionPause)},
        {{TRemoteCommand::Pause}, true, {}},
        {{TRemoteCommand::PlayPause}, true, MakeAction(kActionPause)},
        {{TRemoteCommand::PlayPause}, false, MakeAction(kActionPause)},
        {{TRemoteCommand::Stop}, false, MakeAction(kActionStop)},
        {{TRemoteCommand::Next}, true, MakeAction(kActionNextSlide)},
        {{TRemoteCommand::Previous}, false, MakeAction(kActionPrevSlide)},
        {{TRemoteCommand::SeekBy, 2'500'000}, false, MakeAction(kActionGotoTime, 7500)},
        {{TRemoteCommand::SeekBy, -9'000'000}, false, MakeAction(kActionGotoTime, 0)},
        {{TRemoteCommand::SeekBy, 90'000'000}, true, MakeAction(kActionGotoTime, 63000)},
        {{TRemoteCommand::SetPosition, 12'345'600}, false, MakeAction(kActionGotoTime, 12346)},
        {{TRemoteCommand::SetPosition, 63'000'000}, false, MakeAction(kActionGotoTime, 63000)},
        {{TRemoteCommand::SetPosition, 63'000'001}, false, {}},
        {{TRemoteCommand::SetPosition, -1}, false, {}},
    };
    for (const TCase& c : cases) {
        const TKivActionInfo got = RemoteAction(c.request, c.paused, now, length);
        EXPECT_EQ(got, c.expected) << static_cast<int>(c.request.command) << " " << c.request.microseconds
                                   << " paused " << c.paused;
    }
}

// A dbus-daemon for this test program alone, its address in DBUS_SESSION_BUS_ADDRESS.
class PrivateBus : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        int out[2];
        if (::pipe(out) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        char program[] = "dbus-daemon", session[] = "--session", nofork[] = "--nofork",
             print[] = "--print-address=1";
        char* argv[] = {program, session, nofork, print, nullptr};
        if (posix_spawnp(&daemon_, program, &actions, nullptr, argv, environ) != 0) daemon_ = 0;
        posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);
        std::string address;
        char c = 0;
        while (daemon_ && ::read(out[0], &c, 1) == 1 && c != '\n')
            address += c;
        ::close(out[0]);
        if (!address.empty()) ::setenv("DBUS_SESSION_BUS_ADDRESS", address.c_str(), 1);
        address_ = address;
    }
    static void TearDownTestSuite() {
        if (daemon_ > 0) {
            ::kill(daemon_, SIGTERM);
            test::WaitForChild(daemon_, std::chrono::seconds(10));
        }
        ::unsetenv("DBUS_SESSION_BUS_ADDRESS");
    }
    void SetUp() override {
        if (address_.empty()) GTEST_SKIP() << "dbus-daemon is missing";
    }

    // playerctl's answer (standard output, last line end cut).
    static std::string Playerctl(const std::string& args) {
        std::string text;
        if (std::FILE* pipe = ::popen(("playerctl -p kivviewer " + args + " 2>&1").c_str(), "r")) {
            char buffer[1024];
            while (const std::size_t got = std::fread(buffer, 1, sizeof buffer, pipe))
                text.append(buffer, got);
            ::pclose(pipe);
        }
        while (!text.empty() && text.back() == '\n')
            text.pop_back();
        return text;
    }

    static inline pid_t daemon_ = 0;
    static inline std::string address_;
};

// The viewer stand-in: records what the bus asked for.
struct TRecordingSink {
    std::mutex lock;
    std::condition_variable changed;
    std::vector<TRemoteRequest> requests;

    TMprisService::TCommandSink Sink() {
        return [this](const TRemoteRequest& request) {
            const std::lock_guard<std::mutex> hold(lock);
            requests.push_back(request);
            changed.notify_all();
        };
    }
    // The request number `index` once it came (bounded wait: the bound decides only a failure).
    std::optional<TRemoteRequest> Await(std::size_t index) {
        std::unique_lock<std::mutex> hold(lock);
        if (!changed.wait_for(hold, std::chrono::seconds(20), [&] { return requests.size() > index; }))
            return std::nullopt;
        return requests[index];
    }
};

TEST_F(PrivateBus, PlayerctlDrivesTheViewerAndReadsItsState) {
    if (std::system("command -v playerctl >/dev/null") != 0) GTEST_SKIP() << "playerctl is missing";
    TRecordingSink viewer;
    TMprisService service(viewer.Sink());
    EXPECT_EQ(service.BusName(), "org.mpris.MediaPlayer2.kivviewer");
    EXPECT_TRUE(test::HasThread("kivMpris"));
    service.Publish(TRemoteState{true, true, 3'000'000, 63'000'000, "Summer \xC3\xA9t\xC3\xA9", 2});
    EXPECT_EQ(Playerctl("status"), "Playing");
    EXPECT_EQ(
        Playerctl("metadata --format '{{title}}|{{xesam:trackNumber}}|{{mpris:length}}|{{mpris:trackid}}'"),
        "Summer \xC3\xA9t\xC3\xA9|2|63000000|'/org/kivviewer/show'");
    // Paused, so that playerctl does not move the position on by itself.
    service.Publish(TRemoteState{true, false, 3'000'000, 63'000'000, "Summer \xC3\xA9t\xC3\xA9", 2});
    EXPECT_EQ(Playerctl("status"), "Paused");
    EXPECT_EQ(Playerctl("position"), "3.000000");

    struct TStep {
        const char* args;
        TRemoteCommand command;
        std::int64_t microseconds;
    };
    const TStep steps[] = {{"play-pause", TRemoteCommand::PlayPause, 0},
                           {"pause", TRemoteCommand::Pause, 0},
                           {"play", TRemoteCommand::Play, 0},
                           {"next", TRemoteCommand::Next, 0},
                           {"previous", TRemoteCommand::Previous, 0},
                           {"stop", TRemoteCommand::Stop, 0},
                           {"position 12.5", TRemoteCommand::SetPosition, 12'500'000},
                           {"position 2-", TRemoteCommand::SeekBy, -2'000'000}};
    std::size_t index = 0;
    for (const TStep& step : steps) {
        SCOPED_TRACE(step.args);
        Playerctl(step.args);
        const std::optional<TRemoteRequest> got = viewer.Await(index++);
        ASSERT_TRUE(got.has_value());
        EXPECT_EQ(got->command, step.command);
        EXPECT_EQ(got->microseconds, step.microseconds);
    }

    // The show closed: nothing to play, no track.
    service.Publish(TRemoteState{});
    EXPECT_EQ(Playerctl("status"), "Stopped");
    EXPECT_EQ(Playerctl("metadata title").find("Summer"), std::string::npos);
}

// Listens on its own connection for the player's PropertiesChanged signals.
struct TPropertyWatch {
    sd_bus* bus = nullptr;
    std::vector<std::string> statuses;

    TPropertyWatch() {
        if (sd_bus_open_user(&bus) < 0) return;
        sd_bus_match_signal(bus, nullptr, nullptr, "/org/mpris/MediaPlayer2",
                            "org.freedesktop.DBus.Properties", "PropertiesChanged", Changed, this);
    }
    ~TPropertyWatch() { sd_bus_flush_close_unref(bus); }

    static int Changed(sd_bus_message* message, void* data, sd_bus_error*) {
        const char* interface = nullptr;
        if (sd_bus_message_read(message, "s", &interface) < 0) return 0;
        if (sd_bus_message_enter_container(message, 'a', "{sv}") < 0) return 0;
        while (sd_bus_message_enter_container(message, 'e', "sv") > 0) {
            const char* name = nullptr;
            sd_bus_message_read(message, "s", &name);
            const char* status = nullptr;
            if (std::string(name) == "PlaybackStatus" && sd_bus_message_read(message, "v", "s", &status) >= 0)
                static_cast<TPropertyWatch*>(data)->statuses.push_back(status);
            else
                sd_bus_message_skip(message, "v");
            sd_bus_message_exit_container(message);
        }
        return 0;
    }
    // Serves the connection until `count` statuses came or 20 s passed.
    void AwaitStatuses(std::size_t count) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (statuses.size() < count && std::chrono::steady_clock::now() < deadline) {
            if (sd_bus_process(bus, nullptr) > 0) continue;
            sd_bus_wait(bus, 100'000);
        }
    }
};

// A desktop's screen saver on the bus, served on a thread of its own: counts the holds.
struct TFakeScreenSaver {
    sd_bus* bus = nullptr;
    sd_bus_slot* slot = nullptr;
    std::mutex lock;
    std::condition_variable changed;
    std::vector<std::string> calls; // "Inhibit kivviewer", "UnInhibit 7"
    std::atomic<bool> stop{false};
    std::thread thread;

    static int Inhibit(sd_bus_message* m, void* data, sd_bus_error*) {
        const char *app = nullptr, *reason = nullptr;
        sd_bus_message_read(m, "ss", &app, &reason);
        static_cast<TFakeScreenSaver*>(data)->Record(std::string("Inhibit ") + app);
        return sd_bus_reply_method_return(m, "u", 7u);
    }
    static int UnInhibit(sd_bus_message* m, void* data, sd_bus_error*) {
        std::uint32_t cookie = 0;
        sd_bus_message_read(m, "u", &cookie);
        static_cast<TFakeScreenSaver*>(data)->Record("UnInhibit " + std::to_string(cookie));
        return sd_bus_reply_method_return(m, "");
    }
    void Record(const std::string& call) {
        const std::lock_guard<std::mutex> hold(lock);
        calls.push_back(call);
        changed.notify_all();
    }
    std::vector<std::string> Await(std::size_t count) {
        std::unique_lock<std::mutex> hold(lock);
        changed.wait_for(hold, std::chrono::seconds(20), [&] { return calls.size() >= count; });
        return calls;
    }

    TFakeScreenSaver() {
        static const sd_bus_vtable vtable[] = {
            SD_BUS_VTABLE_START(0), SD_BUS_METHOD("Inhibit", "ss", "u", Inhibit, SD_BUS_VTABLE_UNPRIVILEGED),
            SD_BUS_METHOD("UnInhibit", "u", "", UnInhibit, SD_BUS_VTABLE_UNPRIVILEGED), SD_BUS_VTABLE_END};
        sd_bus_open_user(&bus);
        sd_bus_add_object_vtable(bus, &slot, "/org/freedesktop/ScreenSaver", "org.freedesktop.ScreenSaver",
                                 vtable, this);
        sd_bus_request_name(bus, "org.freedesktop.ScreenSaver", 0);
        thread = std::thread([this] {
            ::pthread_setname_np(::pthread_self(), "testSaver");
            while (!stop) {
                if (sd_bus_process(bus, nullptr) > 0) continue;
                sd_bus_wait(bus, 50'000);
            }
        });
    }
    ~TFakeScreenSaver() {
        stop = true;
        thread.join();
        sd_bus_slot_unref(slot);
        sd_bus_flush_close_unref(bus);
    }
};

TEST_F(PrivateBus, StatusChangesAreSignalledAndTheScreenSaverFollowsPlaying) {
    TFakeScreenSaver saver;
    TPropertyWatch watch;
    ASSERT_NE(watch.bus, nullptr);
    {
        TRecordingSink viewer;
        TMprisService service(viewer.Sink());
        const TRemoteState playing{true, true, 0, 10'000'000, "Show", 1};
        service.Publish(playing);
        EXPECT_EQ(saver.Await(1), std::vector<std::string>{"Inhibit kivviewer"});
        // Only the position moved: no signal, the hold stays.
        TRemoteState later = playing;
        later.positionUs = 400'000;
        service.Publish(later);
        later.playing = false;
        service.Publish(later);
        EXPECT_EQ(saver.Await(2), (std::vector<std::string>{"Inhibit kivviewer", "UnInhibit 7"}));
        later.playing = true;
        service.Publish(later);
        EXPECT_EQ(saver.Await(3).size(), 3u);
        watch.AwaitStatuses(3);
        EXPECT_EQ(watch.statuses, (std::vector<std::string>{"Playing", "Paused", "Playing"}));
    }
    // The player went while playing: the hold went with it, and so did the thread.
    EXPECT_EQ(saver.Await(4).back(), "UnInhibit 7");
    EXPECT_FALSE(test::HasThread("kivMpris"));
}

TEST(NoBus, TheServiceSaysWhy) {
    const char* before = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    const std::string saved = before ? before : "";
    ::setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/kivviewer-test-bus", 1);
    try {
        TMprisService service([](const TRemoteRequest&) {});
        ADD_FAILURE() << "a service without a bus";
    } catch (const Exception& error) {
        EXPECT_NE(std::string(error.what()).find("no session bus"), std::string::npos) << error.what();
    }
    EXPECT_FALSE(test::HasThread("kivMpris"));
    if (before)
        ::setenv("DBUS_SESSION_BUS_ADDRESS", saved.c_str(), 1);
    else
        ::unsetenv("DBUS_SESSION_BUS_ADDRESS");
}

} // namespace
} // namespace kiv
