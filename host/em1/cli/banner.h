// The driver's banner as a person sees it on a terminal: its code page 437 frame drawn in
// UTF-8, and tabs inside the frame laid out so the frame stays square.
#pragma once

#include <string>
#include <string_view>

std::string BannerForTerminal(std::string_view cp437);
