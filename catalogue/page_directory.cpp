#include "page_directory.h"

#include <iterator>

namespace lumora {
namespace {

// page, title, main-page button
constexpr PageEntry kDirectory[] = {
    {Page::Form2,  u8"إذاعات مصرية",        2},
    {Page::Form3,  u8"إذاعات سودانية",      1},
    {Page::Form4,  u8"إذاعات مغربية",       4},
    {Page::Form5,  u8"إذاعات سورية",        3},
    {Page::Form6,  u8"إذاعات ليبية",        6},
    {Page::Form7,  u8"إذاعات أردنية",       5},
    {Page::Form8,  u8"إذاعات سعودية",       8},
    {Page::Form9,  u8"إذاعات كويتية",       7},
    {Page::Form10, u8"إذاعات تونسية",      10},
    {Page::Form11, u8"إذاعات قطرية",        9},
    {Page::Form12, u8"إذاعات بحرينية",     12},
    {Page::Form13, u8"إذاعات جزائرية",     11},
    {Page::Form14, u8"إذاعات عراقية",      14},
    {Page::Form15, u8"إذاعات يمنية",       13},
    {Page::Form16, u8"إذاعات فلسطينية",    16},
    {Page::Form17, u8"إذاعات إماراتية",    15},
    {Page::Form18, u8"إذاعات عربية منوعة", 17},
};
static_assert(std::size(kDirectory) == kStationPageCount, "one directory row per station page");

} // namespace

std::span<const PageEntry> PageDirectory::entries()
{
    return kDirectory;
}

const PageEntry *PageDirectory::byPage(Page page)
{
    if (!isStationPage(page))
        return nullptr;
    return &kDirectory[pageNumber(page) - pageNumber(Page::Form2)];
}

const PageEntry *PageDirectory::byMainButton(int button)
{
    for (const PageEntry &e : kDirectory)
        if (e.mainButton == button)
            return &e;
    return nullptr;
}

} // namespace lumora
