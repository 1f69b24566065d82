#include "app/Mpris.h"

#include "base/Exception.h"
#include "base/Log.h"

#include <systemd/sd-bus.h>

#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>

namespace kiv {

namespace {

constexpr const char* kObjectPath = "/org/mpris/MediaPlayer2";
constexpr const char* kRootInterface = "org.mpris.MediaPlayer2";
constexpr const char* kPlayerInterface = "org.mpris.MediaPlayer2.Player";
constexpr const char* kTrackId = "/org/kivviewer/show";

std::string ErrorText(int code) {
    return std::strerror(code < 0 ? -code : code);
}

} // namespace

TKivActionInfo RemoteAction(const TRemoteRequest& request, bool paused, double currentMs, double durationMs) {
    switch (request.command) {
    case TRemoteCommand::Play:
        return paused ? MakeAction(kActionPause) : TKivActionInfo{};
    case TRemoteCommand::Pause:
        return paused ? TKivActionInfo{} : MakeAction(kActionPause);
    case TRemoteCommand::PlayPause:
        return MakeAction(kActionPause);
    case TRemoteCommand::Stop:
        return MakeAction(kActionStop);
    case TRemoteCommand::Next:
        return MakeAction(kActionNextSlide);
    case TRemoteCommand::Previous:
        return MakeAction(kActionPrevSlide);
    case TRemoteCommand::SeekBy: {
        // A seek past either end stops at it.
        const double target =
            std::clamp(currentMs + request.microseconds / 1000.0, 0.0, std::max(durationMs, 0.0));
        return MakeAction(kActionGotoTime, static_cast<std::int32_t>(std::llround(target)));
    }
    case TRemoteCommand::SetPosition: {
        const double target = request.microseconds / 1000.0;
        if (target < 0 || target > durationMs) return {};
        return MakeAction(kActionGotoTime, static_cast<std::int32_t>(std::llround(target)));
    }
    }
    return {};
}

struct TMprisService::TBus {
    sd_bus* bus = nullptr;
    sd_bus_slot* root = nullptr;
    sd_bus_slot* player = nullptr;
    ~TBus() {
        sd_bus_slot_unref(root);
        sd_bus_slot_unref(player);
        if (bus) sd_bus_flush_close_unref(bus);
    }
};

// The vtables' callbacks: `data` is the service.
struct TMprisCalls {
    static TMprisService& Self(void* data) { return *static_cast<TMprisService*>(data); }

    static TRemoteState State(void* data) {
        TMprisService& self = Self(data);
        const std::lock_guard<std::mutex> hold(self.lock_);
        return self.state_;
    }

    static int Command(sd_bus_message* message, void* data, TRemoteCommand command, std::int64_t us = 0) {
        Self(data).sink_(TRemoteRequest{command, us});
        return sd_bus_reply_method_return(message, "");
    }

    static int Ignore(sd_bus_message* message, void*, sd_bus_error*) {
        return sd_bus_reply_method_return(message, "");
    }
    static int Play(sd_bus_message* m, void* d, sd_bus_error*) { return Command(m, d, TRemoteCommand::Play); }
    static int Pause(sd_bus_message* m, void* d, sd_bus_error*) {
        return Command(m, d, TRemoteCommand::Pause);
    }
    static int PlayPause(sd_bus_message* m, void* d, sd_bus_error*) {
        return Command(m, d, TRemoteCommand::PlayPause);
    }
    static int Stop(sd_bus_message* m, void* d, sd_bus_error*) { return Command(m, d, TRemoteCommand::Stop); }
    static int Next(sd_bus_message* m, void* d, sd_bus_error*) { return Command(m, d, TRemoteCommand::Next); }
    static int Previous(sd_bus_message* m, void* d, sd_bus_error*) {
        return Command(m, d, TRemoteCommand::Previous);
    }
    static int Seek(sd_bus_message* m, void* d, sd_bus_error*) {
        std::int64_t offset = 0;
        const int read = sd_bus_message_read(m, "x", &offset);
        if (read < 0) return read;
        return Command(m, d, TRemoteCommand::SeekBy, offset);
    }
    static int SetPosition(sd_bus_message* m, void* d, sd_bus_error*) {
        const char* track = nullptr;
        std::int64_t position = 0;
        const int read = sd_bus_message_read(m, "ox", &track, &position);
        if (read < 0) return read;
        // A request for another track is stale and ignored.
        if (!track || std::strcmp(track, kTrackId) != 0) return sd_bus_reply_method_return(m, "");
        return Command(m, d, TRemoteCommand::SetPosition, position);
    }

