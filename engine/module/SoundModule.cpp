// The sound module: the engine and the audio libraries it links (FluidSynth and what it brings,
// SDL, libsndfile, libsamplerate), loaded by the player once its window is on screen.
#include "tunedeck/Device.h"

#include <new>
#include <utility>

extern "C" __attribute__((visibility("default"))) tunedeck::Device *tunedeck_make_device(
    tunedeck::Device::Listener listener, tunedeck::OutputMode mode)
{
    return new (std::nothrow) tunedeck::Device(std::move(listener), mode);
}

// The program checks the signature it calls through against this one.
static_assert(std::is_same_v<decltype(&tunedeck_make_device), tunedeck::MakeDevice>);
