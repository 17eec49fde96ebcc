#include "fault.h"

namespace lumora::sim {
namespace {

struct FaultEntry {
    Fault fault;
    const char *name;
};
constexpr FaultEntry kFaults[] = {
    {Fault::None, "none"},
    {Fault::Refuse, "refuse"},
    {Fault::NotFound, "404"},
    {Fault::ServerError, "500"},
    {Fault::NoAnswer, "no-answer"},
    {Fault::HeadersThenStall, "stall"},
    {Fault::Trickle, "trickle"},
    {Fault::ResetMidStream, "reset"},
    {Fault::RedirectLoop, "redirect-loop"},
    {Fault::RedirectChain, "redirect-chain"},
    {Fault::SelfPlaylist, "self-playlist"},
    {Fault::HugePlaylist, "huge-playlist"},
    {Fault::JunkAudio, "junk"},
    {Fault::SecondDiffers, "second-differs"},
    {Fault::RedirectLocal, "redirect-local"},
    {Fault::LocalPlaylist, "local-playlist"},
    {Fault::TenBytes, "ten-bytes"},
    {Fault::Cp1256Title, "cp1256-title"},
    {Fault::HostileTitle, "hostile-title"},
    {Fault::HugeChunk, "huge-chunk"},
    {Fault::HugeChunkText, "huge-chunk-text"},
    {Fault::NegativeLength, "negative-length"},
    {Fault::HugeLength, "huge-length"},
    {Fault::SparseOgg, "sparse-ogg"},
    {Fault::MmstSilent, "mmst-silent"},
    {Fault::Hls, "hls"},
    {Fault::GzipPlaylist, "gzip-playlist"},
    {Fault::Latin1Title, "latin1-title"},
    {Fault::Id3Cover, "id3-cover"},
    {Fault::Id3CoverAac, "id3-cover-aac"},
};

} // namespace

QString faultName(Fault f)
{
    for (const FaultEntry &e : kFaults)
        if (e.fault == f)
            return QString::fromLatin1(e.name);
    return {};
}

std::optional<Fault> faultFromName(QStringView name)
{
    for (const FaultEntry &e : kFaults)
        if (name == QLatin1StringView(e.name))
            return e.fault;
    return std::nullopt;
}

QStringList faultNames()
{
    QStringList names;
    for (const FaultEntry &e : kFaults)
        names.append(QString::fromLatin1(e.name));
    return names;
}

} // namespace lumora::sim
