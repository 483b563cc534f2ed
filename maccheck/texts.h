// The fixed words of the observations, each written once.
#pragma once

inline constexpr const char* grantedText = "granted";
inline constexpr const char* notGrantedText = "not granted";
inline constexpr const char* noSourceText = "none";
inline constexpr const char* layoutDataText = "layout data";
inline constexpr const char* noLayoutDataText = "no layout data";
inline constexpr const char* notFoundText = "not found";
inline constexpr const char* noPostAccessText = "no right to post events";
inline constexpr const char* noListenOnlyTapText = "no listen-only tap granted";
inline constexpr const char* noSourcesText = "no run-loop source or event source";
inline constexpr const char* noRunLoopSourceText = "no run-loop source";
inline constexpr const char* noKeyboardEventText = "no keyboard event could be made";
inline constexpr const char* noPipeText = "no pipe";
inline constexpr const char* noDescriptorSourceText = "no file descriptor source";
