#pragma once

// What the host offers the effect's objects, and the bases of the objects the host calls:
// - Controller: packets to algorithm-context fields, the sample rate, the transport, and the
//   effect's parameters object (for the bridge's custom-data calls).
// - EffectParameters: the parameters object's host-facing calls (automation, chunks, custom data,
//   notifications, idle wake-up).
// - PrivateDataAccess and DataObject: the bridge's periodic wake-up with access to an instance's
//   private algorithm data.
//
// Threading: the host calls EffectParameters and DataObject on its non-audio threads and, for one
// instance, never two of these calls at the same time. A Controller may be called from those
// threads.

#include "host/host_types.h"

#include <cstddef>

namespace corvella::host {

class EffectParameters;

class Transport {
public:
    virtual ~Transport() = default;
    virtual Result GetCurrentTempo(double* bpm) const = 0;
};

class Controller {
public:
    virtual ~Controller() = default;
    // Hands `size` bytes to algorithm-context field `field`; the data is copied before return.
    virtual Result PostPacket(int field, void const* data, std::size_t size) = 0;
    virtual Result GetSampleRate(float* rate) const = 0;
    // Null when the host offers no transport information.
    virtual Transport const* GetTransport() const = 0;
    virtual EffectParameters* GetEffectParameters() = 0;
};

class EffectParameters {
public:
    virtual ~EffectParameters() = default;

    // Called once after creation: keeps the controller and registers the parameters.
    virtual Result Initialize(Controller* controller) = 0;

    virtual Result SetParameterNormalizedValue(char const* identifier, double value) = 0;
    virtual Result UpdateParameterNormalizedValue(char const* identifier, double value, int source) = 0;
    virtual Result GetParameterNormalizedValue(char const* identifier, double* value) const = 0;

    virtual Result GetChunkSize(TypeId id, std::uint32_t* size) const = 0;
    virtual Result GetChunk(TypeId id, Chunk* chunk) = 0;
    virtual Result SetChunk(TypeId id, Chunk const* chunk) = 0;
    virtual Result CompareActiveChunk(Chunk const* chunk, bool* equal) const = 0;

    // `size` is the caller's buffer size (get) or the block's size (set).
    virtual Result GetCustomData(int id, std::uint32_t size, void* data, std::uint32_t* written) = 0;
    virtual Result SetCustomData(int id, std::uint32_t size, void const* data) = 0;

    virtual Result NotificationReceived(TypeId type, void const* data, std::uint32_t size) = 0;
    virtual Result TimerWakeup() = 0;
};

// Read access to one instance's algorithm context, handed to DataObject wake-ups.
class PrivateDataAccess {
public:
    virtual ~PrivateDataAccess() = default;
    // Copies `size` bytes of context field `field` into `out`.
    virtual Result ReadPortDirect(int field, void* out, std::size_t size) = 0;
};

class DataObject {
public:
    virtual ~DataObject() = default;
    virtual Result Initialize(Controller* controller) = 0;
    virtual Result TimerWakeup_PrivateDataAccess(PrivateDataAccess* access) = 0;
};

} // namespace corvella::host
