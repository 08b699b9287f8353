// The mobile-data settings a board gets when nobody chose others: what the
// window's entry fields show before any settings file was saved, and what
// kestrova-flash writes when given neither a file nor the options.
#pragma once

inline constexpr char kDefaultApn[] = "internet";
inline constexpr char kDefaultLogin[] = "user";
inline constexpr char kDefaultPassword[] = "40817";
