// TMusicLoader: the thread that creates the device channels of the music player's channels, off
// the player thread, and frees them again. It answers each load with message 2 to the player.
#pragma once

#include "audio/MusicDevice.h"
#include "framework/KivThread.h"
#include "package/FileAccessor.h"

namespace kiv {

class TKivChannel;

class TMusicLoader : public TKivThread {
public:
    // Queue codes of the loader.
    static constexpr int kLoadChannel = 1;
    static constexpr int kReleaseChannel = 3;
    // The code of the answer on the player's queue.
    static constexpr int kChannelLoaded = 2;

    // `device` may be none: every load then answers at once without sound.
    TMusicLoader(TRef<TMusicDevice> device, TRef<TThreadEventList> playerQueue, TRef<TFileAccessor> accessor);

protected:
    ~TMusicLoader() override;
    bool HandleEvent(int code, TRefObject* data) override;
    void OnStart() override;
    void Step() override;

private:
    void Load(TKivChannel& channel);

    TRef<TMusicDevice> device_;
    TRef<TThreadEventList> playerQueue_;
    TRef<TFileAccessor> accessor_;
};

} // namespace kiv
