// PlaySoundW: a sound from a file or from a WAVE resource.
//
// Stands in for the multimedia library's sound player. The same as Windows: SND_FILENAME names a file,
// SND_RESOURCE a resource of type "WAVE" in a module; a new sound stops the one playing, SND_NOWAIT gives up at
// once (FALSE) while another sound plays, SND_ASYNC returns at once, otherwise the call returns when the sound has
// ended; SND_LOOP with SND_ASYNC repeats until stopped; a null sound or SND_PURGE stops what plays.
//
// Where it differs: the sound goes to the desktop's sound server through its own player, the first of "pw-play"
// (PipeWire) and "paplay" (PulseAudio) found along PATH; without one, or when the server will not play it, nothing
// is heard and the answer is FALSE. Nothing is ever shown: no dialog, no default sound (every call behaves as with
// SND_NODEFAULT); system sound aliases play nothing and answer FALSE.
#pragma once

#include "platform/base/types.h"

constexpr DWORD SND_SYNC = 0x0000;
constexpr DWORD SND_ASYNC = 0x0001;
constexpr DWORD SND_NODEFAULT = 0x0002;
constexpr DWORD SND_MEMORY = 0x0004;
constexpr DWORD SND_LOOP = 0x0008;
constexpr DWORD SND_NOSTOP = 0x0010;
constexpr DWORD SND_NOWAIT = 0x00002000;
constexpr DWORD SND_ALIAS = 0x00010000;
constexpr DWORD SND_FILENAME = 0x00020000;
constexpr DWORD SND_RESOURCE = 0x00040004;
constexpr DWORD SND_PURGE = 0x0040;
constexpr DWORD SND_APPLICATION = 0x0080;

BOOL PlaySoundW(LPCWSTR sound, HMODULE module, DWORD flags);