    static int Identity(sd_bus*, const char*, const char*, const char*, sd_bus_message* reply, void*,
                        sd_bus_error*) {
        return sd_bus_message_append(reply, "s", "kivviewer");
    }
    template <int Value>
    static int Boolean(sd_bus*, const char*, const char*, const char*, sd_bus_message* reply, void*,
                       sd_bus_error*) {
        return sd_bus_message_append(reply, "b", Value);
    }
    static int One(sd_bus*, const char*, const char*, const char*, sd_bus_message* reply, void*,
                   sd_bus_error*) {
        return sd_bus_message_append(reply, "d", 1.0);
    }
    static int NoSchemes(sd_bus*, const char*, const char*, const char*, sd_bus_message* reply, void*,
                         sd_bus_error*) {
        return sd_bus_message_append(reply, "as", 0);
    }
    static int MimeTypes(sd_bus*, const char*, const char*, const char*, sd_bus_message* reply, void*,
                         sd_bus_error*) {
        return sd_bus_message_append(reply, "as", 1, "application/x-kivshow");
    }
    static int ShowOpen(sd_bus*, const char*, const char*, const char*, sd_bus_message* reply, void* data,
                        sd_bus_error*) {
        return sd_bus_message_append(reply, "b", State(data).showOpen ? 1 : 0);
    }
    static int PlaybackStatus(sd_bus*, const char*, const char*, const char*, sd_bus_message* reply,
                              void* data, sd_bus_error*) {
        const TRemoteState state = State(data);
        return sd_bus_message_append(reply, "s",
                                     !state.showOpen ? "Stopped"
                                     : state.playing ? "Playing"
                                                     : "Paused");
    }
    static int Position(sd_bus*, const char*, const char*, const char*, sd_bus_message* reply, void* data,
                        sd_bus_error*) {
        return sd_bus_message_append(reply, "x", State(data).positionUs);
    }
    static int Metadata(sd_bus*, const char*, const char*, const char*, sd_bus_message* reply, void* data,
                        sd_bus_error*) {
        const TRemoteState state = State(data);
        if (!state.showOpen) return sd_bus_message_append(reply, "a{sv}", 0);
        return sd_bus_message_append(reply, "a{sv}", 4, "mpris:trackid", "o", kTrackId, "mpris:length", "x",
                                     state.lengthUs, "xesam:title", "s", state.title.c_str(),
                                     "xesam:trackNumber", "i", static_cast<std::int32_t>(state.slide));
    }
};

namespace {

const sd_bus_vtable kRootVtable[] = {
    SD_BUS_VTABLE_START(0),
    SD_BUS_METHOD("Raise", "", "", TMprisCalls::Ignore, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("Quit", "", "", TMprisCalls::Ignore, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_PROPERTY("CanQuit", "b", TMprisCalls::Boolean<0>, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_PROPERTY("CanRaise", "b", TMprisCalls::Boolean<0>, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_PROPERTY("HasTrackList", "b", TMprisCalls::Boolean<0>, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_PROPERTY("Identity", "s", TMprisCalls::Identity, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_PROPERTY("DesktopEntry", "s", TMprisCalls::Identity, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_PROPERTY("SupportedUriSchemes", "as", TMprisCalls::NoSchemes, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_PROPERTY("SupportedMimeTypes", "as", TMprisCalls::MimeTypes, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_VTABLE_END};

const sd_bus_vtable kPlayerVtable[] = {
    SD_BUS_VTABLE_START(0), SD_BUS_METHOD("Next", "", "", TMprisCalls::Next, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("Previous", "", "", TMprisCalls::Previous, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("Pause", "", "", TMprisCalls::Pause, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("PlayPause", "", "", TMprisCalls::PlayPause, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("Stop", "", "", TMprisCalls::Stop, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("Play", "", "", TMprisCalls::Play, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("Seek", "x", "", TMprisCalls::Seek, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("SetPosition", "ox", "", TMprisCalls::SetPosition, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("OpenUri", "s", "", TMprisCalls::Ignore, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_SIGNAL("Seeked", "x", 0),
    SD_BUS_PROPERTY("PlaybackStatus", "s", TMprisCalls::PlaybackStatus, 0,
                    SD_BUS_VTABLE_PROPERTY_EMITS_CHANGE),
    SD_BUS_PROPERTY("Rate", "d", TMprisCalls::One, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_PROPERTY("Metadata", "a{sv}", TMprisCalls::Metadata, 0, SD_BUS_VTABLE_PROPERTY_EMITS_CHANGE),
    SD_BUS_PROPERTY("Volume", "d", TMprisCalls::One, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    // The position changes all the time; readers ask for it (no change signal).
    SD_BUS_PROPERTY("Position", "x", TMprisCalls::Position, 0, 0),
    SD_BUS_PROPERTY("MinimumRate", "d", TMprisCalls::One, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_PROPERTY("MaximumRate", "d", TMprisCalls::One, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_PROPERTY("CanGoNext", "b", TMprisCalls::ShowOpen, 0, SD_BUS_VTABLE_PROPERTY_EMITS_CHANGE),
    SD_BUS_PROPERTY("CanGoPrevious", "b", TMprisCalls::ShowOpen, 0, SD_BUS_VTABLE_PROPERTY_EMITS_CHANGE),
    SD_BUS_PROPERTY("CanPlay", "b", TMprisCalls::ShowOpen, 0, SD_BUS_VTABLE_PROPERTY_EMITS_CHANGE),
    SD_BUS_PROPERTY("CanPause", "b", TMprisCalls::ShowOpen, 0, SD_BUS_VTABLE_PROPERTY_EMITS_CHANGE),
    SD_BUS_PROPERTY("CanSeek", "b", TMprisCalls::ShowOpen, 0, SD_BUS_VTABLE_PROPERTY_EMITS_CHANGE),
    SD_BUS_PROPERTY("CanControl", "b", TMprisCalls::Boolean<1>, 0, SD_BUS_VTABLE_PROPERTY_CONST),
    SD_BUS_VTABLE_END};

} // namespace

TMprisService::TMprisService(TCommandSink sink) : bus_(std::make_unique<TBus>()), sink_(std::move(sink)) {
    int result = sd_bus_open_user(&bus_->bus);
    if (result < 0) throw Exception("no session bus (" + ErrorText(result) + ")");
    result = sd_bus_add_object_vtable(bus_->bus, &bus_->root, kObjectPath, kRootInterface, kRootVtable, this);
    if (result >= 0)
        result = sd_bus_add_object_vtable(bus_->bus, &bus_->player, kObjectPath, kPlayerInterface,
                                          kPlayerVtable, this);
    if (result < 0) throw Exception("the player interfaces cannot be offered (" + ErrorText(result) + ")");
    busName_ = "org.mpris.MediaPlayer2.kivviewer";
    result = sd_bus_request_name(bus_->bus, busName_.c_str(), 0);
    if (result == -EEXIST) {
        // Another player holds the plain name: each further instance takes its own.
        busName_ += ".instance" + std::to_string(::getpid());
        result = sd_bus_request_name(bus_->bus, busName_.c_str(), 0);
    }
    if (result < 0)
        throw Exception("the bus name " + busName_ + " cannot be had (" + ErrorText(result) + ")");
    wakeFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wakeFd_ < 0) throw Exception("no event descriptor for the bus thread");
    thread_ = std::thread([this] { Serve(); });
    ::pthread_setname_np(thread_.native_handle(), "kivMpris");
}

TMprisService::~TMprisService() {
    if (thread_.joinable()) {
        stop_ = true;
        Wake();
        thread_.join();
    }
    if (wakeFd_ >= 0) ::close(wakeFd_);
}

void TMprisService::Publish(const TRemoteState& state) {
    {
        const std::lock_guard<std::mutex> hold(lock_);
        if (state_ == state) return;
        state_ = state;
    }
    Wake();
}

void TMprisService::Wake() {
    const std::uint64_t one = 1;
    while (::write(wakeFd_, &one, sizeof one) < 0 && errno == EINTR) {
    }
}

void TMprisService::Serve() {
    sd_bus* bus = bus_->bus;
    while (!stop_) {
        // Everything that is waiting first, then sleep until the bus or the owner has more.
        int processed = 0;
        while ((processed = sd_bus_process(bus, nullptr)) > 0 && !stop_) {
        }
        if (processed < 0) {
            TLog::Line("MPRIS: the session bus connection ended (" + ErrorText(processed) + ")");
            break;
        }
        ApplyPublished();
        pollfd fds[2] = {{sd_bus_get_fd(bus), static_cast<short>(sd_bus_get_events(bus)), 0},
                         {wakeFd_, POLLIN, 0}};
        std::uint64_t until = 0;
        int timeoutMs = -1;
        if (sd_bus_get_timeout(bus, &until) > 0 && until != UINT64_MAX) {
            timespec now{};
            ::clock_gettime(CLOCK_MONOTONIC, &now);
            const std::uint64_t nowUs = static_cast<std::uint64_t>(now.tv_sec) * 1000000 + now.tv_nsec / 1000;
            timeoutMs = until <= nowUs
                            ? 0
                            : static_cast<int>(std::min<std::uint64_t>((until - nowUs + 999) / 1000, 60000));
        }
        if (::poll(fds, 2, timeoutMs) < 0 && errno != EINTR) break;
        if (fds[1].revents & POLLIN) {
            std::uint64_t count = 0;
            while (::read(wakeFd_, &count, sizeof count) < 0 && errno == EINTR) {
            }
        }
    }
    HoldScreenSaver(false);
}

void TMprisService::ApplyPublished() {
    TRemoteState state;
    {
        const std::lock_guard<std::mutex> hold(lock_);
        state = state_;
    }
    const bool statusChanged = state.showOpen != announced_.showOpen || state.playing != announced_.playing;
    const bool trackChanged = state.title != announced_.title || state.slide != announced_.slide ||
                              state.lengthUs != announced_.lengthUs || state.showOpen != announced_.showOpen;
    // A jump of the position (a seek, a slide chosen) is announced; playing on is not.
    if (state.showOpen && announced_.showOpen && std::llabs(state.positionUs - announced_.positionUs) > 0 &&
        (!state.playing || state.positionUs < announced_.positionUs))
        sd_bus_emit_signal(bus_->bus, kObjectPath, kPlayerInterface, "Seeked", "x", state.positionUs);
    announced_ = state;
    if (statusChanged && trackChanged)
        sd_bus_emit_properties_changed(bus_->bus, kObjectPath, kPlayerInterface, "PlaybackStatus", "Metadata",
                                       "CanGoNext", "CanGoPrevious", "CanPlay", "CanPause", "CanSeek",
                                       nullptr);
    else if (statusChanged)
        sd_bus_emit_properties_changed(bus_->bus, kObjectPath, kPlayerInterface, "PlaybackStatus", nullptr);
    else if (trackChanged)
        sd_bus_emit_properties_changed(bus_->bus, kObjectPath, kPlayerInterface, "Metadata", nullptr);
    HoldScreenSaver(state.showOpen && state.playing);
}

void TMprisService::HoldScreenSaver(bool hold) {
    if (hold == inhibiting_ || (hold && inhibitorMissing_)) return;
    sd_bus_error error = SD_BUS_ERROR_NULL;
    sd_bus_message* reply = nullptr;
    int result = 0;
    if (hold) {
        result = sd_bus_call_method(bus_->bus, "org.freedesktop.ScreenSaver", "/org/freedesktop/ScreenSaver",
                                    "org.freedesktop.ScreenSaver", "Inhibit", &error, &reply, "ss",
                                    "kivviewer", "A slide show is playing");
        if (result >= 0) result = sd_bus_message_read(reply, "u", &inhibitCookie_);
        if (result >= 0) {
            inhibiting_ = true;
        } else {
            // Desktops without the service: SDL's own screen-saver switch is all there is.
            inhibitorMissing_ = true;
            TLog::Line(std::string("MPRIS: no screen saver to hold off on the session bus (") +
                       (error.message ? error.message : ErrorText(result)) + ")");
        }
    } else {
        result = sd_bus_call_method(bus_->bus, "org.freedesktop.ScreenSaver", "/org/freedesktop/ScreenSaver",
                                    "org.freedesktop.ScreenSaver", "UnInhibit", &error, &reply, "u",
                                    inhibitCookie_);
        inhibiting_ = false;
    }
    sd_bus_message_unref(reply);
    sd_bus_error_free(&error);
}

} // namespace kiv
