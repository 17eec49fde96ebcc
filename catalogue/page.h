#pragma once

#include <QString>
#include <optional>

namespace lumora {

// The 18 pages of the program: the main page Form1 and the station pages Form2 .. Form18.
enum class Page : int {
    Form1 = 1, Form2, Form3, Form4, Form5, Form6, Form7, Form8, Form9,
    Form10, Form11, Form12, Form13, Form14, Form15, Form16, Form17, Form18,
};

inline constexpr int kPageCount = 18;
inline constexpr int kStationPageCount = 17;

constexpr int pageNumber(Page p) { return static_cast<int>(p); }
constexpr bool isStationPage(Page p) { return p >= Page::Form2 && p <= Page::Form18; }

// "Form1" .. "Form18".
QString pageName(Page p);
// Inverse of pageName; nullopt for anything that is not exactly a page name.
std::optional<Page> pageFromName(QStringView name);

} // namespace lumora
