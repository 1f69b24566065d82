// Clips for the video tests, encoded in the test through libavcodec: every pixel of frame n comes
// from a painter (by default a flat grey whose luma encodes n), with an optional PCM sound that is
// silent until the start of one frame and loud from there on.
#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

namespace kiv::test {

// The luma of frame n in the default painter: far enough apart to survive lossy coding.
inline int FrameLuma(int n) {
    return 20 + 6 * n;
}

struct TClipSpec {
    const char* codec = "ffv1";
    const char* format = "matroska";
    const char* extension = ".mkv";
    int width = 64;
    int height = 48;
    int fps = 25;
    int frames = 30;
    int gop = 1;
    int bFrames = 0;
    int soundOnsetFrame = -1; // with a sound: silent before this frame's start, loud after
    // Y, U and V of pixel (x, y) of frame n.
    std::function<void(int n, int x, int y, int& Y, int& U, int& V)> painter;
};

inline std::vector<std::uint8_t> MakeClip(const TClipSpec& spec) {
    const std::string path = testing::TempDir() + "clip_" + std::to_string(::getpid()) + "_" +
                             std::to_string(reinterpret_cast<std::uintptr_t>(&spec)) + spec.extension;
    std::vector<std::uint8_t> bytes;
    AVFormatContext* out = nullptr;
    if (avformat_alloc_output_context2(&out, nullptr, spec.format, path.c_str()) < 0) {
        ADD_FAILURE() << "no muxer " << spec.format;
        return bytes;
    }
    const AVCodec* codec = avcodec_find_encoder_by_name(spec.codec);
    AVStream* video = avformat_new_stream(out, nullptr);
    AVCodecContext* enc = avcodec_alloc_context3(codec);
    enc->width = spec.width;
    enc->height = spec.height;
    enc->pix_fmt = AV_PIX_FMT_YUV420P;
    enc->time_base = {1, spec.fps};
    enc->framerate = {spec.fps, 1};
    enc->gop_size = spec.gop;
    enc->max_b_frames = spec.bFrames;
    enc->flags |= AV_CODEC_FLAG_QSCALE;
    enc->global_quality = FF_QP2LAMBDA;
    if (out->oformat->flags & AVFMT_GLOBALHEADER) enc->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    EXPECT_GE(avcodec_open2(enc, codec, nullptr), 0);
    avcodec_parameters_from_context(video->codecpar, enc);
    video->time_base = enc->time_base;

    AVStream* sound = nullptr;
    AVCodecContext* aenc = nullptr;
    if (spec.soundOnsetFrame >= 0) {
        const AVCodec* pcm = avcodec_find_encoder(AV_CODEC_ID_PCM_S16LE);
        sound = avformat_new_stream(out, nullptr);
        aenc = avcodec_alloc_context3(pcm);
        aenc->sample_rate = 44100;
        aenc->sample_fmt = AV_SAMPLE_FMT_S16;
        av_channel_layout_default(&aenc->ch_layout, 1);
        aenc->time_base = {1, 44100};
        EXPECT_GE(avcodec_open2(aenc, pcm, nullptr), 0);
        avcodec_parameters_from_context(sound->codecpar, aenc);
        sound->time_base = aenc->time_base;
    }
    EXPECT_GE(avio_open(&out->pb, path.c_str(), AVIO_FLAG_WRITE), 0);
    EXPECT_GE(avformat_write_header(out, nullptr), 0);

    AVPacket* packet = av_packet_alloc();
    auto drain = [&](AVCodecContext* context, AVStream* stream) {
        while (avcodec_receive_packet(context, packet) == 0) {
            if (context == enc) packet->duration = 1;
            av_packet_rescale_ts(packet, context->time_base, stream->time_base);
            packet->stream_index = stream->index;
            av_interleaved_write_frame(out, packet);
        }
    };
    AVFrame* frame = av_frame_alloc();
    frame->format = AV_PIX_FMT_YUV420P;
    frame->width = spec.width;
    frame->height = spec.height;
    av_frame_get_buffer(frame, 0);
    AVFrame* samples = av_frame_alloc();
    const int perFrame = 44100 / spec.fps;
    if (aenc) {
        samples->format = AV_SAMPLE_FMT_S16;
        samples->sample_rate = 44100;
        av_channel_layout_default(&samples->ch_layout, 1);
        samples->nb_samples = perFrame;
        av_frame_get_buffer(samples, 0);
    }
    for (int n = 0; n < spec.frames; ++n) {
        av_frame_make_writable(frame);
        for (int y = 0; y < spec.height; ++y)
            for (int x = 0; x < spec.width; ++x) {
                int Y = FrameLuma(n), U = 128, V = 128;
                if (spec.painter) spec.painter(n, x, y, Y, U, V);
                frame->data[0][y * frame->linesize[0] + x] = static_cast<std::uint8_t>(Y);
                if (x % 2 == 0 && y % 2 == 0) {
                    frame->data[1][(y / 2) * frame->linesize[1] + x / 2] = static_cast<std::uint8_t>(U);
                    frame->data[2][(y / 2) * frame->linesize[2] + x / 2] = static_cast<std::uint8_t>(V);
                }
            }
        frame->pts = n;
        frame->quality = enc->global_quality;
        avcodec_send_frame(enc, frame);
        drain(enc, video);
        if (aenc) {
            av_frame_make_writable(samples);
            auto* pcm = reinterpret_cast<std::int16_t*>(samples->data[0]);
            for (int i = 0; i < perFrame; ++i)
                pcm[i] =
                    n >= spec.soundOnsetFrame ? static_cast<std::int16_t>(i % 50 < 25 ? 20000 : -20000) : 0;
            samples->pts = static_cast<std::int64_t>(n) * perFrame;
            avcodec_send_frame(aenc, samples);
            drain(aenc, sound);
        }
    }
    avcodec_send_frame(enc, nullptr);
    drain(enc, video);
    if (aenc) {
        avcodec_send_frame(aenc, nullptr);
        drain(aenc, sound);
    }
    av_write_trailer(out);
    avio_closep(&out->pb);
    av_frame_free(&samples);
    av_frame_free(&frame);
    av_packet_free(&packet);
    avcodec_free_context(&aenc);
    avcodec_free_context(&enc);
    avformat_free_context(out);
    std::ifstream in(path, std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(in), {});
    std::filesystem::remove(path);
    return bytes;
}

} // namespace kiv::test
