#include "engine/DrawController.h"

#include "base/Log.h"
#include "render/DrawDevice.h"
#include "render/Drawer.h"

namespace kiv {

// Parked on the draw device; the device releases it when it is destroyed.
class TDeviceKilledMessenger2 final : public TRefObject {
public:
    explicit TDeviceKilledMessenger2(TKivDrawController* controller) : controller(controller) {}
    TKivDrawController* controller;

protected:
    ~TDeviceKilledMessenger2() override {
        if (controller) controller->DeviceKilled();
    }
};

TKivDrawController::TKivDrawController(TDrawDevice* device, bool ownsDevice)
    : device_(device), ownsDevice_(ownsDevice) {
    if (!device_) return;
    if (ownsDevice_) device_->AddRef();
    device_->OnRefresh = [this] { DeviceRefresh(); };
    auto messenger = MakeRef<TDeviceKilledMessenger2>(this);
    messenger_ = messenger.Get();
    device_->Attach(std::move(messenger));
}

TKivDrawController::~TKivDrawController() {
    ReleaseDrawer();
    if (!device_) return;
    if (messenger_) {
        messenger_->controller = nullptr;
        device_->Detach(messenger_);
        messenger_ = nullptr;
    }
    device_->OnRefresh = nullptr;
    if (ownsDevice_) {
        TDrawDevice* device = device_;
        device_ = nullptr;
        device->Destroy();
        device->Release();
    }
}

void TKivDrawController::ReleaseDrawer() {
    if (!drawer_) return;
    drawer_->Destroy();
    drawer_.Reset();
}

void TKivDrawController::InitDrawer() {
    if (!drawer_) {
        drawer_ = MakeRef<T3DDrawer>();
        if (drawer_->Screen()) drawer_->Screen()->OnLost = [this] { RndLost(); };
    }
    if (!device_) return;
    drawer_->Init(device_);
    // Making the first renderer kills the screen's (absent) one, which reports a loss: a drawer
    // just bound to its device has lost nothing, and the clock must not stop after its first frame.
    lost_ = false;
}

void TKivDrawController::RndLost() {
    lost_ = true;
    TLog::Line("TKivDrawController.RndLost");
}

void TKivDrawController::DeviceRefresh() {
    refreshRequested_ = true;
    TLog::Line("TKivDrawController.DeviceRefresh: DrawDevice Refresh!");
}

void TKivDrawController::DeviceKilled() {
    messenger_ = nullptr;
    device_ = nullptr;
}

unsigned TKivDrawController::GetState() {
    unsigned state = 0;
    if (device_ && device_->IsForeground()) state |= dsActive;
    bool repaint = refreshRequested_.exchange(false);
    if (device_ && drawer_ && drawer_->Screen()) {
        if (!drawer_->Screen()->DeviceRect().SameAs(device_->Bounds())) repaint = true;
    }
    if (repaint) state |= dsRepaint;
    if (lost_) state |= dsLost;
    if (drawer_ && drawer_->Screen() && drawer_->Screen()->Ready()) {
        if (lost_.exchange(false)) TLog::Line("TKivDrawController.GetState: Inited, not Reinited");
        state |= dsReady;
    }
    return state;
}

TPoint TKivDrawController::GetClientSize() const {
    if (!device_) return {0, 0};
    const TRect bounds = device_->Bounds(); // one reading: the main thread may change it meanwhile
    return {bounds.Width(), bounds.Height()};
}

} // namespace kiv
