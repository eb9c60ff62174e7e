#include "host/lv2_preset_export.h"

#include "plugin/DistrhoPluginInfo.h"
#include "program/parameter_application.h"
#include "program/parameter_table.h"
#include "program/program_sanitise.h"
#include "platform/atomic_file.h"

#include <fcntl.h>
#include <stdio.h> // renameat2
#include <stdlib.h> // mkdtemp
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <system_error>

namespace corvella {

namespace {

constexpr char plugin_uri[] = DISTRHO_PLUGIN_URI;
constexpr char private_state_prefix[] = "urn:distrho:"; // the LV2 binding's prefix for private keys
constexpr char selector_key[] = "automated_prog_num_sel";

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

bool unreserved(unsigned char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' || c == '_' || c == '~';
}

// A port value that reads back as the same float, always with a fraction or an exponent so that
// hosts take it as a floating-point value rather than an integer.
std::string number_text(float value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.9g", static_cast<double>(value));
    std::string result = text;
    if (result.find_first_of(".e") == std::string::npos) result += ".0";
    return result;
}

std::string text_of(char const* field, std::size_t size)
{
    return std::string(field, strnlen(field, size));
}

constexpr char prefixes[] = "@prefix lv2:   <http://lv2plug.in/ns/lv2core#> .\n"
                            "@prefix pset:  <http://lv2plug.in/ns/ext/presets#> .\n"
                            "@prefix rdfs:  <http://www.w3.org/2000/01/rdf-schema#> .\n"
                            "@prefix state: <http://lv2plug.in/ns/ext/state#> .\n\n";

std::string stem_for_file_name(std::string const& text)
{
    std::string name;
    for (unsigned char c : text)
        name += unreserved(c) && c != '~' ? static_cast<char>(c) : '_';
    return name;
}

std::string two_digits(int slot)
{
    char text[16];
    std::snprintf(text, sizeof text, "%02d", slot);
    return text;
}

} // namespace

std::string lv2_state_key_uri(char const* key, bool host_readable)
{
    return (host_readable ? std::string(plugin_uri) + "#" : std::string(private_state_prefix)) + key;
}

float selector_value_of_program(int slot)
{
    return (static_cast<float>(slot) + 0.5f) / static_cast<float>(programs_per_bank);
}

std::string encode_base64(std::uint8_t const* data, std::size_t size)
{
    std::string text;
    text.reserve((size + 2) / 3 * 4);
    std::size_t i = 0;
    for (; i + 3 <= size; i += 3) {
        std::uint32_t const v = (std::uint32_t{data[i]} << 16) | (std::uint32_t{data[i + 1]} << 8) | data[i + 2];
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

std::string turtle_string(std::string_view text)
{
    std::string literal = "\"";
    for (unsigned char c : text) {
        switch (c) {
        case '"': literal += "\\\""; break;
        case '\\': literal += "\\\\"; break;
        case '\n': literal += "\\n"; break;
        case '\r': literal += "\\r"; break;
        case '\t': literal += "\\t"; break;
        default:
            if (c < 0x20 || c == 0x7f) {
                char escape[16];
                std::snprintf(escape, sizeof escape, "\\u%04X", c);
                literal += escape;
            } else {
                literal += static_cast<char>(c);
            }
        }
    }
    return literal + "\"";
}

std::string file_iri(std::string_view path)
{
    std::string iri = "file://";
    for (unsigned char c : path) {
        if (unreserved(c) || c == '/') {
            iri += static_cast<char>(c);
        } else {
            char escape[4];
            std::snprintf(escape, sizeof escape, "%%%02X", c);
            iri += escape;
        }
    }
    return iri;
}

std::string lv2_preset_turtle(Lv2Preset const& preset, std::string const& subject)
{
    std::string text = "<" + subject + ">\n    a pset:Preset ;\n    lv2:appliesTo <" + plugin_uri + "> ;\n";
    text += "    rdfs:label " + turtle_string(preset.label);
    for (std::size_t i = 0; i < preset.ports.size(); ++i) {
        text += i == 0 ? " ;\n    lv2:port [\n" : " , [\n";
        text += "        lv2:symbol " + turtle_string(preset.ports[i].first) + " ;\n";
        text += "        pset:value " + number_text(preset.ports[i].second) + "\n    ]";
    }
    if (!preset.state.empty()) {
        text += " ;\n    state:state [\n";
        for (std::size_t i = 0; i < preset.state.size(); ++i) {
            Lv2PresetState const& entry = preset.state[i];
            text += "        <" + entry.key_uri + "> ";
            if (entry.is_path)
                text.append("<").append(file_iri(entry.value)).append(">");
            else
                text += turtle_string(entry.value);
            text += i + 1 < preset.state.size() ? " ;\n" : "\n";
        }
        text += "    ]";
    }
    return text + " .\n";
}

Lv2Preset lv2_preset_of_program(VST_Plugin_Program const* bank, int slot)
{
    VST_Plugin_Program const& program = bank[slot];
    Lv2Preset preset;
    preset.label = text_of(program.name, sizeof program.name);
    if (preset.label.empty()) preset.label = "Program " + std::to_string(slot);
    preset.file_name = two_digits(slot) + "-" + stem_for_file_name(preset.label) + ".ttl";

    // The values as the plug-in reports them with this program current (the master gain and mix
    // follow the bank's locks, which live in record 0).
    // A bank file is outside data: its values are brought into range first, as the plug-in does
    // when it takes the record, so that no port carries NaN or a value outside 0..1.
    auto view = std::make_unique<VST_Plugin_Program[]>(programs_per_bank);
    std::memcpy(static_cast<void*>(view.get()), bank, bank_size_bytes);
    for (int s = 0; s < programs_per_bank; ++s)
        sanitise_program_values(view[s]);
    view[0].current_program = slot;
    for (ParameterRow const& row : parameter_table())
        if (std::strcmp(row.key, selector_key) != 0)
            preset.ports.emplace_back(row.key, static_cast<float>(read_parameter_value(view.get(), row.key)));

    auto const* bytes = reinterpret_cast<std::uint8_t const*>(&program);
    preset.state.push_back({lv2_state_key_uri(program_record_state_key, false),
                            encode_base64(bytes, sizeof program), false});
    char const* const paths[4] = {program.ir1_file_a, program.ir1_file_b, program.ir2_file_a, program.ir2_file_b};
    for (std::size_t i = 0; i < 4; ++i) {
        std::string const path = text_of(paths[i], program_path_size);
        if (!path.empty()) preset.state.push_back({lv2_state_key_uri(ir_file_state_keys[i], true), path, true});
    }
    return preset;
}

std::string lv2_program_list_turtle(std::vector<std::string> const& names)
{
    std::string text = prefixes;
    for (std::size_t i = 0; i < names.size(); ++i) {
        Lv2Preset preset;
        preset.label = names[i];
        int const slot = static_cast<int>(i);
        preset.ports.emplace_back(selector_key, selector_value_of_program(slot));
        preset.state.push_back({lv2_state_key_uri(program_state_key, false), std::to_string(slot), false});
        char number[16];
        std::snprintf(number, sizeof number, "%03d", slot + 1);
        text += lv2_preset_turtle(preset, std::string(plugin_uri) + "#preset" + number) + "\n";
    }
    return text;
}

std::string lv2_preset_bundle_name(std::filesystem::path const& bank_file, std::optional<int> slot)
{
    std::string name = "corvella-" + stem_for_file_name(bank_file.stem().string());
    if (slot) name.append("-").append(two_digits(*slot));
    return name + ".preset.lv2";
}

bool write_lv2_preset_bundle(std::filesystem::path const& bundle, std::vector<Lv2Preset> const& presets,
                             std::string& error)
{
    namespace fs = std::filesystem;
    error.clear();
    fs::path const parent = bundle.parent_path().empty() ? fs::path(".") : bundle.parent_path();
    std::error_code ec;
    fs::create_directories(parent, ec);
    if (ec) {
        error = "cannot create " + parent.string() + ": " + ec.message();
        return false;
    }
    std::string pattern = (parent / ("." + bundle.filename().string() + ".tmp-XXXXXX")).string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        error = "cannot create a folder in " + parent.string() + ": " + std::strerror(errno);
        return false;
    }
    fs::path const temporary = pattern;
    auto give_up = [&](std::string const& why) {
        error = why;
        fs::remove_all(temporary, ec);
        return false;
    };
    // mkdtemp makes the folder private; a bundle is read by every host the user runs.
    ::chmod(temporary.c_str(), 0755);

    std::string manifest = prefixes;
    for (Lv2Preset const& preset : presets) {
        Lv2Preset entry;
        entry.label = preset.label;
        std::string described = lv2_preset_turtle(entry, preset.file_name);
        described.insert(described.size() - 3, " ;\n    rdfs:seeAlso <" + preset.file_name + ">");
        manifest += described + "\n";
        std::string why;
        if (!write_file_durably(temporary / preset.file_name, prefixes + lv2_preset_turtle(preset, ""), why))
            return give_up("cannot write " + (bundle / preset.file_name).string());
    }
    std::string why;
    if (!write_file_durably(temporary / "manifest.ttl", manifest, why))
        return give_up("cannot write " + (bundle / "manifest.ttl").string());

    // Into place in one rename; the old bundle goes only once the new one is there.
    if (!replace_folder_atomically(temporary, bundle, why)) {
        error = why;
        return false;
    }
    return true;
}

} // namespace corvella
