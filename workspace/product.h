// Product identity: the name, version and home page that the program shows and sends.
#pragma once

namespace pellix {

inline constexpr const char* kProductName = "Pellix";
inline constexpr const char* kProductVersion = "2.46";
// The version whose first-start steps have run is stored under "Version".
inline constexpr const char* kSettingsVersion = "2.50";
inline constexpr const char* kHomePage = "https://pellix.org/";

} // namespace pellix
