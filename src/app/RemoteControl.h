// TRemoteControl: the player's side of the MPRIS service (Mpris.h). Requests from the bus reach
// the main thread as application events and are performed as the actions the keys give; four
// times a second the main window's state (playing, position, slide, title) is published, and the
// screen saver follows it: SDL's switch turns it off while the show plays and on while paused.
// Without a session bus the player plays on; the log says why there is no remote control.
// Made and destroyed on the main thread, while the main window exists.
#pragma once

#include "app/Mpris.h"
#include "base/RefObject.h"

#include <SDL.h>

#include <memory>
#include <utility>

namespace kiv {

class TMainForm;
class TZkApplication;

class TRemoteControl {
public:
    TRemoteControl(TZkApplication& application, TMainForm& form);
    ~TRemoteControl();
    TRemoteControl(const TRemoteControl&) = delete;
    TRemoteControl& operator=(const TRemoteControl&) = delete;

    bool Offered() const { return service_ != nullptr; }

private:
    void OnRequest(TRefObject* sender, int event, TRefObject* data);
    void OnTick(TRefObject* sender, int event, TRefObject* data);
    TRemoteState ReadState() const;

    TZkApplication& application_;
    TMainForm& form_;
    int requestEvent_ = 0;
    int tickEvent_ = 0;
    std::pair<TZkApplication*, int> tick_; // what the timer thread posts, and where
    SDL_TimerID timer_ = 0;
    bool screenSaverAllowed_ = false;
    std::unique_ptr<TMprisService> service_;
};

} // namespace kiv
