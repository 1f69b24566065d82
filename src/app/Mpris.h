// Remote control on the session bus: the player offers the MPRIS2 interfaces
// (org.mpris.MediaPlayer2 and org.mpris.MediaPlayer2.Player at /org/mpris/MediaPlayer2) under the
// name org.mpris.MediaPlayer2.kivviewer (".instancePID" appended when another player holds it), so
// playerctl and the desktop's media keys play, pause, seek and go to the next or previous slide.
// The whole show is one track: its title from the project, its length one pass of the show, the
// slide on screen as the track number. While the show plays, org.freedesktop.ScreenSaver (when
// the desktop offers it) is asked to hold off the screen saver; the hold is released on pause.
//
// Bus access goes through sd-bus of libsystemd: a small C API whose connection we drive from
// our own poll loop (it brings no main loop of its own to integrate, unlike GDBus's GMainContext),
// and the library is already on every systemd machine.
//
// Threads: one named thread ("kivMpris") owns the connection and serves every call. Requests go
// to the command sink on that thread; the owner hands them to the main thread. Publish may be
// called from any thread.
#pragma once

#include "viewer/ActionInfo.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace kiv {

enum class TRemoteCommand { Play, Pause, PlayPause, Stop, Next, Previous, SeekBy, SetPosition };

struct TRemoteRequest {
    TRemoteCommand command = TRemoteCommand::PlayPause;
    // SeekBy: the offset; SetPosition: the position (microseconds).
    std::int64_t microseconds = 0;
};

// What the bus is told about the player.
struct TRemoteState {
    bool showOpen = false;
    bool playing = false;
    std::int64_t positionUs = 0;
    std::int64_t lengthUs = 0;
    std::string title;
    int slide = 0; // from 1
    friend bool operator==(const TRemoteState&, const TRemoteState&) = default;
};

// The action that carries out a request, given the player's state (the same actions as the keys
// give); none when there is nothing to do (Play while playing, a position outside the show).
TKivActionInfo RemoteAction(const TRemoteRequest& request, bool paused, double currentMs, double durationMs);

class TMprisService {
public:
    using TCommandSink = std::function<void(const TRemoteRequest&)>;

    // Connects to the session bus, offers the interfaces and starts the serving thread. Raises
    // Exception with the reason when there is no session bus or the name cannot be had.
    explicit TMprisService(TCommandSink sink);
    // Releases the screen-saver hold and the name, stops and joins the thread.
    ~TMprisService();
    TMprisService(const TMprisService&) = delete;
    TMprisService& operator=(const TMprisService&) = delete;

    // The player's new state: PropertiesChanged goes out for the playback status and the metadata
    // when they changed, and the screen-saver hold follows the playing flag.
    void Publish(const TRemoteState& state);

    const std::string& BusName() const { return busName_; }

private:
    struct TBus;
    void Serve();
    void Wake();
    void ApplyPublished();
    void HoldScreenSaver(bool hold);

    friend struct TMprisCalls;
    std::unique_ptr<TBus> bus_;
    TCommandSink sink_;
    std::string busName_;
    std::mutex lock_;
    TRemoteState state_;     // guarded by lock_
    TRemoteState announced_; // the bus thread's: what PropertiesChanged last told
    std::uint32_t inhibitCookie_ = 0;
    bool inhibiting_ = false;
    bool inhibitorMissing_ = false;
    int wakeFd_ = -1;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

} // namespace kiv
