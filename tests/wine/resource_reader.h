// Reads dialog templates out of compiled resources: windres' .res output and
// the resource section of a 32-bit PE module. Every read is bounds-checked;
// damaged input throws std::out_of_range.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct CompiledControl {
    std::uint32_t style = 0;
    std::uint32_t extendedStyle = 0;
    std::int16_t x = 0, y = 0, cx = 0, cy = 0;
    std::uint16_t id = 0;
    bool classIsOrdinal = false;
    std::uint16_t classOrdinal = 0;
    std::string className;
    std::string caption;
    std::uint16_t creationDataSize = 0;
};

struct CompiledDialog {
    std::uint32_t style = 0;
    std::uint32_t extendedStyle = 0;
    std::int16_t x = 0, y = 0, cx = 0, cy = 0;
    bool hasMenu = false;
    bool hasClass = false;
    std::string caption;
    std::uint16_t pointSize = 0;
    std::string fontName;
    std::vector<CompiledControl> controls;
};

// A classic DLGTEMPLATE with its items (not the extended form).
CompiledDialog ParseDialogTemplate(const std::vector<std::uint8_t>& bytes);

// The bytes of dialog resource `id` (any language), or nothing.
std::optional<std::vector<std::uint8_t>> FindDialogInResFile(
    const std::vector<std::uint8_t>& res, int id);
std::optional<std::vector<std::uint8_t>> FindDialogInPortableExecutable(
    const std::vector<std::uint8_t>& image, int id);
