// Writes the fuzz targets' seed corpora: a few cases per target that reach
// its interesting paths at once (each value in the order the target reads
// it), so short runs start from meaningful inputs. Run by the build:
//   seed_corpus_writer OUTPUT_FOLDER
// The overlay source's seeds are small clips that the build makes with the
// ffmpeg program.
#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

extern "C" {
#include <libavutil/pixfmt.h>
}

namespace {

class Seed {
public:
    Seed& U8(std::uint8_t value) { return Raw(&value, 1); }
    Seed& U32(std::uint32_t value) { return Raw(&value, 4); }
    Seed& I32(std::int32_t value) { return Raw(&value, 4); }
    Seed& I64(std::int64_t value) { return Raw(&value, 8); }
    // A value that FuzzInput::ReadBetween(low, high) reads back as `value`.
    Seed& Between(std::int64_t low, std::int64_t value) {
        return U32(static_cast<std::uint32_t>(value - low));
    }
    Seed& Text(const std::string& text) { return Raw(text.data(), text.size()); }
    Seed& Raw(const void* data, std::size_t size) {
        const auto* bytes = static_cast<const std::uint8_t*>(data);
        bytes_.insert(bytes_.end(), bytes, bytes + size);
        return *this;
    }
    const std::vector<std::uint8_t>& bytes() const { return bytes_; }

private:
    std::vector<std::uint8_t> bytes_;
};

bool Write(const std::string& folder, const std::string& name, const Seed& seed) {
    mkdir(folder.c_str(), 0777);
    const std::string path = folder + "/" + name;
    FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        std::perror(path.c_str());
        return false;
    }
    std::fwrite(seed.bytes().data(), 1, seed.bytes().size(), file);
    return std::fclose(file) == 0;
}

