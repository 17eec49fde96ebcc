#pragma once

#include <QString>
#include <optional>

namespace lumora {

// The pages of the program: the main page Form1 and the station pages after it. A new page
// is a value here, its row in the page directory, its stations, its layout and its banner.
enum class Page : int {
    Form1 = 1, Form2, Form3, Form4, Form5, Form6, Form7, Form8, Form9,
    Form10, Form11, Form12, Form13, Form14, Form15, Form16, Form17, Form18,
    End // not a page: one past the last
};

constexpr int pageNumber(Page p) { return static_cast<int>(p); }

inline constexpr int kPageCount = pageNumber(Page::End) - 1;
inline constexpr int kStationPageCount = kPageCount - 1;

constexpr bool isStationPage(Page p) { return p >= Page::Form2 && p < Page::End; }

// "Form1", "Form2" and so on.
QString pageName(Page p);
// Inverse of pageName; nullopt for anything that is not exactly a page name.
std::optional<Page> pageFromName(QStringView name);

} // namespace lumora
