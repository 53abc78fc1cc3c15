#pragma once
// Internal to the store: the temporary files a save writes beside its target before renaming
// them over it; their names, how they are made, and the sweep that removes those left by saves
// that were killed.

#include <sys/types.h>

#include <climits>
#include <cstddef>
#include <cstdint>

#include "store/location.h"
#include "sys/fd.h"

namespace kiv::store {

// Temporary files are named ".<stem>.kivtmp-<12 hex digits>" beside their target. The stem is
// the target's name, or for a name over 100 bytes its first whole characters, "~" and 16 hex
// digits of a hash of the whole name: a temporary name never takes more than 121 bytes, so one
// fits beside every file a file system can hold. The digits are 20 random bits and then, in 28
// bits, the seconds since the system started (its monotonic clock, which no one can set) when
// the file was made: the age a leftover is judged by (see sweep_leftovers()).
inline constexpr char kTempTag[] = ".kivtmp-";
inline constexpr std::size_t kTempTagLength = sizeof kTempTag - 1;
inline constexpr std::size_t kTempDigits = 12;
inline constexpr unsigned kStampBits = 28;
inline constexpr std::uint64_t kStampMask = (std::uint64_t{1} << kStampBits) - 1;
inline constexpr std::size_t kWholeNameMax = 100;
inline constexpr std::size_t kHashDigits = 16;
inline constexpr std::size_t kCutNameMax = kWholeNameMax - 1 - kHashDigits;
inline constexpr std::size_t kTempPrefixMax = 1 + kWholeNameMax + kTempTagLength;
inline constexpr std::size_t kTempNameMax = kTempPrefixMax + kTempDigits;
static_assert(kTempNameMax <= kNameRoom, "temporary names fit where the store leaves room");

// Writes ".<stem>.kivtmp-" for the target named `name` into out; returns its length.
std::size_t temp_prefix(const char* name, char (&out)[kTempPrefixMax + 1]);

// Whether a directory entry is a temporary file made for the target whose prefix is given: the
// prefix and exactly twelve lower-case hex digits.
bool is_temp_name(const char* entry, const char* prefix, std::size_t prefix_len);

// Creates a temporary file beside the target, exclusively, and puts its name (relative to
// at.dir) in temp and the random number it was made from in r. The name only has to be unlikely
// to collide: O_EXCL settles any collision, and another name is tried.
sys::Fd create_temp(const Location& at, mode_t mode, char (&temp)[PATH_MAX], std::uint64_t& r,
                    int& err);

// A temporary file of a save that was killed stays behind. One save in kSweepEvery (chosen by
// its temporary name's random number) looks for those of its target that are older than
// kLeftoverAge by the stamp in their names (no save takes that long), and removes them,
// provided the directory is small enough for a look at it to be cheap. The stamp is the
// monotonic clock's, which never jumps, so a running save's file is never taken for a leftover
// whatever happens to the wall clock; one made before the system last started is removed (its
// stamp looks far in the future or the past), or, by chance, once it looks old.

// A save that found no room (ENOSPC, EDQUOT) sweeps at once, and in a directory of any size:
// `forced`, see store.cpp.

// Whether the save whose temporary file was made from r looks for leftovers; a save that made
// none draws its chance from the clock (sweep_due()).
bool sweeps(std::uint64_t r);
bool sweep_due();
// Removes the target's leftovers; returns how many were removed.
int sweep_leftovers(const Location& at, bool forced = false);

}  // namespace kiv::store
