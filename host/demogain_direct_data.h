#pragma once

// The bridge between the parameters object and the engine. On every host wake-up it hands a copy
// of the engine's state to the parameters object (custom data 0); at most every 100 ms it fetches
// the pending requests, the bank snapshot and the current program index (custom data 52, 3, 1),
// copies the bank into the engine, raises the engine operations the requests call for, in a fixed
// order, and writes the request block back with the served requests cleared.
//
// Threading: TimerWakeup_PrivateDataAccess runs on one host non-audio thread. It calls the
// engine's request and settings-push operations, which the engine accepts from that thread while
// audio runs. A request raised on another thread between the fetch and the write-back of a pass
// would be lost: the host must not run the parameters object's writers during a pass (the
// in-process host serialises them with its state lock).

#include "host/engine_status.h"
#include "host/host_controller.h"
#include "program/parameter_application.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

class VST_Plugin;

class DemoGain_DirectData : public corvella::host::DataObject {
public:
    static constexpr std::uint64_t pass_interval_ms = 100;

    DemoGain_DirectData();
    ~DemoGain_DirectData() override;

    corvella::host::Result Initialize(corvella::host::Controller* controller) override;
    corvella::host::Result TimerWakeup_PrivateDataAccess(corvella::host::PrivateDataAccess* access) override;

    // Clock of the 100 ms rhythm, in milliseconds; corvella::tick_count_ms by default.
    void set_clock(std::function<std::uint64_t()> clock);

    // Number of full passes run so far (a pass that reached the request block).
    std::uint64_t pass_count() const { return passes_; }

    // The next wake-up makes a full pass whatever the rhythm says: for a host that blocks until
    // the instance has served what it was asked (restoring a session, activating), where the
    // rhythm would only add its wait.
    void pass_at_next_wake_up() { passed_once_ = false; }

private:
    void serve_requests(VST_Plugin& engine, corvella::PendingRequests& requests, int current_index);

    corvella::host::Controller* controller_ = nullptr;
    std::function<std::uint64_t()> clock_;
    bool passed_once_ = false;
    std::uint64_t last_pass_ms_ = 0;
    std::uint64_t passes_ = 0;
    std::unique_ptr<corvella::EngineStatus> status_;
    std::vector<std::uint8_t> bank_; // fetched snapshot, 142,656 bytes
};
