#pragma once
// The maker's web site and this program's page on it, fixed when the program is built.

#include <string>

namespace tarnwick {

// The maker's home page, shown in the About box and the free-software notice.
const std::wstring& MakerSite();
// This program's page: opened when a newer version exists; the update manifest lies beside it.
const std::wstring& ProductPage();
// Where the update manifest of a product page is.
std::wstring ManifestAddress(const std::wstring& productPage);
// An address as a person reads it: without the scheme and the closing slash.
std::wstring ShortAddress(const std::wstring& address);

}  // namespace tarnwick
