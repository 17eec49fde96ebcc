#pragma once

#include "page_instance.h"

namespace lumora {

// Form1: the category buttons, each opening its station page, and the "file" menu.
class MainPage : public PageInstance {
public:
    explicit MainPage(PageSet &pages);

    // The station page that category button CommandN opens.
    static Page targetOf(int button);

protected:
    std::unique_ptr<PageWindow> build() override;
};

} // namespace lumora
