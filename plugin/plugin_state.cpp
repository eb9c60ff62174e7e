#include "plugin/plugin_state.h"

namespace corvella::plugin {

namespace {

constexpr char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int sextet(char c)
{
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

} // namespace

std::string encode_base64(std::uint8_t const* data, std::size_t size)
{
    std::string text;
    text.reserve((size + 2) / 3 * 4);
    std::size_t i = 0;
    for (; i + 3 <= size; i += 3) {
        std::uint32_t const v =
            (std::uint32_t{data[i]} << 16) | (std::uint32_t{data[i + 1]} << 8) | data[i + 2];
        text += alphabet[(v >> 18) & 63];
        text += alphabet[(v >> 12) & 63];
        text += alphabet[(v >> 6) & 63];
        text += alphabet[v & 63];
    }
    if (std::size_t const rest = size - i; rest != 0) {
        std::uint32_t v = std::uint32_t{data[i]} << 16;
        if (rest == 2) v |= std::uint32_t{data[i + 1]} << 8;
        text += alphabet[(v >> 18) & 63];
        text += alphabet[(v >> 12) & 63];
        text += rest == 2 ? alphabet[(v >> 6) & 63] : '=';
        text += '=';
    }
    return text;
}

std::optional<std::vector<std::uint8_t>> decode_base64(std::string_view text)
{
    if (text.size() % 4 != 0) return std::nullopt;
    std::vector<std::uint8_t> bytes;
    bytes.reserve(text.size() / 4 * 3);
    for (std::size_t i = 0; i < text.size(); i += 4) {
        bool const last = i + 4 == text.size();
        int const a = sextet(text[i]);
        int const b = sextet(text[i + 1]);
        int c = sextet(text[i + 2]);
        int d = sextet(text[i + 3]);
        int padding = 0;
        if (last && text[i + 3] == '=') {
            padding = 1;
            d = 0;
            if (text[i + 2] == '=') {
                padding = 2;
                c = 0;
            }
        }
        if (a < 0 || b < 0 || c < 0 || d < 0) return std::nullopt;
        std::uint32_t const v =
            (std::uint32_t(a) << 18) | (std::uint32_t(b) << 12) | (std::uint32_t(c) << 6) | std::uint32_t(d);
        // Bits below the last encoded byte must be zero, or the text is not canonical base64.
        if ((padding == 2 && (v & 0xFFFF) != 0) || (padding == 1 && (v & 0xFF) != 0)) return std::nullopt;
        bytes.push_back(static_cast<std::uint8_t>(v >> 16));
        if (padding < 2) bytes.push_back(static_cast<std::uint8_t>(v >> 8));
        if (padding < 1) bytes.push_back(static_cast<std::uint8_t>(v));
    }
    return bytes;
}

} // namespace corvella::plugin
