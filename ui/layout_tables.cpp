#include "layout.h"

#include "catalogue/page_directory.h"

#include <iterator>

namespace lumora {
namespace {

// The window layouts of all pages, in twips. Station buttons carry no caption of their own:
// each shows the caption of the station with its number (the catalogue's stationsOf).

constexpr const char *kIcon = ":/lumora/lumora.png";

// Form16 Command6 alone has a font of its own.
constexpr FontOverride kArial975{"Arial", 9.75, 400, 178};

// Category buttons show the title of the page they open (the page directory).
constexpr ControlLayout category(const char *name, int button, int left, int top, int width,
                                 int height, int tabIndex)
{
    return {name, ControlKind::PushButton, button, 0, left, top, width, height, tabIndex, true,
            nullptr, nullptr};
}

constexpr ControlLayout station(const char *name, int number, int left, int top, int width,
                                int height, int tabIndex, const FontOverride *font = nullptr)
{
    return {name, ControlKind::PushButton, 0, number, left, top, width, height, tabIndex,
            true, font, nullptr};
}

constexpr ControlLayout image(const char *name, int left, int top, int width, int height,
                              const char *picture)
{
    return {name, ControlKind::Image, 0, 0, left, top, width, height, -1, false, nullptr,
            picture};
}

constexpr ControlLayout player(const char *name, int left, int top, int width, int height,
                               int tabIndex)
{
    return {name, ControlKind::MediaPlayer, 0, 0, left, top, width, height, tabIndex, false,
            nullptr, nullptr};
}

// The tables are aligned by hand, column by column.
// clang-format off
// Form1: two columns of category buttons and one centred below them.
constexpr ControlLayout kForm1Controls[] = {
    category("Command1",   1,  240,  240, 2055, 495,  0),
    category("Command2",   2, 2760,  240, 2055, 495,  1),
    category("Command3",   3,  240,  960, 2055, 495,  2),
    category("Command4",   4, 2760,  960, 2055, 495,  3),
    category("Command5",   5,  240, 1680, 2055, 495,  4),
    category("Command6",   6, 2760, 1680, 2055, 495,  5),
    category("Command7",   7,  240, 2400, 2055, 495,  6),
    category("Command8",   8, 2760, 2400, 2055, 495,  7),
    category("Command9",   9,  240, 3120, 2055, 495,  8),
    category("Command10", 10, 2760, 3120, 2055, 495,  9),
    category("Command11", 11,  240, 3840, 2055, 495, 10),
    category("Command12", 12, 2760, 3840, 2055, 495, 11),
    category("Command13", 13,  240, 4560, 2055, 495, 12),
    category("Command14", 14, 2760, 4560, 2055, 495, 13),
    category("Command15", 15,  240, 5280, 2055, 495, 14),
    category("Command16", 16, 2760, 5280, 2055, 495, 15),
    category("Command17", 17, 1440, 6000, 2175, 495, 16),
};

// Form2: إذاعات مصرية
constexpr ControlLayout kForm2Controls[] = {
    image("Image1",              480,  240, 6975, 1215, ":/lumora/banners/Form2.jpg"),
    player("WindowsMediaPlayer1", 480, 5040, 6975, 1455, 0),
    station("Command1",   1,  480, 1680, 1215,  615,  1),
    station("Command2",   2, 1920, 1680, 1215,  615,  2),
    station("Command3",   3, 3360, 1680, 1215,  615,  3),
    station("Command4",   4, 4800, 1680, 1215,  615,  4),
    station("Command5",   5, 6240, 1680, 1215,  615,  5),
    station("Command6",   6,  480, 2520, 1215,  615,  6),
    station("Command7",   7, 1920, 2520, 1215,  615,  7),
    station("Command8",   8, 3360, 2520, 1215,  615,  8),
    station("Command9",   9, 4800, 2520, 1215,  615,  9),
    station("Command10", 10, 6240, 2520, 1215,  615, 10),
    station("Command11", 11,  480, 3360, 1215,  615, 11),
    station("Command12", 12, 1920, 3360, 1215,  615, 12),
    station("Command13", 13, 3360, 3360, 1215,  615, 13),
    station("Command14", 14, 4800, 3360, 1215,  615, 14),
    station("Command15", 15, 6240, 3360, 1215,  615, 15),
    station("Command16", 16, 1920, 4200, 1215,  615, 16),
    station("Command17", 17, 3360, 4200, 1215,  615, 17),
    station("Command18", 18, 4800, 4200, 1215,  615, 18),
};

// Form3: إذاعات سودانية
constexpr ControlLayout kForm3Controls[] = {
    image("Image1",              480,  240, 6975, 1215, ":/lumora/banners/Form3.jpg"),
    player("WindowsMediaPlayer1", 480, 5040, 6975, 1455, 0),
    station("Command1",   1,  480, 1680, 3255,  855,  1),
    station("Command2",   2, 4200, 1680, 3255,  855,  2),
    station("Command3",   3,  480, 2760, 3255,  855,  3),
    station("Command4",   4, 4200, 2760, 3255,  855,  4),
    station("Command5",   5,  480, 3840, 3255,  855,  5),
    station("Command6",   6, 4200, 3840, 3255,  855,  6),
};

// Form4: إذاعات مغربية
constexpr ControlLayout kForm4Controls[] = {
    image("Image1",              480,  240, 6975, 1215, ":/lumora/banners/Form4.jpg"),
    player("WindowsMediaPlayer1", 480, 5040, 6975, 1455, 0),
    station("Command1",   1,  480, 1680, 1215,  615,  1),
    station("Command2",   2, 1920, 1680, 1215,  615,  2),
    station("Command3",   3, 3360, 1680, 1215,  615,  3),
    station("Command4",   4, 4800, 1680, 1215,  615,  4),
    station("Command5",   5, 6240, 1680, 1215,  615,  5),
    station("Command6",   6,  480, 2520, 1215,  615,  6),
    station("Command7",   7, 1920, 2520, 1215,  615,  7),
    station("Command8",   8, 3360, 2520, 1215,  615,  8),
    station("Command9",   9, 4800, 2520, 1215,  615,  9),
    station("Command10", 10, 6240, 2520, 1215,  615, 10),
    station("Command11", 11,  480, 3360, 1215,  615, 11),
    station("Command12", 12, 1920, 3360, 1215,  615, 12),
    station("Command13", 13, 3360, 3360, 1215,  615, 13),
    station("Command14", 14, 4800, 3360, 1215,  615, 14),
    station("Command15", 15, 6240, 3360, 1215,  615, 15),
    station("Command16", 16,  480, 4200, 1215,  615, 16),
    station("Command17", 17, 1920, 4200, 1215,  615, 17),
    station("Command18", 18, 3360, 4200, 1215,  615, 18),
    station("Command19", 19, 4800, 4200, 1215,  615, 19),
    station("Command20", 20, 6240, 4200, 1215,  615, 20),
};

// Form5: إذاعات سورية
constexpr ControlLayout kForm5Controls[] = {
    image("Image1",              480,  240, 6975, 1215, ":/lumora/banners/Form5.jpg"),
    player("WindowsMediaPlayer1", 480, 5040, 6975, 1455, 0),
    station("Command1",   1,  480, 1680, 2175,  615,  1),
    station("Command2",   2, 2880, 1680, 2175,  615,  2),
    station("Command3",   3, 5280, 1680, 2175,  615,  3),
    station("Command4",   4,  480, 2520, 2175,  615,  4),
    station("Command5",   5, 2880, 2520, 2175,  615,  5),
    station("Command6",   6, 5280, 2520, 2175,  615,  6),
    station("Command7",   7,  480, 3360, 2175,  615,  7),
    station("Command8",   8, 2880, 3360, 2175,  615,  8),
    station("Command9",   9, 5280, 3360, 2175,  615,  9),
    station("Command10", 10,  480, 4200, 2175,  615, 10),
    station("Command11", 11, 2880, 4200, 2175,  615, 11),
    station("Command12", 12, 5280, 4200, 2175,  615, 12),
};

// Form6: إذاعات ليبية
constexpr ControlLayout kForm6Controls[] = {
    image("Image1",              480,  240, 6975, 1215, ":/lumora/banners/Form6.jpg"),
    player("WindowsMediaPlayer1", 480, 5040, 6975, 1455, 0),
    station("Command1",   1,  480, 1680, 6975,  735,  1),
    station("Command2",   2,  480, 2880, 6975,  735,  2),
    station("Command3",   3,  480, 4080, 6975,  735,  3),
};

// Form7: إذاعات أردنية
constexpr ControlLayout kForm7Controls[] = {
    image("Image1",              480,  240, 6975, 1215, ":/lumora/banners/Form7.jpg"),
    player("WindowsMediaPlayer1", 480, 5040, 6975, 1455, 0),
    station("Command1",   1,  480, 1680, 3375,  615,  1),
    station("Command2",   2,  480, 2520, 3375,  615,  2),
    station("Command3",   3,  480, 3360, 3375,  615,  3),
    station("Command4",   4,  480, 4200, 3375,  615,  4),
    station("Command5",   5, 4080, 1680, 3375,  615,  5),
    station("Command6",   6, 4080, 2520, 3375,  615,  6),
    station("Command7",   7, 4080, 3360, 3375,  615,  7),
    station("Command8",   8, 4080, 4200, 3375,  615,  8),
};

// Form8: إذاعات سعودية
constexpr ControlLayout kForm8Controls[] = {
    image("Image1",              480,  240, 6975, 1215, ":/lumora/banners/Form8.jpg"),
    player("WindowsMediaPlayer1", 480, 5040, 6975, 1455, 0),
    station("Command1",   1,  480, 1680, 3375,  735,  1),
    station("Command2",   2, 4080, 1680, 3375,  735,  2),
    station("Command3",   3,  480, 2880, 3375,  735,  3),
    station("Command4",   4, 4080, 2880, 3375,  735,  4),
    station("Command5",   5,  480, 4080, 3375,  735,  5),
    station("Command6",   6, 4080, 4080, 3375,  735,  6),
};

// Form9: إذاعات كويتية
constexpr ControlLayout kForm9Controls[] = {
    image("Image1",              480,  240, 6975, 1215, ":/lumora/banners/Form9.jpg"),
    player("WindowsMediaPlayer1", 480, 5040, 6975, 1455, 0),
    station("Command1",   1,  480, 1680, 2175,  735,  1),
    station("Command2",   2,  480, 2880, 2175,  735,  2),
    station("Command3",   3, 1680, 4080, 2175,  735,  3),
    station("Command4",   4, 2880, 1680, 2175,  735,  4),
    station("Command5",   5, 2880, 2880, 2175,  735,  5),
    station("Command6",   6, 4080, 4080, 2175,  735,  6),
    station("Command7",   7, 5280, 1680, 2175,  735,  7),
    station("Command8",   8, 5280, 2880, 2175,  735,  8),
};

// Form10: إذاعات تونسية
constexpr ControlLayout kForm10Controls[] = {
    image("Image1",              480,  240, 6975, 1215, ":/lumora/banners/Form10.jpg"),
    player("WindowsMediaPlayer1", 480, 5040, 6975, 1455, 0),
    station("Command1",   1,  480, 1680, 3375,  735,  1),
    station("Command2",   2, 4080, 1680, 3375,  735,  2),
    station("Command3",   3,  480, 2880, 3375,  735,  3),
    station("Command4",   4, 4080, 2880, 3375,  735,  4),
    station("Command5",   5,  480, 4080, 3375,  735,  5),
    station("Command6",   6, 4080, 4080, 3375,  735,  6),
};

// Form11: إذاعات قطرية
constexpr ControlLayout kForm11Controls[] = {
    image("Image1",              480,  240, 6975, 1215, ":/lumora/banners/Form11.jpg"),
    player("WindowsMediaPlayer1", 480, 5040, 6975, 1455, 0),
    station("Command1",   1,  480, 1680, 6975,  615,  1),
    station("Command2",   2,  480, 2520, 6975,  615,  2),
    station("Command3",   3,  480, 3360, 6975,  615,  3),
    station("Command4",   4,  480, 4200, 6975,  615,  4),
};

// Form12: إذاعات بحرينية
constexpr ControlLayout kForm12Controls[] = {
    image("Image1",              480,  240, 6975, 1215, ":/lumora/banners/Form12.jpg"),
    player("WindowsMediaPlayer1", 480, 5040, 6975, 1455, 0),
    station("Command1",   1,  480, 1560, 6975, 1335,  1),
    station("Command2",   2,  480, 3480, 6975, 1335,  2),
};

// Form13: إذاعات جزائرية
constexpr ControlLayout kForm13Controls[] = {
    image("Image1",              480,  240, 6975, 1215, ":/lumora/banners/Form13.jpg"),
    player("WindowsMediaPlayer1", 480, 5040, 6975, 1455, 0),
    station("Command1",   1,  480, 1680, 6975,  735,  1),
    station("Command2",   2,  480, 2880, 6975,  735,  2),
    station("Command3",   3,  480, 4080, 6975,  735,  3),
};

// Form14: إذاعات عراقية
constexpr ControlLayout kForm14Controls[] = {
    image("Image1",              480,  240, 6975, 1215, ":/lumora/banners/Form14.jpg"),
    player("WindowsMediaPlayer1", 480, 5040, 6975, 1455, 0),
    station("Command1",   1,  480, 1680, 3375,  735,  1),
    station("Command2",   2, 4080, 1680, 3375,  735,  2),
    station("Command3",   3,  480, 2880, 3375,  735,  3),
    station("Command4",   4, 4080, 2880, 3375,  735,  4),
    station("Command5",   5,  480, 4080, 3375,  735,  5),
    station("Command6",   6, 4080, 4080, 3375,  735,  6),
};

// Form15: إذاعات يمنية
constexpr ControlLayout kForm15Controls[] = {
    image("Image1",              480,  240, 6975, 1215, ":/lumora/banners/Form15.jpg"),
    player("WindowsMediaPlayer1", 480, 5040, 6975, 1455, 0),
    station("Command1",   1,  480, 1680, 3375,  735,  1),
    station("Command2",   2, 4080, 1680, 3375,  735,  2),
    station("Command3",   3,  480, 2880, 3375,  735,  3),
    station("Command4",   4, 4080, 2880, 3375,  735,  4),
    station("Command5",   5,  480, 4080, 3375,  735,  5),
    station("Command6",   6, 4080, 4080, 3375,  735,  6),
};

// Form16: إذاعات فلسطينية
constexpr ControlLayout kForm16Controls[] = {
    image("Image1",              480,  240, 6975, 1215, ":/lumora/banners/Form16.jpg"),
    player("WindowsMediaPlayer1", 480, 5160, 6975, 1455, 0),
    station("Command1",   1,  480, 1680, 1215,  375,  1),
    station("Command2",   2, 1920, 1680, 1215,  375,  2),
    station("Command3",   3, 3360, 1680, 1215,  375,  3),
    station("Command4",   4, 4800, 1680, 1215,  375,  4),
    station("Command5",   5, 6240, 1680, 1215,  375,  5),
    station("Command6",   6,  480, 2280, 1215,  375,  6, &kArial975),
    station("Command7",   7, 1920, 2280, 1215,  375,  7),
    station("Command8",   8, 3360, 2280, 1215,  375,  8),
    station("Command9",   9, 4800, 2280, 1215,  375,  9),
    station("Command10", 10, 6240, 2280, 1215,  375, 10),
    station("Command11", 11,  480, 2880, 1215,  375, 11),
    station("Command12", 12, 1920, 2880, 1215,  375, 12),
    station("Command13", 13, 3360, 2880, 1215,  375, 13),
    station("Command14", 14, 4800, 2880, 1215,  375, 14),
    station("Command15", 15, 6240, 2880, 1215,  375, 15),
    station("Command16", 16,  480, 3480, 1215,  375, 16),
    station("Command17", 17, 1920, 3480, 1215,  375, 17),
    station("Command18", 18, 3360, 3480, 1215,  375, 18),
    station("Command19", 19, 4800, 3480, 1215,  375, 19),
    station("Command20", 20, 6240, 3480, 1215,  375, 20),
    station("Command21", 21,  480, 4080, 1215,  375, 21),
    station("Command22", 22, 1920, 4080, 1215,  375, 22),
    station("Command23", 23, 3360, 4080, 1215,  375, 23),
    station("Command24", 24, 4800, 4080, 1215,  375, 24),
    station("Command25", 25, 6240, 4080, 1215,  375, 25),
    station("Command26", 26, 1920, 4680, 1215,  375, 26),
    station("Command27", 27, 3360, 4680, 1215,  375, 27),
    station("Command28", 28, 4800, 4680, 1215,  375, 28),
};

// Form17: إذاعات إماراتية
constexpr ControlLayout kForm17Controls[] = {
    image("Image1",              480,  240, 6975, 1215, ":/lumora/banners/Form17.jpg"),
    player("WindowsMediaPlayer1", 480, 5040, 6975, 1455, 0),
    station("Command1",   1,  480, 1680, 1575,  615,  1),
    station("Command2",   2, 2280, 1680, 1575,  615,  2),
    station("Command3",   3, 4080, 1680, 1575,  615,  3),
    station("Command4",   4, 5880, 1680, 1575,  615,  4),
    station("Command5",   5,  480, 2520, 1575,  615,  5),
    station("Command6",   6, 2280, 2520, 1575,  615,  6),
    station("Command7",   7, 4080, 2520, 1575,  615,  7),
    station("Command8",   8, 5880, 2520, 1575,  615,  8),
    station("Command9",   9,  480, 3360, 1575,  615,  9),
    station("Command10", 10, 2280, 3360, 1575,  615, 10),
    station("Command11", 11, 4080, 3360, 1575,  615, 11),
    station("Command12", 12, 5880, 3360, 1575,  615, 12),
    station("Command13", 13,  480, 4200, 1575,  615, 13),
    station("Command14", 14, 2280, 4200, 1575,  615, 14),
    station("Command15", 15, 4080, 4200, 1575,  615, 15),
    station("Command16", 16, 5880, 4200, 1575,  615, 16),
};

// Form18: إذاعات عربية منوعة
constexpr ControlLayout kForm18Controls[] = {
    image("Image1",              480,  240, 6975, 1215, ":/lumora/banners/Form18.jpg"),
    player("WindowsMediaPlayer1", 480, 5040, 6975, 1455, 0),
    station("Command1",   1,  480, 1680, 3375,  735,  1),
    station("Command2",   2, 4080, 1680, 3375,  735,  2),
    station("Command3",   3,  480, 2880, 3375,  735,  3),
    station("Command4",   4, 4080, 2880, 3375,  735,  4),
    station("Command5",   5,  480, 4080, 3375,  735,  5),
    station("Command6",   6, 4080, 4080, 3375,  735,  6),
};

constexpr PageLayout kPages[] = {
    {Page::Form1, 5055, 6735, kIcon, true, true, kForm1Controls},
    {Page::Form2, 7875, 6780, kIcon, true, true, kForm2Controls},
    {Page::Form3, 7875, 6780, kIcon, true, true, kForm3Controls},
    {Page::Form4, 7875, 6780, kIcon, true, true, kForm4Controls},
    {Page::Form5, 7875, 6780, kIcon, true, true, kForm5Controls},
    {Page::Form6, 7875, 6780, kIcon, true, true, kForm6Controls},
    {Page::Form7, 7875, 6780, kIcon, true, true, kForm7Controls},
    {Page::Form8, 7875, 6780, kIcon, true, true, kForm8Controls},
    {Page::Form9, 7875, 6780, kIcon, true, true, kForm9Controls},
    {Page::Form10,7875, 6780, kIcon, true, true, kForm10Controls},
    {Page::Form11,7875, 6780, kIcon, true, true, kForm11Controls},
    {Page::Form12,7875, 6780, kIcon, true, true, kForm12Controls},
    {Page::Form13,7875, 6780, kIcon, true, true, kForm13Controls},
    {Page::Form14,7875, 6780, kIcon, true, true, kForm14Controls},
    {Page::Form15,7875, 6780, kIcon, true, true, kForm15Controls},
    {Page::Form16,7875, 6780, kIcon, true, true, kForm16Controls},
    {Page::Form17,7875, 6780, kIcon, true, true, kForm17Controls},
    {Page::Form18,7875, 6780, kIcon, true, true, kForm18Controls},
};
// clang-format on

static_assert(std::size(kPages) == kPageCount, "one layout per page");

} // namespace

QString PageLayout::title() const
{
    const PageEntry *entry = PageDirectory::byPage(page);
    return entry ? entry->title() : QStringLiteral("Lumora");
}

const PageLayout &pageLayout(Page page)
{
    return kPages[pageNumber(page) - pageNumber(Page::Form1)];
}

std::span<const PageLayout> allPageLayouts()
{
    return kPages;
}

} // namespace lumora
