#include "tone_encoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
}

#include <cmath>
#include <cstring>
#include <numbers>

namespace lumora::sim {
namespace {

// How each format is made: container, codec, rate, bit rate, ASF packet size.
struct FormatSpec {
    const char *muxer;
    const char *encoder;
    int sampleRate;
    int bitRate;
    int packetSize; // ASF only
};

FormatSpec specOf(ToneEncoder::Format f)
{
    switch (f) {
    case ToneEncoder::Format::Mp3: return {"mp3", "libmp3lame", 22050, 32000, 0};
    case ToneEncoder::Format::AsfWma: return {"asf", "wmav2", 22050, 32000, 1500};
    case ToneEncoder::Format::AsfPcm: return {"asf", "pcm_s16le", 8000, 128000, 3200};
    case ToneEncoder::Format::RealAudio: return {"rm", "real_144", 8000, 8000, 0};
    case ToneEncoder::Format::OggVorbis: return {"ogg", "libvorbis", 22050, 32000, 0};
    case ToneEncoder::Format::TsAac: return {"mpegts", "aac", 22050, 48000, 0};
    case ToneEncoder::Format::Adts: return {"adts", "aac", 22050, 48000, 0};
    case ToneEncoder::Format::Fmp4Aac: return {"mp4", "aac", 22050, 48000, 0};
    }
    return {};
}

QString avError(int code)
{
    char buf[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, buf, sizeof buf);
    return QString::fromLocal8Bit(buf);
}

constexpr double kAmplitude = 0.5;
constexpr int kPcmFrameSamples = 400; // 50 ms at 8 kHz; PCM has no natural frame size

} // namespace

struct ToneEncoder::Av {
    AVFormatContext *format = nullptr;
    AVCodecContext *codec = nullptr;
    AVStream *stream = nullptr;
    AVStream *metadata = nullptr; // MPEG-TS: timed ID3
    AVFrame *frame = nullptr;
    AVPacket *packet = nullptr;
    AVIOContext *io = nullptr;
    int64_t samples = 0;
    double phase = 0.0;
    bool headerWritten = false;

