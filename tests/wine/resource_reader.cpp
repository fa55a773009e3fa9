#include "resource_reader.h"

#include <stdexcept>

namespace {

constexpr std::uint16_t kOrdinalMarker = 0xFFFF;
constexpr std::uint16_t kDialogType = 5;
constexpr std::uint32_t kSetFontStyle = 0x40;
constexpr std::uint32_t kSubdirectoryFlag = 0x80000000u;

class ByteReader {
public:
    explicit ByteReader(const std::vector<std::uint8_t>& bytes, std::size_t position = 0)
        : bytes_(bytes), position_(position) {}

    std::size_t position() const { return position_; }
    void Seek(std::size_t position) {
        if (position > bytes_.size()) {
            throw std::out_of_range("seek past the end");
        }
        position_ = position;
    }
    void AlignTo(std::size_t alignment) {
        Seek((position_ + alignment - 1) / alignment * alignment);
    }

    std::uint8_t U8() {
        if (position_ >= bytes_.size()) {
            throw std::out_of_range("read past the end");
        }
        return bytes_[position_++];
    }
    std::uint16_t U16() {
        const std::uint16_t low = U8();
        return static_cast<std::uint16_t>(low | (U8() << 8));
    }
    std::int16_t I16() { return static_cast<std::int16_t>(U16()); }
    std::uint32_t U32() {
        const std::uint32_t low = U16();
        return low | (static_cast<std::uint32_t>(U16()) << 16);
    }

    // A NUL-terminated UTF-16 string; the templates here hold only ASCII.
    std::string WideString() {
        std::string text;
        for (std::uint16_t unit = U16(); unit != 0; unit = U16()) {
            text.push_back(unit < 0x80 ? static_cast<char>(unit) : '?');
        }
        return text;
    }

    // A name-or-ordinal field: 0 for none, 0xFFFF and an ordinal, or a string.
    struct NameOrOrdinal {
        bool present = false;
        bool isOrdinal = false;
        std::uint16_t ordinal = 0;
        std::string name;
    };
    NameOrOrdinal NameOrOrdinalField() {
        NameOrOrdinal field;
        const std::uint16_t first = U16();
        if (first == 0) {
            return field;
        }
        field.present = true;
        if (first == kOrdinalMarker) {
            field.isOrdinal = true;
            field.ordinal = U16();
            return field;
        }
        Seek(position_ - 2);
        field.name = WideString();
        return field;
    }

    std::vector<std::uint8_t> Bytes(std::size_t count) {
        if (count > bytes_.size() - position_) {
            throw std::out_of_range("block past the end");
        }
        std::vector<std::uint8_t> block(bytes_.begin() + position_,
                                        bytes_.begin() + position_ + count);
        position_ += count;
        return block;
    }

private:
    const std::vector<std::uint8_t>& bytes_;
    std::size_t position_;
};

// One level of a PE resource directory: the entry matching `id` (any entry
// when id is negative), as its raw offset word, or nothing.
std::optional<std::uint32_t> FindDirectoryEntry(ByteReader& reader, std::size_t directory,
                                                int id) {
    reader.Seek(directory + 12);
    const unsigned named = reader.U16();
    const unsigned numbered = reader.U16();
    for (unsigned entry = 0; entry < named + numbered; ++entry) {
        const std::uint32_t name = reader.U32();
        const std::uint32_t offset = reader.U32();
        if (id < 0 || (!(name & kSubdirectoryFlag) && name == static_cast<std::uint32_t>(id))) {
            return offset;
        }
    }
    return std::nullopt;
}

}  // namespace

CompiledDialog ParseDialogTemplate(const std::vector<std::uint8_t>& bytes) {
    ByteReader reader(bytes);
    CompiledDialog dialog;
    dialog.style = reader.U32();
    dialog.extendedStyle = reader.U32();
    const unsigned count = reader.U16();
    dialog.x = reader.I16();
    dialog.y = reader.I16();
    dialog.cx = reader.I16();
    dialog.cy = reader.I16();
    dialog.hasMenu = reader.NameOrOrdinalField().present;
    dialog.hasClass = reader.NameOrOrdinalField().present;
    dialog.caption = reader.WideString();
    if (dialog.style & kSetFontStyle) {
        dialog.pointSize = reader.U16();
        dialog.fontName = reader.WideString();
    }
    for (unsigned item = 0; item < count; ++item) {
        reader.AlignTo(4);
        CompiledControl control;
        control.style = reader.U32();
        control.extendedStyle = reader.U32();
        control.x = reader.I16();
        control.y = reader.I16();
        control.cx = reader.I16();
        control.cy = reader.I16();
        control.id = reader.U16();
        const auto windowClass = reader.NameOrOrdinalField();
        control.classIsOrdinal = windowClass.isOrdinal;
        control.classOrdinal = windowClass.ordinal;
        control.className = windowClass.name;
        const auto caption = reader.NameOrOrdinalField();
        if (caption.isOrdinal) {
            throw std::out_of_range("a caption given by ordinal is not text");
        }
        control.caption = caption.name;
        control.creationDataSize = reader.U16();
        reader.Bytes(control.creationDataSize);
        dialog.controls.push_back(control);
    }
    return dialog;
}