// Coordinates as the bitmap fuzzer reads them: a small value.
Seed& Small(Seed& seed, int value) { return seed.U8(0).Between(-30, value); }

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: seed_corpus_writer OUTPUT_FOLDER\n");
        return 2;
    }
    const std::string root = argv[1];
    mkdir(root.c_str(), 0777);
    bool ok = true;

    // Mask text: four bytes of scan capacity, then the text.
    const std::string mask = root + "/mask_text";
    const char* maskTexts[] = {"10 20 110 220", "10 20 w100 h50", "-5 0 h3 w9",
                               "2147483647 -2147483648 w1 h1", "  +7\t-8 w0 h-3",
                               "1 2 w99999999999 3", "00000000000000000000012 x"};
    for (std::size_t i = 0; i < sizeof maskTexts / sizeof maskTexts[0]; ++i) {
        const auto capacity = static_cast<std::uint32_t>(i * 5);
        ok &= Write(mask, "text-" + std::to_string(i), Seed().U32(capacity).Text(maskTexts[i]));
    }

    // Script lines.
    const std::string script = root + "/script_line";
    const char* lines[] = {"Config(10,20,110,220)", "Config( -1 , 2,3 ,4 );", "Config(1,2,3)",
                           "Other(1,2,3,4)", "Config(2147483648,0,0,0)", "Config(1,2,3,4) x"};
    for (std::size_t i = 0; i < sizeof lines / sizeof lines[0]; ++i) {
        ok &= Write(script, "line-" + std::to_string(i), Seed().Text(lines[i]));
    }

    // Command lines, NUL-separated.
    const std::string command = root + "/command_line";
    const std::vector<std::vector<std::string>> commandLines = {
        {"render", "main.mkv", "-o", "out.mkv", "--mask", "10,20,w100,h50", "--fit", "--bilinear"},
        {"render", "main.mkv", "-o", "out.mkv", "--mask", "9223372036854775807,0,w2,h1"},
        {"frame", "main.mkv", "--at", "3", "-o", "f.png", "--shadow", "gradient", "--range", "2-9"},
        {"render", "-", "--format", "null", "--max-pixels", "1000", "--strict"},
        {"render", "main.mkv", "-o", "out.mkv", "--border-color=#ff00ff", "--offset", "-4"},
        {"demo", "-o", "folder"},
    };
    for (std::size_t i = 0; i < commandLines.size(); ++i) {
        Seed seed;
        for (std::size_t k = 0; k < commandLines[i].size(); ++k) {
            if (k > 0) seed.U8(0);
            seed.Text(commandLines[i][k]);
        }
        ok &= Write(command, "line-" + std::to_string(i), seed);
    }

    // Bitmap operations: operation, destination (w, h, depth index,
    // misalignment), record (header size, w, h, depth index, colours), then
    // the operation's values and the record's bytes.
    const std::string bitmap = root + "/bitmap_operations";
    struct BitmapSeed {
        const char* name;
        int operation, recordWidth, recordHeight, depthIndex, colours, headerSize;
    };
    const BitmapSeed bitmapSeeds[] = {
        {"short-table-8bit", 0, 4, 1, 3, 2, 40},     {"short-table-4bit", 0, 9, 4, 2, 3, 40},
        {"misaligned-32bit", 0, 7, 5, 6, 0, 41},     {"top-down-24bit", 0, 6, -3, 5, 0, 43},
        {"one-bit", 0, 17, 2, 0, 1, 40},             {"stretch-misaligned", 2, 7, 5, 6, 0, 42},
        {"fill", 1, 0, 0, 6, 0, 40},
    };
    for (const BitmapSeed& s : bitmapSeeds) {
        Seed seed;
        seed.U8(static_cast<std::uint8_t>(s.operation));
        seed.Between(1, 9).Between(1, 6).Between(0, 0).Between(0, 1);
        seed.Between(40, s.headerSize).Between(-2, s.recordWidth).Between(-24, s.recordHeight)
            .Between(0, s.depthIndex).Between(0, s.colours);
        if (s.operation == 0) {
            Small(seed, 1); Small(seed, 0); Small(seed, 0); Small(seed, 0);
            seed.U8(200).Between(0, 4); seed.U8(200).Between(0, 4);  // dx = dy = -1
        } else if (s.operation == 1) {
            Small(seed, -2); Small(seed, 1); Small(seed, 5); Small(seed, 30);
            seed.U32(0x00123456);
        } else {
            Small(seed, 1); Small(seed, 1); Small(seed, 7); Small(seed, 4);
            seed.U8(0).Between(-400, 3).U8(0).Between(-400, 1).U8(0).Between(-400, 50)
                .U8(0).Between(-400, 37).U8(1);
        }
        for (int i = 0; i < 64; ++i) seed.U8(static_cast<std::uint8_t>(i * 37 + 11));
        ok &= Write(bitmap, s.name, seed);
    }

    // The run procedure: frame size, overlay flag, the served record, the
    // settings block, then frame numbers.
    const std::string run = root + "/run_proc";
    struct RunSeed {
        const char* name;
        int headerSize, width, height, depthIndex, colours;
        std::int32_t fit, bilinear;
    };
    const RunSeed runSeeds[] = {
        {"copy-short-table", 40, 4, 1, 3, 2, 0, 0},
        {"stretch-short-table", 40, 4, 3, 3, 2, 1, 1},
        {"misaligned-32bit-fit", 41, 9, 7, 6, 0, 1, 0},
        {"top-down-16bit", 42, 5, -6, 4, 0, 0, 0},
    };
    for (const RunSeed& s : runSeeds) {
        Seed seed;
        seed.Between(1, 17).Between(1, 12).U8(1);
        seed.Between(40, s.headerSize).Between(-4, s.width).Between(-40, s.height)
            .Between(0, s.depthIndex).U8(1).Between(0, s.colours).U8(1);
        // maskLeft..maskBottom, drag point, frame size, current frame, move
        // mode, fit, maintain black, editing, counter, range (3), repeat,
        // length, border (2), keep aspect, overlay size, offset, reverse,
        // bilinear; then shadow (5) and the two colours.
        seed.I32(2).I32(1).I32(13).I32(9).U32(0).I32(17).I32(12).I32(0).I32(0).I32(s.fit)
            .I32(0).I32(0).I32(0).I32(0).I32(0).I32(0).I32(1).I32(12).I32(1).I32(2).I32(0)
            .I32(s.width).I32(s.height).I32(0).I32(0).I32(s.bilinear);
        seed.I32(1).I32(3).I32(45).I32(2).I32(2).U32(0x000000).U32(0xFFFFFF);
        seed.Between(1, 3).U8(0).Between(-2, 0).U8(0).Between(-2, 5).U8(0).Between(-2, 11);
        ok &= Write(run, s.name, seed);
    }

    // The mask editor: frame size, modes, overlay size, stream flag, mask,
    // then steps of message, keys and position.
    const std::string preview = root + "/preview_editor";
    for (int move = 0; move < 2; ++move) {
        for (int aspect = 0; aspect < 2; ++aspect) {
            Seed seed;
            seed.Between(0, 320).Between(0, 240).U8(static_cast<std::uint8_t>(move))
                .U8(static_cast<std::uint8_t>(aspect));
            seed.U8(0).Between(-2, 160).U8(0).Between(-2, 90).U8(0);
            seed.U8(0).Between(-2, 10).U8(0).Between(-2, 10).U8(0).Between(-2, 60)
                .U8(0).Between(-2, 50);
            seed.Between(1, 4);
            const int steps[][3] = {{0, 30, 30}, {1, 400, -10}, {1, 5, 300}, {2, 5, 300}};
            for (const auto& step : steps) {
                seed.Between(0, step[0]).U8(1);
                seed.U8(0).Between(-20, step[1]).U8(0).Between(-20, step[2]);
            }
            ok &= Write(preview, "drag-move" + std::to_string(move) + "-aspect" +
                                     std::to_string(aspect), seed);
        }
    }
    // The picture converter: format, matrix, range and siting indexes, frame
    // size, each plane's padding and orientation, the rectangle, the output's
    // gap and orientation, the kind of words, the step (0 to BGRA, 1 and
    // back, 2 refusals), the write-back's choices, then the sample bytes.
    const std::string converter = root + "/picture_converter";
    struct ConverterSeed {
        const char* name;
        AVPixelFormat format;
        int planes, location, width, height;
        int x, y, rectWidth, rectHeight;
        int bottomUp, words, step;
        std::uint8_t fill;  // 0: a ramp instead of one repeated byte
    };
    const ConverterSeed converterSeeds[] = {
        {"gbrp10-all-ones", AV_PIX_FMT_GBRP10LE, 3, 0, 32, 24, 0, 0, 8, 8, 0, 0, 0, 0xFF},
        {"gray10-all-ones", AV_PIX_FMT_GRAY10LE, 1, 0, 32, 24, 0, 0, 8, 8, 0, 0, 0, 0xFF},
        {"yuv420p10-all-ones-back", AV_PIX_FMT_YUV420P10LE, 3, 1, 32, 24, 3, 1, 8, 8, 0, 0, 1, 0xFF},
        {"yuva444p12-mixed-chunk-end", AV_PIX_FMT_YUVA444P12LE, 4, 2, 300, 5, 250, 1, 50, 3, 0, 2,
         1, 0},
        {"yuv422p16-any-refusals", AV_PIX_FMT_YUV422P16LE, 3, 1, 40, 6, 3, 1, 9, 4, 0, 0, 2, 0},
        {"yuv411p-off-grid", AV_PIX_FMT_YUV411P, 3, 0, 37, 7, 5, 2, 6, 3, 0, 0, 2, 0},
        {"yuv440p12-bottom-up", AV_PIX_FMT_YUV440P12LE, 3, 4, 20, 9, 1, 1, 17, 7, 1, 2, 1, 0},
        {"ya8-back", AV_PIX_FMT_YA8, 1, 0, 9, 4, 1, 0, 7, 4, 0, 0, 1, 0},
        {"rgb24-bottom-up-back", AV_PIX_FMT_RGB24, 1, 0, 13, 3, 2, 0, 11, 3, 1, 0, 1, 0},
        {"gbrap16-within", AV_PIX_FMT_GBRAP16LE, 4, 0, 17, 3, 0, 0, 17, 3, 0, 1, 1, 0},
    };
    for (const ConverterSeed& s : converterSeeds) {
        Seed seed;
        seed.Raw(&s.format, 2);
        seed.Between(0, 1).Between(0, 0).Between(0, s.location);
        seed.Between(1, s.width).Between(1, s.height);
        for (int p = 0; p < s.planes; ++p) {
            seed.Between(0, 3 * p + 1).U8(s.bottomUp != 0 ? 4 : 1);
        }
        seed.Between(0, s.x).Between(0, s.y).Between(1, s.rectWidth).Between(1, s.rectHeight);
        seed.Between(0, 1).U8(static_cast<std::uint8_t>(s.bottomUp)).Between(0, s.words)
            .U8(static_cast<std::uint8_t>(s.step));
        seed.U8(0).Between(1, 3).U32(7);
        for (int i = 0; i < 96; ++i) {
            seed.U8(s.fill != 0 ? s.fill : static_cast<std::uint8_t>(i * 11 + 3));
        }
        ok &= Write(converter, s.name, seed);
    }
    // Settings files: the text itself.
    const std::string settings = root + "/settings_file";
    const char* settingsFiles[] = {
        R"({"format": "quillmere-settings", "version": 1, "overlay": "/clips/a.mp4",
            "mask": {"left": 10, "top": 20, "right": 330, "bottom": 260}, "fit": true,
            "border": {"on": true, "size": 4, "color": "#ffffff"}})",
        R"({"format": "quillmere-settings", "version": 1, "overlay": null,
            "placement": {"position": "top-left", "margin": "2.5%", "size": "x25%"},
            "shadow": {"on": true, "style": 4, "size": 12, "percent": 70, "shift": -3,
            "color": "navy"}, "scaler": "lanczos", "alpha": "premultiplied", "opacity": 40})",
        R"({"format": "quillmere-settings", "version": 1, "range": {"on": true, "start": 5,
            "end": 50}, "offset": -9, "repeat": true, "reverse": true, "maintainBlack": true,
            "timing": "frames", "keepAspect": true, "bilinear": true})",
    };
    for (std::size_t i = 0; i < sizeof settingsFiles / sizeof settingsFiles[0]; ++i) {
        ok &= Write(settings, "file" + std::to_string(i), Seed().Text(settingsFiles[i]));
    }
    // Nesting around the JSON reader's limit of 64: at it inside the mask,
    // past it as the version.
    const std::string deepMask = R"({"format": "quillmere-settings", "version": 1, "mask": )" +
                                 std::string(63, '[') + std::string(63, ']') + "}";
    const std::string deepVersion = R"({"format": "quillmere-settings", "version": )" +
                                    std::string(70, '[') + std::string(70, ']') + "}";
    ok &= Write(settings, "deep-mask", Seed().Text(deepMask));
    ok &= Write(settings, "deep-version", Seed().Text(deepVersion));

    // Requests to the page's server, as one connection's bytes.
    const std::string requests = root + "/page_request";
    const std::string requestTexts[] = {
        "GET / HTTP/1.1\r\nHost: a\r\n\r\nGET / HTTP/1.1\r\nConnection: close\r\n\r\n",
        "POST /json HTTP/1.1\r\nContent-Length: 13\r\n\r\n{\"a\": [1, 2]}",
        std::string("POST /json HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n") +
            "4\r\n{\"a\"\r\n3\r\n: 1\r\n1\r\n}\r\n0\r\n\r\nGET / HTTP/1.1\r\n\r\n",
        "POST /json HTTP/1.1\r\nExpect: 100-continue\r\nContent-Length: 2\r\n\r\n[]",
        "POST /json HTTP/1.1\r\n\r\n[[[[[[[[[[[[[[[[[[[[]]]]]]]]]]]]]]]]]]]]",
    };
    for (std::size_t i = 0; i < sizeof requestTexts / sizeof requestTexts[0]; ++i) {
        ok &= Write(requests, "request" + std::to_string(i), Seed().Text(requestTexts[i]));
    }
    // Past the fuzzer's budgets: headers over 128 bytes, a body over 256.
    std::string longHead = "GET / HTTP/1.1\r\n";
    std::string longBody = "POST /json HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n";
    for (int i = 0; i < 20; ++i) {
        longHead += "X-" + std::to_string(i) + ": 1\r\n";
        longBody += "10\r\n[[[[[[[[]]]]]]]]\r\n";
    }
    ok &= Write(requests, "long-head", Seed().Text(longHead + "\r\n"));
    ok &= Write(requests, "long-body", Seed().Text(longBody + "0\r\n\r\n"));
    return ok ? 0 : 1;
}
