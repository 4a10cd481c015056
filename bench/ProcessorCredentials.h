#pragma once

// The user name and password the benchmarks' loopback processors ask for.
inline constexpr const char* kUser = "admin";
inline constexpr const char* kPassword = "secret";
