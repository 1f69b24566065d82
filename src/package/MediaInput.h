// TMediaInput: a media container opened by FFmpeg's libavformat over one of the show's streams, so
// that sounds and videos play straight out of the package. The container reads through a custom
// AVIOContext whose callbacks read and seek the stream (the read callback answers AVERROR_EOF at the
// end, the seek callback answers AVSEEK_SIZE); an exception of the stream is an I/O error for FFmpeg.
//
// Threads: one user at a time (the stream's position moves with every read).
#pragma once

#include "base/RefObject.h"
#include "package/Stream.h"

#include <string>

struct AVFormatContext;
struct AVIOContext;

namespace kiv {

class TMediaInput {
public:
    TMediaInput() = default;
    TMediaInput(const TMediaInput&) = delete;
    TMediaInput& operator=(const TMediaInput&) = delete;
    ~TMediaInput() { Close(); }

    // Rewinds `stream` and opens it as the container named `name` (the name's extension helps
    // probing). Empty on success, else FFmpeg's reason; a failed open leaves nothing open.
    std::string Open(TRef<TStream> stream, const std::string& name);
    // Closes the container, then frees the custom I/O context.
    void Close();
    AVFormatContext* Format() const noexcept { return format_; }

private:
    TRef<TStream> stream_;
    AVIOContext* io_ = nullptr;
    AVFormatContext* format_ = nullptr;
};

// FFmpeg's text for an error code.
std::string AvErrorText(int code);

} // namespace kiv
