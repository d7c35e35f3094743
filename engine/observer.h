// How a face (the window, the terminal, a silent run) watches the engine's
// long work and stops it.  The engine calls it every few hundred KiB, so a
// Cancel or an interrupt is seen within a fraction of a second.
#ifndef OVELO_ENGINE_OBSERVER_H
#define OVELO_ENGINE_OBSERVER_H

#include <cstdint>

class Observer {
public:
    virtual ~Observer() = default;
    // During the checks made before anything is written; false stops them.
    virtual bool KeepGoing() { return true; }
    // While unpacking: done of total payload bytes read so far; false stops.
    virtual bool Unpacked(std::uint64_t /*done*/, std::uint64_t /*total*/) { return true; }
};

#endif
