#pragma once

// The maker's web site (feedback and message pages) and its message service.
inline constexpr wchar_t MAKER_WEB_SITE[] = L"https://www.velmorralab.com";
inline constexpr wchar_t MESSAGE_SERVICE_HOST[] = L"api.velmorralab.com";
