#pragma once

#include "catalogue/page.h"

#include <QRect>
#include <QSize>
#include <QString>
#include <span>
#include <string_view>

namespace lumora {

// Layout lengths are twips (1440 to the inch) from the top-left corner of a window's client
// area. Every length is a multiple of 15 twips, a whole logical pixel at 96 dots per inch.
inline constexpr int kTwipsPerPixel = 15;
constexpr int twipsToPixels(int twips) { return twips / kTwipsPerPixel; }

enum class ControlKind { PushButton, Image, MediaPlayer };

// A font that replaces the page's default font on one control.
struct FontOverride {
    const char *face;
    double pointSize;
    int weight;  // 400 regular, 700 bold
    int charset; // Windows character-set number (178: Arabic); kept for the record
};

// One control of a page window.
struct ControlLayout {
    const char *name;         // object name: "Command1", "Image1", "WindowsMediaPlayer1"
    ControlKind kind;
    int category;             // push button opening the station page of this main-page
                              // button number, with that page's title; 0 otherwise
    int station;              // push button showing the caption of this station (number on the
                              // page); 0 otherwise
    int left, top, width, height; // twips
    int tabIndex;             // place in the focus order, 0 first; -1: takes no focus
    bool rightToLeft;         // caption laid out right to left
    const FontOverride *font; // nullptr: the page's default font
    const char *picture;      // image only: Qt resource path of the picture

    QRect pixelRect() const
    {
        return {twipsToPixels(left), twipsToPixels(top), twipsToPixels(width),
                twipsToPixels(height)};
    }
    QString objectName() const { return QString::fromLatin1(name); }
};

// One page window.
struct PageLayout {
    Page page;
    int clientWidth, clientHeight; // twips, the area below the menu bar
    const char *icon;              // Qt resource path; the same on every page
    bool rightToLeft;
    bool startCentred;
    std::span<const ControlLayout> controls;

    // The main page's "Lumora", a station page's title from the page directory.
    QString title() const;
    QSize clientPixels() const { return {twipsToPixels(clientWidth), twipsToPixels(clientHeight)}; }
};

// The layout of one page (Form1 is the main page).
const PageLayout &pageLayout(Page page);
// The layouts of all pages in page order, Form1 first.
std::span<const PageLayout> allPageLayouts();

} // namespace lumora
