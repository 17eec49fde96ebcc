#include "player_texts.h"

#include <QFileInfo>

namespace lumora {

namespace {

// Unicode's directional marks and isolates.
constexpr QChar kRightToLeftMark(0x200f);
constexpr QChar kLeftToRightIsolate(0x2066);
constexpr QChar kFirstStrongIsolate(0x2068);
constexpr QChar kPopIsolate(0x2069);

struct LabelText {
    PlayerLabel label;
    const char8_t *text;
};
constexpr LabelText kLabels[] = {
    {PlayerLabel::Player, u8"مشغّل الإذاعة"},
    {PlayerLabel::PictureArea, u8"منطقة الصورة"},
    {PlayerLabel::Controls, u8"أدوات التحكم في المشغّل"},
    {PlayerLabel::Position, u8"موضع التشغيل"},
    {PlayerLabel::Stop, u8"إيقاف"},
    {PlayerLabel::Volume, u8"مستوى الصوت"},
    {PlayerLabel::VolumeKeys, u8"السهمان أعلى وأسفل يغيّران المستوى"},
    {PlayerLabel::StatusLine, u8"حالة المشغّل"},
    {PlayerLabel::Mute, u8"كتم الصوت"},
    {PlayerLabel::Unmute, u8"إلغاء كتم الصوت"},
};

// Why a station could not be opened or was lost, and what the listener can do.
struct FailureText {
    OpenFailure failure;
    const char8_t *reason; // ServerError: %1 is the server's status code
    const char8_t *advice;
};
constexpr FailureText kFailureTexts[] = {
    {OpenFailure::HostNotFound, u8"اسم الخادم غير معروف",
     u8"تحقّق من اتصالك بالإنترنت ومن عنوان المحطة في ملف الإعداد"},
    {OpenFailure::Refused, u8"الخادم رفض الاتصال", u8"ربما توقّفت المحطة عن البث؛ حاول لاحقًا"},
    {OpenFailure::NoAnswer, u8"الخادم لا يجيب", u8"تحقّق من اتصالك بالإنترنت أو حاول لاحقًا"},
    {OpenFailure::NotFound, u8"المحطة غير موجودة على الخادم", u8"ربما تغيّر عنوانها"},
    {OpenFailure::ServerError, u8"خطأ في الخادم (%1)", u8"حاول لاحقًا"},
    {OpenFailure::NotAStream, u8"ما أرسله الخادم ليس بثًّا صوتيًا", u8"ربما تغيّر عنوان المحطة"},
};

QString text(const char8_t *utf8)
{
    return QString::fromUtf8(utf8);
}

// "reason. advice." for a known failure, empty for none.
QString failureText(const PlayerStatus &s)
{
    for (const FailureText &t : kFailureTexts)
        if (t.failure == s.failure) {
            QString reason = text(t.reason);
            if (s.failure == OpenFailure::ServerError)
                reason = reason.arg(s.serverStatus);
            return reason + QStringLiteral(". ") + text(t.advice) + u'.';
        }
    return {};
}

QString withReason(const QString &what, const PlayerStatus &s)
{
    const QString why = failureText(s);
    return why.isEmpty() ? what : what + QStringLiteral(": ") + why;
}

// States in which the status line names the station: it is being opened, heard or it failed.
bool namesStation(PlaybackState state)
{
    switch (state) {
    case PlaybackState::Opening:
    case PlaybackState::Buffering:
    case PlaybackState::Playing:
    case PlaybackState::Paused:
    case PlaybackState::Reconnecting:
    case PlaybackState::Waiting:
    case PlaybackState::CannotOpen:
    case PlaybackState::Lost:
    case PlaybackState::NoSoundDevice:
        return true;
    default:
        return false;
    }
}

} // namespace

QString playerLabel(PlayerLabel label)
{
    for (const LabelText &l : kLabels)
        if (l.label == label)
            return text(l.text);
    return {};
}

PrimaryAction primaryAction(PlaybackState state)
{
    switch (state) {
    case PlaybackState::Playing:
    case PlaybackState::Buffering:
        return {TransportIcon::Pause, text(u8"إيقاف مؤقت")};
    case PlaybackState::Opening:
    case PlaybackState::Reconnecting:
        return {TransportIcon::Stop, playerLabel(PlayerLabel::Stop)};
    default:
        return {TransportIcon::Play, text(u8"تشغيل")};
    }
}

QString describeStatus(const PlayerStatus &s, bool forDisplay)
{
    // On the Arabic line, text of another direction (a Latin title, a file path) is set apart
    // so that its neutral characters (a path's leading "/") stay where they belong.
    const auto isolated = [forDisplay](const QString &text, QChar isolate) {
        return forDisplay ? isolate + text + kPopIsolate : text;
    };
    switch (s.state) {
    case PlaybackState::Idle: return text(u8"جاهز");
    case PlaybackState::Opening: return text(u8"جارٍ الفتح…");
    case PlaybackState::Buffering: return text(u8"جارٍ التخزين المؤقت %1٪").arg(s.bufferPercent);
    case PlaybackState::Playing:
        return s.title.isEmpty()
            ? text(u8"قيد التشغيل")
            : text(u8"قيد التشغيل: %1").arg(isolated(s.title, kFirstStrongIsolate));
    case PlaybackState::Paused: return text(u8"إيقاف مؤقت");
    case PlaybackState::Stopped: return text(u8"متوقف");
    case PlaybackState::Ended: return text(u8"انتهى");
    case PlaybackState::CannotOpen:
        return s.failure == OpenFailure::None ? text(u8"تعذّر فتح العنوان")
                                              : withReason(text(u8"تعذّر فتح المحطة"), s);
    case PlaybackState::NoAddress: {
        // The first thing a new user meets: where the file is that sets the stations up.
        const QString shown = isolated(s.configFile, kLeftToRightIsolate);
        return QFileInfo::exists(s.configFile)
            ? text(u8"عنوان هذه المحطة غير مُعَدّ في الملف %1").arg(shown)
            : text(u8"لم تُعَدّ المحطات بعد: أنشئ الملف %1").arg(shown);
    }
    case PlaybackState::Reconnecting:
        return text(u8"انقطع البث، جارٍ إعادة الاتصال (المحاولة %1)…").arg(s.attempt);
    case PlaybackState::Lost: return withReason(text(u8"انقطع البث وتعذّرت إعادة الاتصال"), s);
    case PlaybackState::Waiting:
        return text(u8"البث متأخر، في انتظار المحطة (%1 ث)…").arg(s.waitedMs / 1000);
    case PlaybackState::NoSoundDevice:
        return text(u8"لا يوجد جهاز صوت: البث يعمل ولا يُسمع. صِل سمّاعة أو شغّل خادم الصوت، ثم شغّل المحطة من جديد.");
    }
    return {};
}

// The line reads right to left whatever it begins with (a station caption may be Latin).
QString statusLine(const PlayerStatus &status, const QString &stationCaption)
{
    QString line = kRightToLeftMark;
    if (!stationCaption.isEmpty() && namesStation(status.state))
        line += kFirstStrongIsolate + stationCaption + kPopIsolate + QStringLiteral(" — ");
    return line + describeStatus(status, true);
}

QString spokenStatusLine(const PlayerStatus &status, const QString &stationCaption)
{
    if (status.state != PlaybackState::Buffering)
        return statusLine(status, stationCaption);
    PlayerStatus opening = status;
    opening.state = PlaybackState::Opening;
    return statusLine(opening, stationCaption);
}

QString statusToolTip(const PlayerStatus &status, const QString &stationCaption)
{
    const QString line = statusLine(status, stationCaption);
    if (status.state != PlaybackState::NoAddress)
        return line;
    return line + u'\n'
        + text(u8"المفاتيح الناقصة: %1").arg(status.missingKeys.join(QStringLiteral(", "))) + u'\n'
        + text(u8"لكتابة الملف بقالب مشروح نفّذ الأمر: lumora-catalogue init") + u'\n'
        + text(u8"ثم املأ المفاتيح وأعد تشغيل Lumora.") + u'\n'
        + text(u8"لمعرفة ما ينقص الملف وما فيه من أخطاء: lumora-catalogue check");
}

} // namespace lumora
