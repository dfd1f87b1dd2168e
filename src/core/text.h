#pragma once
// Text as file systems store it, decoded to UTF-8.
#include <cstdint>
#include <string>
#include <vector>

namespace tsn {

// One code point as UTF-8.
void AppendUtf8(std::string& out, std::uint32_t codePoint);
// UTF-16 units up to the first 0, surrogate pairs joined; a lone surrogate
// becomes U+FFFD.
std::string Utf16ToUtf8(const std::vector<std::uint16_t>& units);
// One byte of code page 437, the character set of 8.3 names.
void AppendCp437(std::string& out, std::uint8_t byte);

}  // namespace tsn
