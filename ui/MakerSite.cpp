#include "MakerSite.h"

// Both come from the build; see TARNWICK_MAKER_SITE and TARNWICK_PRODUCT_PAGE.
#ifndef TARNWICK_MAKER_SITE
#error "TARNWICK_MAKER_SITE is set by the build"
#endif
#ifndef TARNWICK_PRODUCT_PAGE
#error "TARNWICK_PRODUCT_PAGE is set by the build"
#endif

namespace tarnwick {

const std::wstring& MakerSite()
{
    static const std::wstring site = L"" TARNWICK_MAKER_SITE;
    return site;
}

const std::wstring& ProductPage()
{
    static const std::wstring page = L"" TARNWICK_PRODUCT_PAGE;
    return page;
}

std::wstring ManifestAddress(const std::wstring& productPage) { return productPage + L"version.xml"; }

std::wstring ShortAddress(const std::wstring& address)
{
    std::wstring text = address;
    const std::size_t scheme = text.find(L"://");
    if (scheme != std::wstring::npos)
        text.erase(0, scheme + 3);
    if (!text.empty() && text.back() == L'/')
        text.pop_back();
    return text;
}

}  // namespace tarnwick
