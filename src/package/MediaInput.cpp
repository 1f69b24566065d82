#include "package/MediaInput.h"

extern "C" {
#include <libavformat/avformat.h>
}

#include <cstdio>

namespace kiv {

namespace {

constexpr int kIoBufferSize = 32768;

int ReadPacket(void* opaque, std::uint8_t* buffer, int size) {
    auto* stream = static_cast<TStream*>(opaque);
    try {
        const std::int32_t got = stream->Read(buffer, size);
        return got > 0 ? got : AVERROR_EOF;
    } catch (const std::exception&) {
        return AVERROR(EIO);
    }
}

std::int64_t SeekStream(void* opaque, std::int64_t offset, int whence) {
    auto* stream = static_cast<TStream*>(opaque);
    try {
        const std::int64_t size = stream->GetSize();
        switch (whence & ~AVSEEK_FORCE) {
        case AVSEEK_SIZE:
            return size >= 0 ? size : -1;
        case SEEK_SET:
            break;
        case SEEK_CUR:
            offset += stream->GetPosition();
            break;
        case SEEK_END:
            if (size < 0) return -1;
            offset += size;
            break;
        default:
            return -1;
        }
        if (offset < 0) return -1;
        stream->SetPosition(offset);
        return stream->GetPosition();
    } catch (const std::exception&) {
        return -1;
    }
}

} // namespace

std::string AvErrorText(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof(text));
    return text;
}

std::string TMediaInput::Open(TRef<TStream> stream, const std::string& name) {
    Close();
    if (!stream) return "no stream";
    stream_ = std::move(stream);
    auto* buffer = static_cast<std::uint8_t*>(av_malloc(kIoBufferSize));
    if (!buffer) return "out of memory";
    io_ = avio_alloc_context(buffer, kIoBufferSize, 0, stream_.Get(), ReadPacket, nullptr, SeekStream);
    if (!io_) {
        av_free(buffer);
        return "out of memory";
    }
    try {
        stream_->SetPosition(0);
    } catch (const std::exception& failure) {
        Close();
        return failure.what();
    }
    format_ = avformat_alloc_context();
    if (!format_) {
        Close();
        return "out of memory";
    }
    format_->pb = io_;
    format_->flags |= AVFMT_FLAG_CUSTOM_IO;
    // avformat_open_input frees the context on failure.
    if (const int error = avformat_open_input(&format_, name.c_str(), nullptr, nullptr); error < 0) {
        Close();
        return AvErrorText(error);
    }
    return {};
}

void TMediaInput::Close() {
    avformat_close_input(&format_);
    if (io_) av_freep(&io_->buffer);
    avio_context_free(&io_);
    stream_ = nullptr;
}

} // namespace kiv
