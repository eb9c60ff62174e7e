// corvella-editor-shot: renders one page of the editor off-screen (no display) to a PNG file.
//
//   corvella-editor-shot [--page PATH] [--scheme N] [--scale S] [--bank FILE --program N]
//                        [--set KEY=VALUE]... OUTPUT.png
//   corvella-editor-shot --list-pages
//   corvella-editor-shot [--page PATH] --locate KEY
//
// --locate prints where the control bound to KEY sits on the page, "X Y WIDTH HEIGHT" in window
// units at scale 1 (for tests and scripts that drive the real window).
//
// PATH is the tab labels from the top joined by "/" ("IR1 EQ/1-5", "Chorus/IR2").

#include "editor/editor_view.h"
#include "editor/in_process_editor_host.h"
#include "editor/ui/offscreen.h"
#include "editor/ui/value_control.h"
#include "host/demogain_parameters.h"
#include "host/in_process_host.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <utility>
#include <vector>

namespace {

int usage()
{
    std::cerr << "usage: corvella-editor-shot [--page PATH] [--scheme N] [--scale S] [--bank FILE --program N]\n"
                 "                            [--set KEY=VALUE]... OUTPUT.png\n"
                 "       corvella-editor-shot --list-pages\n"
                 "       corvella-editor-shot [--page PATH] --locate KEY\n";
    return 2;
}

bool parse_double(std::string const& text, double& out)
{
    char* end = nullptr;
    out = std::strtod(text.c_str(), &end);
    return end != text.c_str() && *end == '\0';
}

} // namespace

int main(int argc, char** argv)
{
    using namespace corvella;
    std::string page, bank, output, locate;
    int scheme = 0, program = -1;
    double scale = 1.0;
    bool list = false;
    std::vector<std::pair<std::string, float>> sets;

    for (int i = 1; i < argc; ++i) {
        std::string const arg = argv[i];
        auto value = [&](std::string& out) {
            if (i + 1 >= argc) return false;
            out = argv[++i];
            return true;
        };
        std::string v;
        double d = 0;
        if (arg == "--list-pages") {
            list = true;
        } else if (arg == "--locate") {
            if (!value(locate)) return usage();
        } else if (arg == "--page") {
            if (!value(page)) return usage();
        } else if (arg == "--scheme") {
            if (!value(v) || !parse_double(v, d) || d < 0 || d > 8) return usage();
            scheme = static_cast<int>(d);
        } else if (arg == "--scale") {
            if (!value(v) || !parse_double(v, scale) || scale < 0.5 || scale > 4) return usage();
        } else if (arg == "--bank") {
            if (!value(bank)) return usage();
        } else if (arg == "--program") {
            if (!value(v) || !parse_double(v, d) || d < 0 || d > 47) return usage();
            program = static_cast<int>(d);
        } else if (arg == "--set") {
            if (!value(v)) return usage();
            std::size_t const eq = v.find('=');
            if (eq == std::string::npos || !parse_double(v.substr(eq + 1), d)) return usage();
            sets.emplace_back(v.substr(0, eq), static_cast<float>(d));
        } else if (!arg.empty() && arg[0] == '-') {
            return usage();
        } else if (output.empty()) {
            output = arg;
        } else {
            return usage();
        }
    }
    if (!list && locate.empty() && output.empty()) return usage();

    host::InProcessHost host;
    host.create_instance(host::Variant::stereo_to_stereo, 48000.0);
    if (!bank.empty()) {
        if (!host.set_custom_data(custom_data::load_bank_file, bank.c_str(), bank.size() + 1)) {
            std::cerr << "corvella-editor-shot: cannot load bank " << bank << "\n";
            return 1;
        }
    }
    if (program >= 0) {
        std::int32_t const index = program;
        host.set_custom_data(custom_data::current_program, &index, 4);
    }
    for (auto const& [key, value] : sets) {
        // As the editor does: the middle state of an STS switch goes into the program directly.
        bool const known = editor::host_parameter_holds(key, value)
                               ? host.set_parameter(key, value)
                               : host.parameters().assign_parameter_float_value(key.c_str(), value, true);
        if (!known) {
            std::cerr << "corvella-editor-shot: unknown parameter " << key << "\n";
            return 1;
        }
    }
    host.wait_until_idle();
    host.wake_up(); // the status block after the last build

    editor::InProcessEditorHost editor_host(host);
    editor::EditorOptions options;
    options.colour_scheme = scheme;
    editor::CEditorView view(editor_host, options);
    if (list) {
        for (auto const& path : view.page_paths()) std::cout << path << "\n";
        return 0;
    }
    if (!page.empty() && !view.select_page(page)) {
        std::cerr << "corvella-editor-shot: no page " << page << " (see --list-pages)\n";
        return 1;
    }
    view.update_all_elements();
    if (!locate.empty()) {
        ui::CValueControl* control = view.control(locate, page);
        if (control == nullptr || !control->shown()) {
            std::cerr << "corvella-editor-shot: no control for " << locate << " on this page\n";
            return 1;
        }
        ui::Rect const r = control->to_root(control->bounds());
        std::cout << r.x << " " << r.y << " " << r.w << " " << r.h << "\n";
        return 0;
    }
    if (!ui::write_png(view.root(), scale, output)) {
        std::cerr << "corvella-editor-shot: cannot write " << output << "\n";
        return 1;
    }
    return 0;
}
