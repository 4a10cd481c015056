#pragma once

#include <algorithm>
#include <string_view>

// The control characters of HTTP (CTL: the bytes 0x00 to 0x1f, and DEL). A horizontal tab is
// whitespace inside a header field's value and a challenge's parameters; anywhere else (a
// request target, a user name) it is a control character like the others.
namespace http_client {

enum class tab_rule
{
    control, // a tab counts as a control character
    allowed, // a tab is whitespace
};

constexpr bool is_control(char c, tab_rule tabs)
{
    constexpr unsigned char kFirstPrintable = 0x20;
    constexpr unsigned char kDelete = 0x7f;
    const auto byte = static_cast<unsigned char>(c);
    if (c == '\t')
        return tabs == tab_rule::control;
    return byte < kFirstPrintable || byte == kDelete;
}

constexpr bool holds_control(std::string_view text, tab_rule tabs)
{
    return std::any_of(text.begin(), text.end(), [tabs](char c) { return is_control(c, tabs); });
}

} // namespace http_client