std::optional<std::vector<std::uint8_t>> FindDialogInResFile(
    const std::vector<std::uint8_t>& res, int id) {
    ByteReader reader(res);
    while (reader.position() < res.size()) {
        const std::size_t start = reader.position();
        const std::uint32_t dataSize = reader.U32();
        const std::uint32_t headerSize = reader.U32();
        const auto type = reader.NameOrOrdinalField();
        const auto name = reader.NameOrOrdinalField();
        reader.Seek(start + headerSize);
        std::vector<std::uint8_t> data = reader.Bytes(dataSize);
        reader.AlignTo(4);
        if (type.isOrdinal && type.ordinal == kDialogType && name.isOrdinal &&
            name.ordinal == id) {
            return data;
        }
    }
    return std::nullopt;
}

std::optional<std::vector<std::uint8_t>> FindDialogInPortableExecutable(
    const std::vector<std::uint8_t>& image, int id) {
    ByteReader reader(image);
    reader.Seek(0x3C);
    const std::size_t peHeader = reader.U32();
    reader.Seek(peHeader);
    if (reader.U32() != 0x00004550) {  // "PE\0\0"
        throw std::out_of_range("not a PE image");
    }
    reader.Seek(peHeader + 6);
    const unsigned sections = reader.U16();
    reader.Seek(peHeader + 20);
    const unsigned optionalHeaderSize = reader.U16();
    const std::size_t optionalHeader = peHeader + 24;
    reader.Seek(optionalHeader);
    if (reader.U16() != 0x010B) {
        throw std::out_of_range("not a 32-bit PE image");
    }
    constexpr std::size_t kResourceDirectoryEntry = 96 + 2 * 8;
    reader.Seek(optionalHeader + kResourceDirectoryEntry);
    const std::uint32_t resourceRva = reader.U32();
    if (resourceRva == 0) {
        return std::nullopt;
    }

    // Relative virtual addresses to file offsets through the section table.
    const std::size_t sectionTable = optionalHeader + optionalHeaderSize;
    auto fileOffset = [&](std::uint32_t rva) -> std::size_t {
        ByteReader table(image, 0);
        for (unsigned section = 0; section < sections; ++section) {
            table.Seek(sectionTable + section * 40 + 8);
            const std::uint32_t virtualSize = table.U32();
            const std::uint32_t virtualAddress = table.U32();
            const std::uint32_t rawSize = table.U32();
            const std::uint32_t rawOffset = table.U32();
            const std::uint32_t extent = virtualSize > rawSize ? virtualSize : rawSize;
            if (rva >= virtualAddress && rva < virtualAddress + extent) {
                return rawOffset + (rva - virtualAddress);
            }
        }
        throw std::out_of_range("address outside every section");
    };

    const std::size_t root = fileOffset(resourceRva);
    std::size_t directory = root;
    for (int level : {static_cast<int>(kDialogType), id, -1}) {
        const auto entry = FindDirectoryEntry(reader, directory, level);
        if (!entry) {
            return std::nullopt;
        }
        const bool isSubdirectory = (*entry & kSubdirectoryFlag) != 0;
        const std::size_t target = root + (*entry & ~kSubdirectoryFlag);
        if (level >= 0) {
            if (!isSubdirectory) {
                throw std::out_of_range("resource tree ends early");
            }
            directory = target;
            continue;
        }
        if (isSubdirectory) {
            throw std::out_of_range("resource tree too deep");
        }
        reader.Seek(target);
        const std::uint32_t dataRva = reader.U32();
        const std::uint32_t dataSize = reader.U32();
        reader.Seek(fileOffset(dataRva));
        return reader.Bytes(dataSize);
    }
    return std::nullopt;
}
