#include "audio/MusicLoader.h"

#include "audio/KivChannel.h"
#include "base/Assert.h"
#include "base/Log.h"

#include <algorithm>
#include <chrono>
#include <pthread.h>
#include <thread>

namespace kiv {

TMusicLoader::TMusicLoader(TRef<TMusicDevice> device, TRef<TThreadEventList> playerQueue,
                           TRef<TFileAccessor> accessor)
    : device_(std::move(device)), playerQueue_(std::move(playerQueue)), accessor_(std::move(accessor)) {
    if (device_) {
        // The device's refill threads may still open files of a fading sound after the player has
        // gone: the callback keeps the show's files alive.
        device_->SetOpenStreamCallback([files = accessor_](const std::string& name) -> TRef<TStream> {
            // The show's own files first (straight out of the package), then the disk.
            if (!files) return nullptr;
            TRef<TStream> stream = files->Open(name);
            return stream ? stream : files->OpenDiskFile(name);
        });
    }
}

TMusicLoader::~TMusicLoader() {
    if (device_) device_->SetOpenStreamCallback({});
}

void TMusicLoader::OnStart() {
    ::pthread_setname_np(::pthread_self(), "kivMusicLoader");
}

void TMusicLoader::Step() {
    Queue().ProcessAll();
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
}

bool TMusicLoader::HandleEvent(int code, TRefObject* data) {
    switch (code) {
    case kLoadChannel:
        KIV_ASSERT(data, "No channel to load");
        Load(*static_cast<TKivChannel*>(data));
        return true;
    case kReleaseChannel:
        // The queue drops its reference when the message goes; the last one frees the channel here.
        return true;
    default:
        KIV_ASSERT(false, "Unknown EventID");
        return false;
    }
}

void TMusicLoader::Load(TKivChannel& channel) {
    if (channel.ItemId() >= 0 && device_) {
        TRef<TDeviceChannel> created = device_->CreateChannel(channel.Name(), channel.FileOffset());
        if (!created) {
            TLog::Line("+++++++++++++++++++ Channel Create ERROR");
        } else {
            const double length = created->LengthMs();
            channel.SetEnd(std::min(channel.EndMs(), channel.StartMs() + length - channel.FileOffset()));
            channel.SetDevice(std::move(created));
        }
    }
    // Also after a failure: the item becomes ready and plays silently.
    channel.AddRef();
    playerQueue_->Post(kChannelLoaded, &channel);
}

} // namespace kiv
