#include "package/Inflator.h"

#include <exception>
#include <zlib.h>

namespace kiv {

namespace {

constexpr const char* kTooLarge = "Decompressed data too large";

// The state the zlib call-backs work on. Exceptions never cross zlib's C frames: they are kept
// here and raised again once inflateBack has returned.
struct TInflateContext {
    TStream* source;
    TMemoryStream* target;
    unsigned char* input;
    std::int64_t limit;
    std::int64_t produced = 0;
    bool tooLarge = false;
    std::exception_ptr error;
};

unsigned PullInput(void* data, z_const unsigned char** buffer) {
    auto* context = static_cast<TInflateContext*>(data);
    try {
        const std::int32_t got = context->source->Read(context->input, TInflator::kBufferSize);
        *buffer = context->input;
        return got > 0 ? static_cast<unsigned>(got) : 0;
    } catch (...) {
        context->error = std::current_exception();
        *buffer = context->input;
        return 0;
    }
}

int PushOutput(void* data, unsigned char* bytes, unsigned length) {
    auto* context = static_cast<TInflateContext*>(data);
    if (static_cast<std::int64_t>(length) > context->limit - context->produced) {
        context->tooLarge = true;
        return 1;
    }
    try {
        if (context->target->Write(bytes, static_cast<std::int32_t>(length)) != static_cast<std::int32_t>(length)) {
            context->tooLarge = true;
            return 1;
        }
    } catch (...) {
        context->error = std::current_exception();
        return 1;
    }
    context->produced += length;
    return 0;
}

} // namespace

TInflator::TInflator() : input_(kBufferSize), window_(kBufferSize) {}

std::int64_t TInflator::Inflate(TStream& source, TMemoryStream& target, std::int64_t limit) {
    z_stream stream{};
    int result = inflateBackInit(&stream, MAX_WBITS, window_.data());
    if (result != Z_OK) throw EZDecompressionError(stream.msg ? stream.msg : zError(result));
    TInflateContext context{&source, &target, input_.data(), limit, 0, false, nullptr};
    result = inflateBack(&stream, &PullInput, &context, &PushOutput, &context);
    const char* message = stream.msg;
    inflateBackEnd(&stream);
    if (context.error) std::rethrow_exception(context.error);
    if (context.tooLarge) throw EZDecompressionError(kTooLarge);
    if (result != Z_OK && result != Z_STREAM_END) throw EZDecompressionError(message ? message : zError(result));
    return context.produced;
}

} // namespace kiv