    ~Av()
    {
        if (format && headerWritten) {
            av_write_trailer(format); // flushes into the buffer; the bytes are dropped
        }
        if (io) {
            av_freep(&io->buffer);
            avio_context_free(&io);
        }
        if (format) {
            format->pb = nullptr;
            avformat_free_context(format);
        }
        av_frame_free(&frame);
        av_packet_free(&packet);
        avcodec_free_context(&codec);
    }
};

namespace {
int collect(void *opaque, uint8_t *buf, int size)
{
    static_cast<QByteArray *>(opaque)->append(reinterpret_cast<const char *>(buf), size);
    return size;
}
} // namespace

ToneEncoder::ToneEncoder(Format format, int toneHz, int bitRate)
    : m_format(format), m_toneHz(toneHz), m_bitRate(bitRate), m_av(std::make_unique<Av>())
{
    // A live encoder is closed mid-stream whenever a listener leaves, and LAME warns each
    // time of the frames it did not get to write: only errors are worth printing.
    static const bool quiet = [] {
        av_log_set_level(AV_LOG_ERROR);
        return true;
    }();
    (void)quiet;
    if (!open())
        m_av.reset();
}

ToneEncoder::~ToneEncoder() = default;

bool ToneEncoder::open()
{
    const FormatSpec spec = specOf(m_format);
    Av &av = *m_av;

    const AVCodec *codec = avcodec_find_encoder_by_name(spec.encoder);
    if (!codec) {
        m_error = QStringLiteral("libavcodec has no %1 encoder").arg(QLatin1StringView(spec.encoder));
        return false;
    }
    if (avformat_alloc_output_context2(&av.format, nullptr, spec.muxer, nullptr) < 0) {
        m_error = QStringLiteral("libavformat has no %1 muxer").arg(QLatin1StringView(spec.muxer));
        return false;
    }

    av.codec = avcodec_alloc_context3(codec);
    av.codec->sample_rate = spec.sampleRate;
    av.codec->bit_rate = m_bitRate > 0 ? m_bitRate : spec.bitRate;
    av.codec->ch_layout = AV_CHANNEL_LAYOUT_MONO;
    av.codec->sample_fmt = codec->sample_fmts ? codec->sample_fmts[0] : AV_SAMPLE_FMT_S16;
    av.codec->time_base = AVRational{1, spec.sampleRate};
    if (av.format->oformat->flags & AVFMT_GLOBALHEADER)
        av.codec->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    if (int rc = avcodec_open2(av.codec, codec, nullptr); rc < 0) {
        m_error = QStringLiteral("cannot open the %1 encoder: %2")
                      .arg(QLatin1StringView(spec.encoder), avError(rc));
        return false;
    }

    av.stream = avformat_new_stream(av.format, nullptr);
    avcodec_parameters_from_context(av.stream->codecpar, av.codec);
    av.stream->time_base = av.codec->time_base;
    if (m_format == Format::TsAac) {
        // A metadata stream for timed ID3, as HLS packagers carry "now playing" in TS.
        av.metadata = avformat_new_stream(av.format, nullptr);
        av.metadata->codecpar->codec_type = AVMEDIA_TYPE_DATA;
        av.metadata->codecpar->codec_id = AV_CODEC_ID_TIMED_ID3;
        av.metadata->time_base = AVRational{1, 90000};
    }

    constexpr int kIoBufferSize = 4096;
    auto *ioBuffer = static_cast<unsigned char *>(av_malloc(kIoBufferSize));
    av.io = avio_alloc_context(ioBuffer, kIoBufferSize, 1, &m_out, nullptr, collect, nullptr);
    av.format->pb = av.io;
    av.format->flags |= AVFMT_FLAG_FLUSH_PACKETS;

    AVDictionary *options = nullptr;
    if (m_format == Format::Mp3) {
        av_dict_set(&options, "id3v2_version", "0", 0); // a live stream: no tag, no Xing frame
        av_dict_set(&options, "write_xing", "0", 0);
    }
    if (m_format == Format::OggVorbis) // pages end where encode() says, not by the muxer's clock
        av_dict_set(&options, "page_duration", "3600000000", 0);
    if (m_format == Format::Fmp4Aac) // an empty moov, then one fragment per encode()
        av_dict_set(&options, "movflags", "empty_moov+default_base_moof+frag_custom", 0);
    if (spec.packetSize > 0) {
        m_packetSize = spec.packetSize;
        av_dict_set_int(&options, "packet_size", spec.packetSize, 0);
    }
    const int rc = avformat_write_header(av.format, &options);
    av_dict_free(&options);
    if (rc < 0) {
        m_error = QStringLiteral("cannot start the %1 stream: %2")
                      .arg(QLatin1StringView(spec.muxer), avError(rc));
        return false;
    }
    av.headerWritten = true;
    avio_flush(av.io);
    m_header = m_out;
    m_out.clear();

    av.frame = av_frame_alloc();
    av.frame->format = av.codec->sample_fmt;
    av.frame->sample_rate = av.codec->sample_rate;
    av_channel_layout_copy(&av.frame->ch_layout, &av.codec->ch_layout);
    av.frame->nb_samples = av.codec->frame_size > 0 ? av.codec->frame_size : kPcmFrameSamples;
    if (av_frame_get_buffer(av.frame, 0) < 0) {
        m_error = QStringLiteral("out of memory for an audio frame");
        return false;
    }
    av.packet = av_packet_alloc();
    return true;
}

bool ToneEncoder::pushFrame()
{
    Av &av = *m_av;
    if (av_frame_make_writable(av.frame) < 0)
        return false;
    const double step = 2.0 * std::numbers::pi * m_toneHz / av.codec->sample_rate;
    const int n = av.frame->nb_samples;
    for (int i = 0; i < n; ++i) {
        const double v = kAmplitude * std::sin(av.phase);
        av.phase += step;
        if (av.phase > 2.0 * std::numbers::pi)
            av.phase -= 2.0 * std::numbers::pi;
        switch (av.codec->sample_fmt) {
        case AV_SAMPLE_FMT_FLT:
        case AV_SAMPLE_FMT_FLTP:
            reinterpret_cast<float *>(av.frame->data[0])[i] = float(v);
            break;
        case AV_SAMPLE_FMT_S32:
        case AV_SAMPLE_FMT_S32P:
            reinterpret_cast<int32_t *>(av.frame->data[0])[i] = int32_t(v * 2147483647.0);
            break;
        default: // S16, S16P
            reinterpret_cast<int16_t *>(av.frame->data[0])[i] = int16_t(v * 32767.0);
            break;
        }
    }
    av.frame->pts = av.samples;
    av.samples += n;
    if (avcodec_send_frame(av.codec, av.frame) < 0)
        return false;
    drainPackets();
    return true;
}

void ToneEncoder::drainPackets()
{
    Av &av = *m_av;
    while (avcodec_receive_packet(av.codec, av.packet) == 0) {
        av_packet_rescale_ts(av.packet, av.codec->time_base, av.stream->time_base);
        av.packet->stream_index = av.stream->index;
        av_write_frame(av.format, av.packet); // takes the packet's data
        av_packet_unref(av.packet);
    }
}

QByteArray ToneEncoder::encode(qint64 ms, const QByteArray &timedId3)
{
    if (!m_av || !m_av->headerWritten)
        return {};
    Av &av = *m_av;
    const int64_t target = av.samples + ms * av.codec->sample_rate / 1000;
    if (m_format == Format::TsAac) // each segment starts with the tables a client needs
        av_opt_set(av.format->priv_data, "mpegts_flags", "+resend_headers", 0);
    if (av.metadata && !timedId3.isEmpty())
        writeTimedId3(timedId3);
    while (av.samples < target) {
        if (!pushFrame()) {
            m_error = QStringLiteral("encoding failed");
            break;
        }
    }
    if (m_format == Format::OggVorbis || m_format == Format::TsAac || m_format == Format::Fmp4Aac)
        av_write_frame(av.format, nullptr); // closes the page, PES packet or fragment under way
    avio_flush(av.io);
    QByteArray out;
    out.swap(m_out);
    return out;
}

void ToneEncoder::writeTimedId3(const QByteArray &tag)
{
    Av &av = *m_av;
    AVPacket *packet = av_packet_alloc();
    if (!packet || av_new_packet(packet, int(tag.size())) < 0) {
        av_packet_free(&packet);
        return;
    }
    std::memcpy(packet->data, tag.constData(), size_t(tag.size()));
    packet->pts = packet->dts = av_rescale_q(av.samples, av.codec->time_base, av.metadata->time_base);
    packet->stream_index = av.metadata->index;
    av_write_frame(av.format, packet);
    av_packet_free(&packet);
}

QByteArray ToneEncoder::finish()
{
    if (!m_av || !m_av->headerWritten)
        return {};
    Av &av = *m_av;
    avcodec_send_frame(av.codec, nullptr);
    drainPackets();
    av_write_trailer(av.format);
    av.headerWritten = false;
    avio_flush(av.io);
    QByteArray out;
    out.swap(m_out);
    return out;
}

qint64 ToneEncoder::encodedMs() const
{
    return m_av ? m_av->samples * 1000 / m_av->codec->sample_rate : 0;
}

} // namespace lumora::sim
