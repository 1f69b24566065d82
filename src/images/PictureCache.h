// The process-wide picture cache: a show's pictures by name, decoded once and shared by every user
// while any of them holds the picture. Pictures are told apart by name (without regard to case)
// and by the file source they came from, so the same name in another show is decoded again.
//
// Locking: one global lock guards the table and the handles' user counts; each handle has its own
// lock held while its picture is made, so two threads asking for one picture decode it once and
// the second waits for the first, while other pictures load in parallel.
#pragma once

#include "images/Image.h"
#include "package/FileAccessor.h"

#include <cstddef>
#include <string>

namespace kiv {

// The picture called `name` through `accessor`: shared when some user holds it already; else
// made by the source's picture providers (the first that answers with a TBitmapStore or a TImage
// wins), else decoded from the opened file (with the source's rotation query), else the
// placeholder picture (Placeholder.h; a video placeholder for video names). The result is made
// once: a handle that could make nothing gives null to every later request while it lives.
// Never raises; any thread. Freeing the last picture of a name drops it from the cache.
TRef<TImage> LoadCachedPicture(TFileAccessor& accessor, const std::string& name);

// The number of cached picture handles alive (one per name and source in use).
std::size_t LiveImageHandles();

} // namespace kiv
