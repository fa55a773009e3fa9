#include "apps/quillmere/cli/man_page.h"

#include <sstream>

#include "apps/quillmere/cli/command_line.h"
#include "apps/quillmere/cli/filter_settings.h"
#include "render/drop_shadow.h"

std::string RoffText(const std::string& text) {
    std::string escaped;
    for (char c : text) {
        if (c == '\\') {
            escaped += "\\e";
        } else if (c == '-') {
            escaped += "\\-";
        } else {
            escaped += c;
        }
    }
    // A line starting with a dot or a quote would be read as a request.
    if (!escaped.empty() && (escaped[0] == '.' || escaped[0] == '\'')) {
        escaped.insert(0, "\\&");
    }
    return escaped;
}

namespace {

std::string Bold(const std::string& text) { return "\\fB" + RoffText(text) + "\\fR"; }
std::string Italic(const std::string& text) { return "\\fI" + RoffText(text) + "\\fR"; }

std::string JoinedCommands(const std::vector<std::string>& commands) {
    std::string joined;
    for (std::size_t index = 0; index < commands.size(); ++index) {
        joined += index == 0 ? "" : index + 1 == commands.size() ? " and " : ", ";
        joined += commands[index];
    }
    return joined;
}

const char* const kExamples[][2] = {
    {"quillmere render main.mp4 -o out.mkv --overlay clip.avi --mask 480,270,w960,h540 --fit "
     "--bilinear --border 4 --shadow gradient",
     "Lays clip.avi, stretched with bilinear sampling, into a 960x540 rectangle at (480, 270) "
     "of every frame of main.mp4, with a 4-pixel white border and a graded shadow."},
    {"quillmere render talk.mp4 -o out.mkv --overlay guest.mp4 --fit --bilinear --key "
     "0=1200,80,w640,h360 --key 2s=1560,820,w320,h180:in-out",
     "Shows guest.mp4 640x360 at (1200, 80) on the first frame and moves and shrinks it to "
     "320x180 at (1560, 820) over two seconds, slow at both ends; between pixels, so the "
     "motion glides."},
    {"quillmere frame main.mp4 --at 120 -o check.png --overlay clip.avi --mask 10,10,330,250",
     "Writes frame 120 of the same kind of composite as a picture, to check the settings "
     "before a long render."},
    {"quillmere render main.mkv -o out.mp4 -y -q --progress - | grep ^frame=",
     "Replaces out.mp4 without asking and shows nothing but the progress blocks."},
    {"quillmere edit main.mp4 --overlay clip.avi -o out.mkv --settings look.json --open",
     "Opens a page in the browser that shows main.mp4 composited and places the overlay by "
     "dragging it; Save writes look.json, Render writes out.mkv."},
    {"quillmere render main.mp4 -o out.mkv --settings look.json --border 8",
     "Renders with the settings the page saved, but an 8-pixel border."},
    {"quillmere demo -o demo-output", "Renders the built-in demo: demo.mkv and demo.png."},
};

}  // namespace

std::string ManPage(const std::string& version) {
    std::ostringstream page;
    page << ".TH QUILLMERE 1 \"\" \"quillmere " << RoffText(version) << "\" \"User Commands\"\n"
         << ".SH NAME\n"
         << "quillmere \\- lay a second video into a rectangle of every frame of a video\n"
         << ".SH SYNOPSIS\n";
    for (const CommandDoc& command : CommandDocs()) {
        page << ".B quillmere " << RoffText(command.name) << "\n"
             << RoffText(command.synopsis) << "\n.br\n";
    }
    page << ".B quillmere\n" << RoffText("--help | --version") << "\n";

    page << ".SH DESCRIPTION\n"
         << RoffText("quillmere runs a video filter over the frames of a video file (MAIN): "
                     "it lays the frames of a second video into a rectangle (the mask) of "
                     "every frame, with a border, a soft drop shadow in six styles, 1:1 copy "
                     "or nearest/bilinear stretch, a frame range, offset, repeat, reverse and "
                     "a black placeholder. It reads and writes video files through FFmpeg's "
                     "libraries.")
         << "\n";
    for (const std::string& paragraph : DescriptionParagraphs()) {
        page << ".PP\n" << RoffText(paragraph) << "\n";
    }

    page << ".SH COMMANDS\n";
    for (const CommandDoc& command : CommandDocs()) {
        page << ".TP\n"
             << Bold(command.name) << " " << RoffText(command.synopsis) << "\n"
             << RoffText(command.summary) << ".\n";
    }

    page << ".SH OPTIONS\n";
    for (const OptionDoc& option : OptionDocs()) {
        page << ".TP\n";
        if (!option.shortName.empty()) {
            page << Bold(option.shortName) << ", ";
        }
        page << Bold(option.name);
        if (!option.valueName.empty()) {
            page << " " << Italic(option.valueName);
        }
        page << "\n" << RoffText(option.help) << ".";
        if (option.standalone) {
            page << " " << RoffText("Alone, or after any command.");
        } else if (!option.commands.empty()) {
            page << " " << RoffText("For " + JoinedCommands(option.commands) + ".");
        }
        page << "\n";
    }

    page << ".SH SHADOW STYLES\n";
    for (int style = 0; style < kShadowStyleCount; ++style) {
        page << ".TP\n"
             << Bold(std::to_string(style)) << ", " << Bold(kShadowStyleNames[style].name)
             << "\n"
             << RoffText(kShadowStyleNames[style].summary) << "\n";
    }

    page << ".SH COLOURS\n"
         << RoffText("--border-color and --shadow-color take RRGGBB, #RRGGBB or 0xRRGGBB in "
                     "hexadecimal (red, green, blue), or one of the 148 colour names of CSS, "
                     "in any letter case: white, black, red, navy, rebeccapurple and so on.")
         << "\n";

    page << ".SH FILES\n"
         << ".TP\n"
         << Italic(".OUT.part-XXXXXX") << "\n"
         << RoffText("The part file a run writes beside OUT and renames to OUT once complete. "
                     "An error or SIGINT, SIGTERM, SIGHUP or SIGQUIT removes it. A run killed "
                     "outright (SIGKILL, a crash) cannot; the next run to the same OUT removes "
                     "every such file that no living run holds locked.")
         << "\n";

    page << ".SH EXIT STATUS\n";
    for (const ExitStatusDoc& status : ExitStatusDocs()) {
        page << ".TP\n" << Bold(status.code) << "\n" << RoffText(status.meaning) << ".\n";
    }

    page << ".SH EXAMPLES\n";
    for (const auto& example : kExamples) {
        page << ".PP\n.nf\n" << RoffText(example[0]) << "\n.fi\n"
             << RoffText(example[1]) << "\n";
    }

    page << ".SH SEE ALSO\n"
         << ".BR ffmpeg (1),\n"
         << ".BR ffprobe (1)\n";
    return page.str();
}
